#include "EepromProgrammer.h"

EepromProgrammer::EepromProgrammer(const EepromPart &part, int address, int clock,
                                   BusStream::Transact transact, Clock now)
    : m_part(part), m_address(address), m_clock(clock), m_transact(std::move(transact)),
      m_now(std::move(now)) {}

QString EepromProgrammer::range(qint64 from, qint64 to) {
    if (to - from == 1)
        return QString::asprintf("0x%04llX", static_cast<long long>(from));
    return QString::asprintf("0x%04llX-0x%04llX", static_cast<long long>(from),
                             static_cast<long long>(to - 1));
}

QString EepromProgrammer::where() const {
    return tr("%1 at %2").arg(m_part.name, m_part.addressRange(m_address));
}

bool EepromProgrammer::checkFits(qint64 offset, qint64 length, QString *error) const {
    if (offset < 0 || offset > m_part.size || length > m_part.size - offset) {
        *error = tr("%1 bytes from offset %2 do not fit in the %3 (%4 bytes; %5 from that offset)")
                     .arg(length)
                     .arg(offset)
                     .arg(m_part.name)
                     .arg(m_part.size)
                     .arg(qMax<qint64>(0, m_part.size - offset));
        return false;
    }
    return true;
}

bool EepromProgrammer::checkFits(qint64 offset, const MemoryImage &image, QString *error) const {
    for (const MemoryImage::Run &run : image.runs()) {
        if (!checkFits(offset + run.address, run.bytes.size(), error))
            return false;
    }
    return true;
}

bool EepromProgrammer::tell(qint64 done, qint64 total) {
    return !m_progress || m_progress(done, total);
}

void EepromProgrammer::addressBytes(BusStream &stream, qint64 offset) const {
    const int inBlock = int(offset % m_part.blockSize());
    if (m_part.addressBytes == 2)
        stream.write(inBlock >> 8);
    stream.write(inBlock & 0xFF);
}

bool EepromProgrammer::transact(BusStream &stream, Result *result, bool *acknowledged) {
    if (stream.run(m_transact, acknowledged, &result->message))
        return true;
    result->status = DeviceError;
    return false;
}

bool EepromProgrammer::readInto(qint64 offset, qint64 length, QByteArray *data, Result *result,
                                qint64 doneBefore, qint64 total, bool cancellable) {
    data->resize(length);
    // The most one read segment adds besides its bytes: START, address,
    // two escaped address bytes, repeated START, address, STOP.
    constexpr int segmentOverhead = 14;
    const qint64 end = offset + length;
    qint64 pos = offset;
    while (pos < end) {
        if (!tell(doneBefore + pos - offset, total) && cancellable) {
            result->status = Cancelled;
            result->message = tr("Cancelled.");
            return false;
        }
        BusStream stream(m_clock);
        struct Segment {
            qint64 at;
            int count;
        };
        QVector<Segment> segments;
        qint64 p = pos;
        while (p < end) {
            // A read stays within what one device address reaches: parts
            // differ in whether their counter runs on into the next block.
            const qint64 blockEnd = (p / m_part.blockSize() + 1) * m_part.blockSize();
            const int room = (BusStream::bufferLimit() - stream.cost() - segmentOverhead) / 2;
            const int count = int(qMin<qint64>(qMin(end, blockEnd) - p, room));
            if (count <= 0)
                break;
            const int device = m_part.deviceAddress(m_address, p);
            stream.start(device, false);
            addressBytes(stream, p);
            stream.start(device, true);
            stream.read(count);
            stream.stop();
            segments.append({p, count});
            p += count;
        }
        bool acknowledged = false;
        if (!transact(stream, result, &acknowledged))
            return false;
        if (!acknowledged) {
            result->status = NoAck;
            result->message = tr("The %1 did not answer reading %2.").arg(where(), range(pos, p));
            return false;
        }
        int i = 0;
        for (const Segment &s : segments) {
            for (int k = 0; k < s.count; ++k)
                (*data)[s.at - offset + k] = char(stream.readByte(i++));
        }
        pos = p;
    }
    tell(doneBefore + length, total);
    return true;
}

EepromProgrammer::Result EepromProgrammer::read(qint64 offset, qint64 length) {
    Result result;
    if (!checkFits(offset, length, &result.message)) {
        result.status = TooLarge;
        return result;
    }
    readInto(offset, length, &result.data, &result, 0, length);
    return result;
}

bool EepromProgrammer::poll(qint64 pageFrom, qint64 pageTo, qint64 writtenAt, Result *result) {
    const int device = m_part.deviceAddress(m_address, pageFrom);
    for (;;) {
        const qint64 began = m_now();
        BusStream stream(m_clock);
        stream.start(device, false);
        stream.stop();
        bool acknowledged = false;
        if (!transact(stream, result, &acknowledged))
            return false;
        const qint64 ended = m_now();
        // The address goes out at the end of a poll's exchange, after the
        // USB traffic that carries it.
        m_pollNs = ended - began;
        if (acknowledged)
            return true;
        // Only a poll that began after the limit counts as the last: a host
        // held up elsewhere must not take the part for dead.
        if (began - writtenAt > PollLimitNs) {
            result->status = NoAck;
            result->message = tr("The %1 did not finish writing %2 within %3 ms: it did not "
                                 "acknowledge its address after the write.")
                                  .arg(where(), range(pageFrom, pageTo))
                                  .arg(PollLimitNs / 1'000'000);
            return false;
        }
    }
}

void EepromProgrammer::compare(qint64 offset, const QByteArray &expected, const QByteArray &actual,
                               Result *result) const {
    for (qint64 i = 0; i < expected.size() && i < actual.size(); ++i) {
        if (expected.at(i) == actual.at(i))
            continue;
        if (result->differenceCount < ShownDifferences)
            result->differences.append({offset + i, quint8(expected.at(i)), quint8(actual.at(i))});
        ++result->differenceCount;
    }
}

bool EepromProgrammer::writePage(qint64 pos, qint64 pageEnd, qint64 offset, const QByteArray &data,
                                 int waitUnits, Result *result, bool *acknowledged) {
    BusStream stream(m_clock);
    if (waitUnits > 0)
        stream.wait(waitUnits);
    stream.start(m_part.deviceAddress(m_address, pos), false);
    addressBytes(stream, pos);
    for (qint64 i = pos; i < pageEnd; ++i)
        stream.write(quint8(data.at(i - offset)));
    stream.stop();
    return transact(stream, result, acknowledged);
}

EepromProgrammer::Result EepromProgrammer::write(qint64 offset, const QByteArray &data,
                                                 bool verify) {
    Result result;
    result.writtenFrom = result.writtenTo = result.verifiedTo = offset;
    if (!checkFits(offset, data.size(), &result.message)) {
        result.status = TooLarge;
        return result;
    }
    const qint64 end = offset + data.size();
    const qint64 total = data.size() * (verify ? 2 : 1);
    // The page whose write cycle has not been seen to end yet: the part
    // takes the next page only once it has, so the next page's address is
    // also the poll of this one.
    struct Pending {
        qint64 from = -1;
        qint64 to = -1;
        qint64 writtenAt = 0;
    } pending;
    const auto settle = [&] {
        if (pending.from < 0)
            return true;
        if (!poll(pending.from, pending.to, pending.writtenAt, &result))
            return false;
        result.writtenTo = pending.to;
        pending = {};
        return true;
    };
    qint64 pos = offset;
    while (pos < end) {
        if (!tell(pos - offset, total)) {
            if (settle()) {
                result.status = Cancelled;
                result.message = tr("Cancelled.");
            }
            break;
        }
        const qint64 pageEnd = qMin(end, (pos / m_part.pageSize + 1) * m_part.pageSize);
        // Behind a page still being written the adapter first waits about
        // as long as the cycle was seen to take, less the USB round trip.
        const int units = pending.from < 0 ? 0 : int(m_leadNs / WaitUnitNs);
        bool acknowledged = false;
        if (!writePage(pos, pageEnd, offset, data, units, &result, &acknowledged))
            break;
        if (!acknowledged && pending.from >= 0) {
            // Most likely too early: the part was still busy and ignored
            // the page. Poll it out, then write the page once more; a
            // shorter lead next time would only miss again.
            m_leadNs = qMin(m_leadNs + MissStepNs, PollLimitNs);
            if (!settle())
                break;
            if (!writePage(pos, pageEnd, offset, data, 0, &result, &acknowledged))
                break;
        }
        if (!acknowledged) {
            result.status = NoAck;
            result.message =
                tr("The %1 did not acknowledge the write of %2.").arg(where(), range(pos, pageEnd));
            break;
        }
        if (pending.from >= 0) {
            // The part took this page, so the last one's cycle had ended.
            result.writtenTo = pending.to;
            m_leadNs = qMax<qint64>(0, m_leadNs - CreepNs);
        }
        const qint64 writtenAt = m_now();
        pending = {pos, pageEnd, writtenAt};
        if (!m_leadKnown) {
            // The first page finds the cycle's length by polling: it took at
            // most until the poll that was answered.
            if (!settle())
                break;
            m_leadKnown = true;
            m_leadNs = qMax<qint64>(0, m_now() - writtenAt - 2 * m_pollNs);
        }
        pos = pageEnd;
    }
    if (result.status == Ok && pos == end)
        settle();
    if (!verify || result.writtenTo == offset)
        return result;

    // Read back what reached the part, also after a failure: the report
    // then says how much of it is sound.
    Result check;
    QByteArray back;
    const qint64 written = result.writtenTo - offset;
    // After a cancel or a failure the read-back still runs to its end: it
    // is what the report rests on.
    if (!readInto(offset, written, &back, &check, data.size(), total, result.status == Ok)) {
        if (result.status == Ok) {
            result.status = check.status;
            result.message = check.message;
        }
        return result;
    }
    compare(offset, data.left(written), back, &result);
    result.verified = true;
    result.verifiedTo =
        result.differences.isEmpty() ? result.writtenTo : result.differences.first().address;
    if (result.differenceCount > 0 && result.status == Ok) {
        result.status = Differs;
        result.message =
            tr("Read back, %1 of the bytes written differ.").arg(result.differenceCount);
    }
    return result;
}

EepromProgrammer::Result EepromProgrammer::verify(qint64 offset, const QByteArray &data) {
    Result result;
    if (!checkFits(offset, data.size(), &result.message)) {
        result.status = TooLarge;
        return result;
    }
    if (!readInto(offset, data.size(), &result.data, &result, 0, data.size()))
        return result;
    compare(offset, data, result.data, &result);
    result.verified = true;
    if (result.differenceCount > 0) {
        result.status = Differs;
        result.message = tr("%1 bytes differ.").arg(result.differenceCount);
    }
    return result;
}
