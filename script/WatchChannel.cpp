#include "WatchChannel.h"

#include "Brantle2.h"

#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const QLatin1String watchWord("watch:");

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

// A line's text after "//" and the blanks that follow it, or -1 when the
// line is no comment.
int commentTextStart(const QString &line) {
    int i = 0;
    while (i < line.size() && isBlank(line.at(i)))
        ++i;
    if (!QStringView(line).mid(i).startsWith(QLatin1String("//")))
        return -1;
    i += 2;
    while (i < line.size() && isBlank(line.at(i)))
        ++i;
    return i;
}

[[noreturn]] void fail(int index, int length, const QString &message) {
    throw ScriptParseError(
        Brantle2::tr("Parse Error: Index=%1, Length=%2, %3").arg(index).arg(length).arg(message),
        index, length, message);
}

std::optional<int> parseInteger(const QString &text) {
    const std::optional<double> number = WatchLines::parseNumber(text);
    if (!number || *number != std::trunc(*number) || std::abs(*number) > 1e9)
        return std::nullopt;
    return int(*number);
}

// One line's settings: its words, each with where it stands in the script.
struct Word {
    QString text;
    int index;
};

WatchChannel parseLine(const QList<Word> &words, int watchIndex) {
    WatchChannel channel;
    QSet<QString> seen;
    bool haveName = false;
    bool haveBytes = false;
    for (const Word &word : words) {
        const int equals = int(word.text.indexOf(u'='));
        const QString key = equals < 0 ? word.text : word.text.left(equals);
        const QString value = equals < 0 ? QString() : word.text.mid(equals + 1);
        const int valueIndex = word.index + equals + 1;
        const int valueLength = int(value.size());
        // signed and unsigned are one setting.
        const QString setting = key == QLatin1String("unsigned") ? QStringLiteral("signed") : key;
        if (seen.contains(setting))
            fail(word.index, int(word.text.size()),
                 WatchChannel::tr("watch: '%1' is given twice.").arg(key));
        seen.insert(setting);
        auto badValue = [&](const QString &message) {
            fail(value.isEmpty() ? word.index : valueIndex,
                 value.isEmpty() ? int(word.text.size()) : valueLength, message);
        };
        if (key == QLatin1String("signed") || key == QLatin1String("unsigned")) {
            if (equals >= 0)
                fail(word.index, int(word.text.size()),
                     WatchChannel::tr("watch: '%1' takes no value.").arg(key));
            channel.isSigned = key == QLatin1String("signed");
            continue;
        }
        if (equals < 0 || value.isEmpty()) {
            if (key != QLatin1String("name") && key != QLatin1String("bytes") &&
                key != QLatin1String("order") && key != QLatin1String("shift") &&
                key != QLatin1String("scale") && key != QLatin1String("offset") &&
                key != QLatin1String("unit"))
                fail(word.index, int(word.text.size()),
                     WatchChannel::tr("watch: unknown setting '%1'.").arg(key));
            fail(word.index, int(word.text.size()),
                 WatchChannel::tr("watch: '%1' needs a value.").arg(key));
        }
        if (key == QLatin1String("name")) {
            channel.name = value;
            haveName = true;
        } else if (key == QLatin1String("bytes")) {
            const int dash = int(value.indexOf(u'-'));
            const std::optional<int> first = parseInteger(dash < 0 ? value : value.left(dash));
            const std::optional<int> last = dash < 0 ? first : parseInteger(value.mid(dash + 1));
            if (!first || !last || *first < 1 || *last < *first ||
                *last - *first >= WatchChannel::MaxBytes)
                badValue(WatchChannel::tr("watch: bytes must be N or FIRST-LAST, counted from 1, "
                                          "at most %1 bytes.")
                             .arg(WatchChannel::MaxBytes));
            channel.firstByte = *first;
            channel.lastByte = *last;
            channel.bytesIndex = valueIndex;
            channel.bytesLength = valueLength;
            haveBytes = true;
        } else if (key == QLatin1String("order")) {
            if (value == QLatin1String("be"))
                channel.order = WatchChannel::BigEndian;
            else if (value == QLatin1String("le"))
                channel.order = WatchChannel::LittleEndian;
            else
                badValue(WatchChannel::tr("watch: order must be be or le."));
        } else if (key == QLatin1String("shift")) {
            const std::optional<int> shift = parseInteger(value);
            if (!shift || *shift < 0 || *shift > 63)
                badValue(WatchChannel::tr("watch: shift must be a whole number from 0 to 63."));
            channel.shift = *shift;
        } else if (key == QLatin1String("scale") || key == QLatin1String("offset")) {
            const std::optional<double> number = WatchLines::parseNumber(value);
            if (!number)
                badValue(WatchChannel::tr("watch: '%1' is not a number.").arg(value));
            (key == QLatin1String("scale") ? channel.scale : channel.offset) = *number;
        } else if (key == QLatin1String("unit")) {
            channel.unit = value;
        } else {
            fail(word.index, int(word.text.size()),
                 WatchChannel::tr("watch: unknown setting '%1'.").arg(key));
        }
    }
    if (!haveName)
        fail(watchIndex, int(watchWord.size()), WatchChannel::tr("watch: name= is missing."));
    if (!haveBytes)
        fail(watchIndex, int(watchWord.size()), WatchChannel::tr("watch: bytes= is missing."));
    // Shifting out every bit leaves nothing to watch.
    if (channel.shift >= 8 * channel.byteCount()) {
        for (const Word &word : words) {
            if (word.text.startsWith(QLatin1String("shift=")))
                fail(word.index + 6, int(word.text.size()) - 6,
                     WatchChannel::tr("watch: shift must be less than the %1 bits of the bytes.")
                         .arg(8 * channel.byteCount()));
        }
    }
    return channel;
}

} // namespace

std::optional<double> WatchChannel::value(const QByteArray &readBytes) const {
    if (firstByte < 1 || lastByte < firstByte || lastByte > readBytes.size() ||
        byteCount() > MaxBytes)
        return std::nullopt;
    quint64 raw = 0;
    const int n = byteCount();
    for (int i = 0; i < n; ++i) {
        const int at = order == BigEndian ? firstByte - 1 + i : lastByte - 1 - i;
        raw = (raw << 8) | quint8(readBytes.at(at));
    }
    const int bits = 8 * n;
    double integer;
    if (isSigned) {
        if (bits < 64 && (raw >> (bits - 1)) & 1)
            raw |= ~quint64(0) << bits;
        // Arithmetic shift: -1 >> 1 stays -1, as the sensor's sign bit needs.
        integer = double(qint64(raw) >> shift);
    } else {
        integer = double(raw >> shift);
    }
    return integer * scale + offset;
}

QString WatchChannel::title() const {
    return unit.isEmpty() ? name : QStringLiteral("%1 (%2)").arg(name, unit);
}

QString WatchChannel::line() const {
    QString text = QStringLiteral("// watch: name=") + name + QStringLiteral(" bytes=") +
                   QString::number(firstByte);
    if (lastByte != firstByte)
        text += u'-' + QString::number(lastByte);
    if (isSigned)
        text += QLatin1String(" signed");
    if (order == LittleEndian)
        text += QLatin1String(" order=le");
    if (shift != 0)
        text += QLatin1String(" shift=") + QString::number(shift);
    if (scale != 1.0)
        text += QLatin1String(" scale=") + WatchLines::formatNumber(scale);
    if (offset != 0.0)
        text += QLatin1String(" offset=") + WatchLines::formatNumber(offset);
    if (!unit.isEmpty())
        text += QLatin1String(" unit=") + unit;
    return text;
}

bool WatchChannel::operator==(const WatchChannel &o) const {
    return name == o.name && firstByte == o.firstByte && lastByte == o.lastByte &&
           isSigned == o.isSigned && order == o.order && shift == o.shift && scale == o.scale &&
           offset == o.offset && unit == o.unit;
}

namespace WatchLines {

bool isWatchLine(const QString &line) {
    const int start = commentTextStart(line);
    return start >= 0 && QStringView(line).mid(start).startsWith(watchWord);
}

QList<WatchChannel> parse(const QString &script) {
    QList<WatchChannel> channels;
    QSet<QString> names;
    int lineStart = 0;
    while (lineStart <= script.size()) {
        int lineEnd = int(script.indexOf(u'\n', lineStart));
        if (lineEnd < 0)
            lineEnd = int(script.size());
        const QString line = script.mid(lineStart, lineEnd - lineStart);
        if (isWatchLine(line)) {
            const int watchAt = commentTextStart(line);
            QList<Word> words;
            int i = watchAt + int(watchWord.size());
            while (i < line.size()) {
                if (isBlank(line.at(i))) {
                    ++i;
                    continue;
                }
                int end = i;
                while (end < line.size() && !isBlank(line.at(end)))
                    ++end;
                words.append(Word{line.mid(i, end - i), lineStart + i});
                i = end;
            }
            WatchChannel channel = parseLine(words, lineStart + watchAt);
            if (names.contains(channel.name)) {
                const Word &nameWord = *std::find_if(words.begin(), words.end(), [](const Word &w) {
                    return w.text.startsWith(QLatin1String("name="));
                });
                fail(nameWord.index + 5, int(channel.name.size()),
                     WatchChannel::tr("watch: a channel named '%1' is already watched.")
                         .arg(channel.name));
            }
            names.insert(channel.name);
            channels.append(channel);
        }
        lineStart = lineEnd + 1;
    }
    return channels;
}

void checkReadCount(const QList<WatchChannel> &channels, int readCount) {
    for (const WatchChannel &channel : channels) {
        if (channel.lastByte > readCount)
            fail(channel.bytesIndex, channel.bytesLength,
                 WatchChannel::tr("watch: '%1' needs byte %2, but the script reads %3.")
                     .arg(channel.name)
                     .arg(channel.lastByte)
                     .arg(readCount));
    }
}

QString replace(const QString &script, const QList<WatchChannel> &channels) {
    QStringList lines = script.split(u'\n');
    int insertAt = -1;
    for (int i = int(lines.size()) - 1; i >= 0; --i) {
        if (isWatchLine(lines.at(i))) {
            lines.removeAt(i);
            insertAt = i;
        }
    }
    if (insertAt < 0)
        insertAt = 0;
    for (int i = 0; i < channels.size(); ++i)
        lines.insert(insertAt + i, channels.at(i).line());
    return lines.join(u'\n');
}

QByteArray readBytes(const QByteArray &reply, int readCount) {
    if (readCount < 0 || reply.size() != readCount + 1)
        return QByteArray();
    return reply.left(readCount);
}

QStringList titles(const QList<WatchChannel> &channels) {
    QStringList list;
    for (const WatchChannel &channel : channels)
        list.append(channel.title());
    return list;
}

QList<double> values(const QList<WatchChannel> &channels, const QByteArray &readBytes) {
    QList<double> list;
    list.reserve(channels.size());
    for (const WatchChannel &channel : channels)
        list.append(channel.value(readBytes).value_or(std::numeric_limits<double>::quiet_NaN()));
    return list;
}

std::optional<double> parseNumber(const QString &text) {
    static const QRegularExpression decimal(
        QStringLiteral("^[+-]?([0-9]+(\\.[0-9]*)?|\\.[0-9]+)([eE][+-]?[0-9]+)?$"));
    static const QRegularExpression hex(QStringLiteral("^([+-]?)0[xX]([0-9A-Fa-f]{1,15})$"));
    const QRegularExpressionMatch h = hex.match(text);
    if (h.hasMatch()) {
        const double magnitude = double(h.captured(2).toULongLong(nullptr, 16));
        return h.captured(1) == QLatin1String("-") ? -magnitude : magnitude;
    }
    if (!decimal.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

QString formatNumber(double value) {
    for (int precision = 6; precision < 17; ++precision) {
        const QString text = QString::number(value, 'g', precision);
        if (text.toDouble() == value)
            return text;
    }
    return QString::number(value, 'g', 17);
}

} // namespace WatchLines
