#include "RegisterAccess.h"

#include <algorithm>
#include <exception>

RegisterAccess::RegisterAccess(int address, int clock, Options options,
                               BusStream::Transact transact)
    : m_address(address), m_clock(clock), m_options(options), m_transact(std::move(transact)) {}

QString RegisterAccess::format(int value) const {
    return QStringLiteral("0x%1").arg(value, m_options.word ? 4 : 2, 16, QLatin1Char('0'));
}

void RegisterAccess::addRead(BusStream &stream, int reg) const {
    stream.start(m_address, false);
    if (m_options.reg16)
        stream.write(reg >> 8);
    stream.write(reg & 0xFF);
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

bool RegisterAccess::run(BusStream &stream, bool *acknowledged, QString *error) {
    try {
        *acknowledged = stream.run(m_transact);
        return true;
    } catch (const QString &e) {
        *error = e;
    } catch (const char *e) {
        *error = QString::fromLatin1(e);
    } catch (const std::exception &e) {
        *error = QString::fromLocal8Bit(e.what());
    }
    return false;
}

RegisterAccess::Result RegisterAccess::get(int reg) {
    Result result;
    BusStream stream(m_clock);
    addRead(stream, reg);
    bool acknowledged = false;
    if (!run(stream, &acknowledged, &result.message)) {
        result.status = DeviceError;
        return result;
    }
    if (!acknowledged) {
        result.status = NoAck;
        result.message = tr("The part at 0x%1 did not answer reading register 0x%2.")
                             .arg(m_address, 2, 16, QLatin1Char('0'))
                             .arg(reg, m_options.reg16 ? 4 : 2, 16, QLatin1Char('0'));
        return result;
    }
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
    stream.start(m_address, false);
    if (m_options.reg16)
        stream.write(reg >> 8);
    stream.write(reg & 0xFF);
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
    bool acknowledged = false;
    if (!run(stream, &acknowledged, &result.message)) {
        result.status = DeviceError;
        return result;
    }
    if (!acknowledged) {
        result.status = NoAck;
        result.message = tr("The part at 0x%1 did not acknowledge the write of register 0x%2.")
                             .arg(m_address, 2, 16, QLatin1Char('0'))
                             .arg(reg, m_options.reg16 ? 4 : 2, 16, QLatin1Char('0'));
        return result;
    }
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
        result.message = tr("Register 0x%1 reads back %2, not %3.")
                             .arg(reg, m_options.reg16 ? 4 : 2, 16, QLatin1Char('0'))
                             .arg(format(back.value), format(toWrite));
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
        if (!run(stream, &acknowledged, &dump.message)) {
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
        dump.message =
            tr("The part at 0x%1 did not answer.").arg(m_address, 2, 16, QLatin1Char('0'));
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
