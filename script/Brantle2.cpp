#include "Brantle2.h"

#include "adapter_wire.h"

#include <QCoreApplication>

#include <cmath>
#include <exception>

namespace {

// How the converter's own failures travel inside a run, so that the wrapper
// recognises them by type whatever catalogue translated their text.
struct ScriptFailure {
    QString message;
};

// The result stream ended before the text did: the stream does not belong to
// this text.
struct StreamExhausted : std::exception {};

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n';
}

int hexValue(QChar c) {
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    return -1;
}

bool isDigit(QChar c) {
    return c.unicode() >= '0' && c.unicode() <= '9';
}

int digitRunEnd(const QString &text, int from) {
    while (from < text.size() && isDigit(text.at(from)))
        ++from;
    return from;
}

// Length of "[WAIT <number>]" at `at` (WAIT in any case, one blank, an
// optional sign, digits, optionally "." and digits), or 0 when the text there
// is not a wait command.
int matchWait(const QString &text, int at) {
    static const char word[] = "[WAIT ";
    int i = at;
    for (const char *w = word; *w; ++w, ++i) {
        if (i >= text.size() || text.at(i).toUpper() != QLatin1Char(*w))
            return 0;
    }
    if (i < text.size() && (text.at(i) == u'+' || text.at(i) == u'-'))
        ++i;
    const int digitsEnd = digitRunEnd(text, i);
    if (digitsEnd == i)
        return 0;
    i = digitsEnd;
    if (i < text.size() && text.at(i) == u'.') {
        const int fractionEnd = digitRunEnd(text, i + 1);
        if (fractionEnd == i + 1)
            return 0;
        i = fractionEnd;
    }
    if (i >= text.size() || text.at(i) != u']')
        return 0;
    return i + 1 - at;
}

} // namespace

QString sharedPrefix(const QStringList &texts) {
    QString prefix = texts.value(0);
    for (const QString &t : texts) {
        int n = 0;
        while (n < prefix.size() && n < t.size() && prefix.at(n) == t.at(n))
            ++n;
        prefix.truncate(n);
    }
    return prefix;
}

// The translations of the script messages share their leading words.
QString Brantle2::messagePrefix() {
    return sharedPrefix({
        tr("Parse Error: It was not possible to interpret it. "),
        tr("Parse Error: Hex data must be specify by of two digits. "),
        tr("Parse Error: Stop condition occured on waiting start condition."),
        tr("Parse Error: Start condition occured on waiting slave address."),
        tr("Parse Error: '%1' was not possible to interpret it. "),
    });
}

Brantle2::Brantle2() = default;

void Brantle2::convert(QString &text, int runMode, QByteArray &stream) {
    pos = 0;
    token.clear();
    state = WaitingStart;
    try {
        mode = runMode != Compile;
        if (text.size() > qMin(lengthLimit, MaxScriptLength))
            throw ScriptFailure{tr("Parse Error: The script is too long. ")};
        run(text, stream);
    } catch (const ScriptFailure &failure) {
        const QString prefix = messagePrefix();
        const QString message = failure.message.startsWith(prefix)
                                    ? failure.message.mid(prefix.size())
                                    : failure.message;
        throw ScriptParseError(
            tr("Parse Error: Index=%1, Length=%2, %3").arg(pos).arg(token.size()).arg(message), pos,
            int(token.size()), message);
    } catch (const QString &other) {
        throw QString(QStringLiteral("Unexpected Error: ") + other);
    } catch (...) {
        const QString wrapper = tr("Parse Error: Index=%1, Length=%2, Unexpected error.");
        // The message is what follows the two fields, as for every other error.
        const int fieldsEnd = int(wrapper.indexOf(QLatin1String("%2, ")));
        const QString message = fieldsEnd < 0 ? wrapper : wrapper.mid(fieldsEnd + 4);
        throw ScriptParseError(wrapper.arg(pos).arg(token.size()), pos, int(token.size()), message);
    }
}

void Brantle2::run(QString &text, QByteArray &stream) {
    m_readIndex = 0;
    openStream(stream);
    clockCode(stream);

    // A "[" begins a bracket command only when a "]" follows somewhere.
    const int lastClose = int(text.lastIndexOf(u']'));
    const int size = int(text.size());
    for (;;) {
        // Only blanks may stand between tokens; the first other character
        // that begins no token is where the script stops making sense.
        while (pos < size && isBlank(text.at(pos)))
            ++pos;
        if (pos >= size)
            break;
        const QChar c = text.at(pos);
        if (c == u'/' && pos + 1 < size && text.at(pos + 1) == u'/') {
            const int newline = int(text.indexOf(u'\n', pos + 2));
            const int end = newline < 0 ? size : newline + 1;
            token = text.mid(pos, end - pos);
            pos = end;
        } else if (c == u'[' && lastClose > pos) {
            waitStep(text, stream, lastClose);
        } else if (c == u',') {
            token = c;
            startCondition(stream);
            ++pos;
        } else if (c == u';') {
            token = c;
            stopCondition(stream);
            ++pos;
        } else if (hexValue(c) >= 0) {
            byteStep(text, stream);
        } else {
            failAtCharacter(text, pos);
        }
    }

    // A script that ends inside a transaction still releases the bus.
    if (state == Writing || state == Reading)
        stopCondition(stream);

    if (mode) {
        if (m_readIndex < stream.size())
            stream.remove(0, m_readIndex);
        else
            stream.clear();
    }
}

void Brantle2::failAtCharacter(const QString &text, int at) {
    pos = at;
    token = text.at(at);
    throw ScriptFailure{tr("Parse Error: It was not possible to interpret it. ")};
}

void Brantle2::byteStep(QString &text, QByteArray &stream) {
    int end = pos;
    while (end < text.size() && hexValue(text.at(end)) >= 0)
        ++end;
    token = text.mid(pos, end - pos);
    if (token.size() != 2)
        throw ScriptFailure{tr("Parse Error: Hex data must be specify by of two digits. ")};
    dataByte(stream, hexValue(token.at(0)) * 16 + hexValue(token.at(1)));
    if (mode)
        rewriteByte(text, stream);
    pos += 2;
}

void Brantle2::waitStep(const QString &text, QByteArray &stream, int lastClose) {
    // A bad command is quoted through the last "]" of the whole text. Taken
    // only on failure: copying that span for every wait would make a long
    // script cost quadratic time.
    auto fail = [&] {
        token = text.mid(pos, lastClose + 1 - pos);
        throw ScriptFailure{tr("Parse Error: '%1' was not possible to interpret it. ").arg(token)};
    };
    const int length = matchWait(text, pos);
    if (length == 0)
        fail();
    token = text.mid(pos, length);
    const double units = std::trunc(token.mid(6, length - 7).toDouble() * WIRE_WAIT_UNITS_PER_MS);
    // The count is 16 bits on the wire: a longer or negative wait would
    // silently become a different one.
    if (!(units >= 0.0 && units <= 65535.0))
        fail();
    waitCommand(stream, quint16(units));
    pos += length;
}

void Brantle2::emitBytes(QByteArray &stream, const char *bytes, int count) {
    if (mode)
        skip(stream, count);
    else
        stream.append(bytes, count);
}

void Brantle2::skip(const QByteArray &stream, int count) {
    m_readIndex = qMin(m_readIndex + count, int(stream.size()));
}

void Brantle2::rewriteByte(QString &text, const QByteArray &stream) {
    if (m_readIndex >= stream.size())
        throw StreamExhausted();
    static const char digits[] = "0123456789ABCDEF";
    const auto b = quint8(stream.at(m_readIndex++));
    text[pos] = QLatin1Char(digits[b >> 4]);
    text[pos + 1] = QLatin1Char(digits[b & 0x0F]);
}

void Brantle2::openStream(QByteArray &stream) {
    const char item[] = {WireEscape, CmdOpen};
    emitBytes(stream, item, 2);
}

void Brantle2::clockCode(QByteArray &stream) {
    const char item[] = {WireEscape, char(clock == 0 ? CmdClock100k : CmdClock400k)};
    emitBytes(stream, item, 2);
}

void Brantle2::startCondition(QByteArray &stream) {
    sequence(stream, EventStart, 0);
}

void Brantle2::stopCondition(QByteArray &stream) {
    sequence(stream, EventStop, 0);
}

void Brantle2::dataByte(QByteArray &stream, int value) {
    sequence(stream, EventData, value);
}

void Brantle2::waitCommand(QByteArray &stream, quint16 count) {
    const char item[] = {WireEscape, char(CmdWait),      WIRE_WAIT_BLOCK_LENGTH,
                         ExtWait,    char(count & 0xFF), char(count >> 8)};
    emitBytes(stream, item, WIRE_WAIT_ITEM_LENGTH);
}

void Brantle2::sequence(QByteArray &stream, int event, int value) {
    static const char start[] = {WireEscape, CmdStart};
    static const char stop[] = {WireEscape, CmdStop};

    // A bus byte: 0x00 is escaped. While rendering, the byte itself stays in
    // front of the stream for the rewrite; only its escape is passed over.
    auto busByte = [&](int b) {
        if (mode) {
            if (b == 0)
                skip(stream, 1);
            return;
        }
        if (b == 0)
            stream.append(WireEscape);
        stream.append(char(b));
    };
    auto placeholder = [&] {
        if (!mode)
            stream.append(char(WIRE_READ_PLACEHOLDER));
    };
    auto addressed = [&](int b) { state = (b & 1) ? ReadAddressed : Writing; };

    switch (state) {
    case WaitingStart:
        if (event == EventStart) {
            emitBytes(stream, start, 2);
            state = WaitingAddress;
        } else if (event == EventStop) {
            throw ScriptFailure{
                tr("Parse Error: Stop condition occured on waiting start condition.")};
        } else {
            emitBytes(stream, start, 2);
            busByte(value);
            addressed(value);
        }
        break;
    case WaitingAddress:
        if (event == EventStart)
            throw ScriptFailure{
                tr("Parse Error: Start condition occured on waiting slave address.")};
        if (event == EventStop)
            throw ScriptFailure{
                tr("Parse Error: Stop condition occured on waiting sllave address.")};
        busByte(value);
        addressed(value);
        break;
    case Writing:
        if (event == EventStart) {
            emitBytes(stream, start, 2);
            state = WaitingAddress;
        } else if (event == EventStop) {
            emitBytes(stream, stop, 2);
            state = WaitingStart;
        } else {
            busByte(value);
        }
        break;
    case ReadAddressed:
        if (event == EventStart)
            throw ScriptFailure{tr("Parse Error: The start condition cannot be specified "
                                   "immediately after the address of the slave (read). ")};
        if (event == EventStop)
            throw ScriptFailure{tr("Parse Error: The stop condition cannot be specified "
                                   "immediately after the address of the slave (read). ")};
        placeholder();
        state = Reading;
        break;
    case Reading:
        if (event == EventStart)
            throw ScriptFailure{
                tr("Parse Error: Start condition occured on waiting stop condition or data.")};
        if (event == EventStop) {
            emitBytes(stream, stop, 2);
            state = WaitingStart;
        } else {
            placeholder();
        }
        break;
    }
}
