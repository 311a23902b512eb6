// scanStream over any stream and reply: it stays within the stream, throws
// only its own texts, counts the same placeholders with and without merging,
// and a merge changes nothing but placeholder bytes.

#include "FuzzInput.h"
#include "ScanStream.h"

#include <QString>

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput input(data, size);
    const QByteArray original = input.longPiece();
    const QByteArray reply = input.rest();

    QByteArray stream = original;
    int readCount = -1;
    try {
        scanStream(stream, false, &readCount, nullptr);
    } catch (const QString &e) {
        FUZZ_CHECK(e.startsWith(QLatin1String("Error: ")));
        FUZZ_CHECK(stream == original);
        return 0;
    }
    FUZZ_CHECK(stream == original);
    FUZZ_CHECK(readCount >= 0 && readCount <= original.size());

    // Exactly readCount reply bytes, as the transaction hands over, so that
    // AddressSanitizer sees a read past them.
    std::vector<unsigned char> answer(static_cast<size_t>(readCount));
    for (size_t i = 0; i < answer.size(); ++i)
        answer[i] = reply.isEmpty() ? 0x5A : uchar(reply.at(qsizetype(i % size_t(reply.size()))));
    int merged = -1;
    scanStream(stream, true, &merged, answer.data());
    FUZZ_CHECK(merged == readCount);
    FUZZ_CHECK(stream.size() == original.size());
    int changed = 0;
    for (qsizetype i = 0; i < stream.size(); ++i) {
        if (stream.at(i) != original.at(i)) {
            FUZZ_CHECK(uchar(original.at(i)) == 0xFF);
            ++changed;
        }
    }
    FUZZ_CHECK(changed <= readCount);
    return 0;
}
