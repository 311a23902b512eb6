#ifndef BRANTLE_WATCHCHANNEL_H
#define BRANTLE_WATCHCHANNEL_H

#include <QByteArray>
#include <QCoreApplication>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// One value taken from the bytes a send reads: bytes FIRST to LAST of the
// read placeholders (counted from 1 in script order), as one integer, signed
// or not, big- or little-endian; then
//     value = (integer >> shift) * scale + offset
// Channels live in the script as comment lines, which the compiler skips:
//     // watch: name=temp bytes=1-2 signed order=be shift=7 scale=0.5 unit=°C
class WatchChannel {
    Q_DECLARE_TR_FUNCTIONS(WatchChannel)
public:
    enum Order { BigEndian, LittleEndian };
    static constexpr int MaxBytes = 8;

    QString name;
    int firstByte = 1;
    int lastByte = 1;
    bool isSigned = false;
    Order order = BigEndian;
    int shift = 0;
    double scale = 1.0;
    double offset = 0.0;
    QString unit;

    // Where the bytes= value stands in the script it was read from, so that a
    // later check of the byte count can point at it.
    int bytesIndex = 0;
    int bytesLength = 0;

    int byteCount() const { return lastByte - firstByte + 1; }
    // The value from the bytes read by one send (all of them, in placeholder
    // order); none when the send read fewer bytes than the channel needs.
    std::optional<double> value(const QByteArray &readBytes) const;
    // The channel's column title: the name, with the unit in parentheses.
    QString title() const;
    // The channel as a watch line, without a line break; reading it back
    // gives the same channel.
    QString line() const;

    bool operator==(const WatchChannel &other) const;
    bool operator!=(const WatchChannel &other) const { return !(*this == other); }
};

namespace WatchLines {

// Whether `line` (one line of a script, without its line break) is a watch
// line: a comment whose text begins with "watch:".
bool isWatchLine(const QString &line);

// The channels of every watch line of `script`, in order. A malformed line
// throws ScriptParseError pointing at the faulty text.
QList<WatchChannel> parse(const QString &script);

// Throws ScriptParseError, at the bytes= of the first channel that asks for
// more bytes than the script reads (`readCount` placeholders).
void checkReadCount(const QList<WatchChannel> &channels, int readCount);

// `script` with its watch lines replaced by those of `channels`: they stand
// where the first watch line stood, or at the top when there was none.
QString replace(const QString &script, const QList<WatchChannel> &channels);

// The bytes read by a send from its reply (the read bytes, then the status
// byte); empty when the reply is not whole.
QByteArray readBytes(const QByteArray &reply, int readCount);

// The channels' column titles, in order.
QStringList titles(const QList<WatchChannel> &channels);
// Each channel's value from the bytes a send read; NaN for a channel the
// bytes do not cover (none at all for a failed send).
QList<double> values(const QList<WatchChannel> &channels, const QByteArray &readBytes);

// Numbers in watch lines: decimal (sign, fraction and exponent allowed) or
// "0x" and hexadecimal digits.
std::optional<double> parseNumber(const QString &text);
// The shortest text that parseNumber reads back as exactly `value`.
QString formatNumber(double value);

} // namespace WatchLines

#endif
