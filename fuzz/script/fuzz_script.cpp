// The script compiler in both modes: compile a fuzzed script, merge a fuzzed
// reply into the stream as the transaction does, render. A compiled stream is
// always well-formed; the rendered text has the script's length and differs
// from it only where byte tokens stand; compiling the rendered text gives the
// stream the script gave.

#include "Brantle2.h"
#include "FuzzInput.h"
#include "ScanStream.h"

namespace {

bool isHexDigit(QChar c) {
    const ushort u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'A' && u <= 'F') || (u >= 'a' && u <= 'f');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput input(data, size);
    const uint8_t flags = input.byte();
    const QByteArray raw = input.longPiece();
    const QByteArray reply = input.rest();
    const QString script = (flags & 2) ? QString::fromLatin1(raw) : QString::fromUtf8(raw);
    const int clock = flags & 1;

    Brantle2 converter;
    converter.clock = clock;
    QString text = script;
    QByteArray stream;
    try {
        converter.convert(text, Brantle2::Compile, stream);
    } catch (const ScriptParseError &e) {
        FUZZ_CHECK(e.index >= 0 && e.index <= script.size());
        FUZZ_CHECK(e.length >= 0 && e.index + qsizetype(e.length) <= script.size());
        FUZZ_CHECK(text == script);
        return 0;
    }
    FUZZ_CHECK(text == script);

    int readCount = -1;
    const QByteArray compiled = stream;
    scanStream(stream, false, &readCount, nullptr); // must not throw
    FUZZ_CHECK(readCount >= 0 && stream == compiled);

    QByteArray answer(readCount, char(0xFF));
    for (int i = 0; i < readCount && !reply.isEmpty(); ++i)
        answer[i] = reply.at(i % reply.size());
    int merged = -1;
    scanStream(stream, true, &merged, reinterpret_cast<const unsigned char *>(answer.constData()));
    FUZZ_CHECK(merged == readCount && stream.size() == compiled.size());

    converter.convert(text, Brantle2::Render, stream);
    FUZZ_CHECK(text.size() == script.size());
    for (qsizetype i = 0; i < text.size(); ++i)
        FUZZ_CHECK(text.at(i) == script.at(i) ||
                   (isHexDigit(text.at(i)) && isHexDigit(script.at(i))));

    Brantle2 again;
    again.clock = clock;
    QString renderedCopy = text;
    QByteArray recompiled;
    again.convert(renderedCopy, Brantle2::Compile, recompiled);
    FUZZ_CHECK(recompiled == compiled);
    return 0;
}
