#include "RegisterAccess.h"

#include <algorithm>

RegisterAccess::RegisterAccess(int address, int clock, Options options,
                               BusStream::Transact transact)
    : m_address(address), m_clock(clock), m_options(options), m_transact(std::move(transact)) {}

QString RegisterAccess::format(int value) const {
    return QStringLiteral("0x%1").arg(value, m_options.word ? 4 : 2, 16, QLatin1Char('0'));
}

QString RegisterAccess::registerText(int reg) const {
    return QStringLiteral("0x%1").arg(reg, m_options.reg16 ? 4 : 2, 16, QLatin1Char('0'));
}

QString RegisterAccess::addressText() const {
    return QStringLiteral("0x%1").arg(m_address, 2, 16, QLatin1Char('0'));
}

void RegisterAccess::addRegister(BusStream &stream, int reg) const {
    stream.start(m_address, false);
    if (m_options.reg16)
        stream.write(reg >> 8);
    stream.write(reg & 0xFF);
}

void RegisterAccess::addRead(BusStream &stream, int reg) const {
    addRegister(stream, reg);
    stream.start(m_address, true);
    stream.read(m_options.word ? 2 : 1);
    stream.stop();
}

int RegisterAccess::valueAt(const BusStream &stream, int index) const {
    if (!m_options.word)
        return stream.readByte(index);
    const int first = stream.readByte(index);
    const int second = stream.readByte(index + 1);
    return m_options.littleEndian ? first | (second << 8) : (first << 8) | second;
}

bool RegisterAccess::runAnswered(BusStream &stream, Result *result, const QString &noAck) {
    bool acknowledged = false;
    if (!stream.run(m_transact, &acknowledged, &result->message)) {
        result->status = DeviceError;
        return false;
    }
    if (!acknowledged) {
        result->status = NoAck;
        result->message = noAck;
    }
    return acknowledged;
}

RegisterAccess::Result RegisterAccess::get(int reg) {
    Result result;
    BusStream stream(m_clock);
    addRead(stream, reg);
    if (!runAnswered(stream, &result,
                     tr("The part at %1 did not answer reading register %2.")
                         .arg(addressText(), registerText(reg))))
        return result;
    result.value = valueAt(stream, 0);
    return result;
}

RegisterAccess::Result RegisterAccess::set(int reg, int value, int mask) {
    const int full = m_options.word ? 0xFFFF : 0xFF;
    Result result;
    int toWrite = value & full;
    if (mask != -1) {
        const Result old = get(reg);
        if (old.status != Ok)
            return old;
        toWrite = (old.value & ~mask & full) | (value & mask & full);
    }
    result.written = toWrite;
    BusStream stream(m_clock);
    addRegister(stream, reg);
    if (!m_options.word) {
        stream.write(toWrite);
    } else if (m_options.littleEndian) {
        stream.write(toWrite & 0xFF);
        stream.write(toWrite >> 8);
    } else {
        stream.write(toWrite >> 8);
        stream.write(toWrite & 0xFF);
    }
    stream.stop();
    if (!runAnswered(stream, &result,
                     tr("The part at %1 did not acknowledge the write of register %2.")
                         .arg(addressText(), registerText(reg))))
        return result;
    if (mask == -1) {
        result.value = toWrite;
        return result;
    }
    const Result back = get(reg);
    if (back.status != Ok)
        return back;
    result.value = back.value;
    if (back.value != toWrite) {
        result.status = Differs;
        result.message = tr("Register %1 reads back %2, not %3.")
                             .arg(registerText(reg), format(back.value), format(toWrite));
    }
    return result;
}

RegisterAccess::Dump RegisterAccess::dump(int first, int last) {
    Dump dump;
    dump.first = first;
    const int width = m_options.word ? 2 : 1;
    int reg = first;
    while (reg <= last) {
        // As many registers as the adapter's buffer takes, each read on its
        // own (some parts move their pointer by a register, not a byte).
        BusStream stream(m_clock);
        const int batchStart = reg;
        while (reg <= last && stream.cost() + 16 + 2 * width < BusStream::bufferLimit()) {
            addRead(stream, reg);
            ++reg;
        }
        bool acknowledged = false;
        if (!stream.run(m_transact, &acknowledged, &dump.message)) {
            dump.status = DeviceError;
            return dump;
        }
        if (acknowledged) {
            for (int i = 0; i < reg - batchStart; ++i)
                dump.values.append(valueAt(stream, i * width));
            continue;
        }
        // Some register did not answer; a NoAck in a transaction does not
        // say which, so ask each on its own.
        for (int r = batchStart; r < reg; ++r) {
            const Result one = get(r);
            if (one.status == DeviceError) {
                dump.status = DeviceError;
                dump.message = one.message;
                return dump;
            }
            dump.values.append(one.status == Ok ? one.value : -1);
        }
    }
    if (!dump.values.isEmpty() &&
        std::all_of(dump.values.cbegin(), dump.values.cend(), [](int v) { return v < 0; })) {
        dump.status = NoAck;
        dump.message = tr("The part at %1 did not answer.").arg(addressText());
    }
    return dump;
}

QString RegisterAccess::grid(const Dump &dump, bool reg16) {
    const int rowDigits = reg16 ? 4 : 2;
    QString text = QString(rowDigits + 1, u' ');
    for (int column = 0; column < 16; ++column)
        text += QStringLiteral("  %1").arg(column, 0, 16);
    text += QStringLiteral("    0123456789abcdef\n");
    if (dump.values.isEmpty())
        return text;
    const int last = dump.first + int(dump.values.size()) - 1;
    for (int row = dump.first & ~0xF; row <= last; row += 16) {
        QString cells;
        QString ascii;
        for (int reg = row; reg < row + 16; ++reg) {
            if (reg < dump.first || reg > last) {
                cells += QStringLiteral("   ");
                ascii += u' ';
                continue;
            }
            const int value = dump.values.at(reg - dump.first);
            if (value < 0) {
                cells += QStringLiteral(" XX");
                ascii += u'X';
                continue;
            }
            // A word shows its first byte on the bus, as a byte dump does.
            cells += QStringLiteral(" %1").arg(value & 0xFF, 2, 16, QLatin1Char('0'));
            const int b = value & 0xFF;
            ascii += b == 0x00 || b == 0xFF ? u'.' : (b < 0x20 || b > 0x7E ? u'?' : QChar(b));
        }
        text += QStringLiteral("%1:").arg(row, rowDigits, 16, QLatin1Char('0')) + cells +
                QStringLiteral("    ") + ascii + u'\n';
    }
    return text;
}
