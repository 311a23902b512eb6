#ifndef BRANTLE_FUZZ_FUZZINPUT_H
#define BRANTLE_FUZZ_FUZZINPUT_H

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Takes a fuzzer's input apart front to back; once it runs out every read
// gives zeroes, so a target never needs to check what is left.
class FuzzInput {
public:
    FuzzInput(const uint8_t *data, size_t size) : m_data(data), m_size(size) {}

    size_t left() const { return m_size - m_at; }
    bool empty() const { return left() == 0; }

    uint8_t byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    uint16_t word() {
        const uint16_t lo = byte();
        return uint16_t(lo | byte() << 8);
    }
    // Up to `n` bytes (fewer when the input ends first).
    QByteArray bytes(size_t n) {
        if (n > left())
            n = left();
        QByteArray out(reinterpret_cast<const char *>(m_data + m_at), qsizetype(n));
        m_at += n;
        return out;
    }
    // A piece with a one-byte length in front.
    QByteArray piece() { return bytes(byte()); }
    // A piece with a two-byte length in front.
    QByteArray longPiece() { return bytes(word()); }
    QByteArray rest() { return bytes(left()); }

private:
    const uint8_t *m_data;
    size_t m_size;
    size_t m_at = 0;
};

// A broken property: abort, so libFuzzer keeps the input and a replay fails.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);          \
            abort();                                                                               \
        }                                                                                          \
    } while (0)

#endif
