// Cost of one send on the host: compile, count, merge and render, for scripts
// of growing size. The time per script byte should stay flat (linear cost).
#include "Brantle2.h"
#include "ScanStream.h"

#include <benchmark/benchmark.h>

namespace {

// EEPROM-style traffic: a write of an address, a read of 16 bytes, a wait and
// a comment, repeated until the text reaches `size` characters.
QString makeScript(int size) {
    const QString block =
        QStringLiteral("// page read\n"
                       "A2 00 10 , A3 FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF ;\n"
                       "[wait 0.5]\n"
                       "a2 00 20 12 34 56 78 ;\n");
    QString script;
    script.reserve(size + block.size());
    while (script.size() + block.size() <= size)
        script += block;
    return script;
}

void BM_Send(benchmark::State &state) {
    const QString script = makeScript(int(state.range(0)));
    QByteArray reply;
    for (auto _ : state) {
        Brantle2 converter;
        QString text = script;
        QByteArray stream;
        converter.convert(text, Brantle2::Compile, stream);
        int readCount = 0;
        scanStream(stream, false, &readCount, nullptr);
        reply.fill(char(0x5A), readCount + 1);
        scanStream(stream, true, &readCount,
                   reinterpret_cast<const unsigned char *>(reply.constData()));
        converter.convert(text, Brantle2::Render, stream);
        benchmark::DoNotOptimize(text.constData());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * script.size());
    state.counters["ns_per_byte"] =
        benchmark::Counter(double(state.iterations()) * script.size(),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

} // namespace

BENCHMARK(BM_Send)->Arg(1 << 10)->Arg(8 << 10)->Arg(64 << 10)->Arg(512 << 10)->Unit(
    benchmark::kMicrosecond);

BENCHMARK_MAIN();
