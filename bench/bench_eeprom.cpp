// The EEPROM programmer on the simulated adapter paced by the wall clock, as
// brantle-cli --sim runs it: 8 KiB written into a 24C64 (5 ms write cycle)
// at 400 kHz, with and without reading it back, and 8 KiB read. The
// counters give the transactions used and the simulated time, to hold
// against the part's own limit: 256 page writes of 35 bytes, 256 write
// cycles, and the bus time of a read.
#include "AdapterSession.h"
#include "EepromProgrammer.h"
#include "GenericUsbDriver.h"
#include "SimBench.h"
#include "SimUsbStack.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

struct Rig {
    Rig() {
        stack.setPacing(SimUsbStack::Pacing::WallClock);
        QString error;
        bench = SimBench::standard(QString());
        bench.plug(stack, AdapterSession::readFirmware(), &error);
        session = std::make_unique<AdapterSession>(driver);
        // The download and the chip's start-up are not what is measured.
        QByteArray warm = QByteArray::fromHex("000100120013A20014");
        session->transact(warm);
        timer.start();
    }
    EepromProgrammer programmer(int *transactions) {
        EepromPart part;
        EepromPart::parse(QStringLiteral("24C64"), &part, nullptr);
        return EepromProgrammer(
            part, 0x51, 1,
            [this, transactions](QByteArray &s) {
                ++*transactions;
                return session->transact(s);
            },
            [this] { return timer.nsecsElapsed(); });
    }
    SimUsbStack stack;
    GenericUsbDriver driver{stack};
    SimBench bench;
    std::unique_ptr<AdapterSession> session;
    QElapsedTimer timer;
};

QByteArray randomBytes(int n) {
    QByteArray bytes(n, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

void write8k(benchmark::State &state) {
    const bool verify = state.range(0) != 0;
    Rig rig;
    int transactions = 0;
    EepromProgrammer programmer = rig.programmer(&transactions);
    int64_t simNs = 0;
    for (auto _ : state) {
        const QByteArray data = randomBytes(8192);
        const int64_t before = rig.stack.nowNs();
        const auto result = programmer.write(0, data, verify);
        simNs += rig.stack.nowNs() - before;
        if (result.status != EepromProgrammer::Ok)
            state.SkipWithError(qPrintable(result.message));
    }
    state.counters["transactions"] =
        benchmark::Counter(transactions, benchmark::Counter::kAvgIterations);
    state.counters["sim_s"] =
        benchmark::Counter(double(simNs) / 1e9, benchmark::Counter::kAvgIterations);
}

void read8k(benchmark::State &state) {
    Rig rig;
    int transactions = 0;
    EepromProgrammer programmer = rig.programmer(&transactions);
    for (auto _ : state) {
        const auto result = programmer.read(0, 8192);
        if (result.status != EepromProgrammer::Ok)
            state.SkipWithError(qPrintable(result.message));
    }
    state.counters["transactions"] =
        benchmark::Counter(transactions, benchmark::Counter::kAvgIterations);
}

} // namespace

BENCHMARK(write8k)->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(read8k)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
