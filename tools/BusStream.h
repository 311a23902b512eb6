#ifndef BRANTLE_BUSSTREAM_H
#define BRANTLE_BUSSTREAM_H

#include "Brantle2.h"

#include <QByteArray>
#include <QVector>

#include <functional>

// Builds one command stream for the bench tools, through the script
// converter's own operations so that the encoding is the one every send
// uses, and remembers where each read placeholder stands: after the
// transaction the bytes read stand there.
class BusStream {
public:
    // One command stream on the adapter; true when every byte written was
    // acknowledged. Throws what the transaction throws (a QString).
    using Transact = std::function<bool(QByteArray &stream)>;

    // What one transaction may hold: the stream, the count header, the bytes
    // read and the status byte share the adapter's command buffer.
    static int bufferLimit();

    explicit BusStream(int clock);

    // START (or repeated START), the 7-bit address with the direction bit.
    void start(int address, bool read);
    void write(int byte);
    // `count` bytes to read; the last ends the read.
    void read(int count);
    void stop();
    // The adapter waits `units` × 20 µs (at most 65535) before going on.
    void wait(int units);

    // The buffer space the transaction takes so far.
    int cost() const { return int(m_stream.size()) + 4 + int(m_reads.size()) + 1; }

    // Runs the stream: false, with what the transaction threw in `error`,
    // when it failed; otherwise `acknowledged` says whether every byte
    // written was.
    bool run(const Transact &transact, bool *acknowledged, QString *error);
    // After run(): byte `i` of the bytes read.
    quint8 readByte(int i) const { return quint8(m_stream.at(m_reads.at(i))); }

private:
    Brantle2 m_converter;
    QByteArray m_stream;
    QVector<int> m_reads;
};

#endif
