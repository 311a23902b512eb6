#include "TransactionCsv.h"

#include <QStringList>

#include <cmath>

namespace TransactionCsv {

QByteArray header(const QStringList &channels) {
    QByteArray text = QByteArrayLiteral("time,adapter,clock_khz,outcome,stream,reply");
    for (const QString &channel : channels)
        text += ',' + field(channel).toUtf8();
    return text + "\r\n";
}

QByteArray row(const TransactionRecord &record, const QStringList &channels) {
    QStringList fields = {
        timestamp(record.time), field(record.adapter), QString::number(record.clockKhz),
        field(record.outcome),  hex(record.stream),    hex(record.reply)};
    for (const QString &channel : channels) {
        const qsizetype i = record.channels.indexOf(channel);
        fields.append(i >= 0 && i < record.values.size() ? value(record.values.at(i)) : QString());
    }
    return (fields.join(u',') + QLatin1String("\r\n")).toUtf8();
}

QString value(double v) {
    if (std::isnan(v))
        return QString();
    if (v == std::trunc(v) && std::abs(v) < 9.2e18)
        return QString::number(qint64(v));
    return QString::number(v, 'g', 15);
}

QString timestamp(const QDateTime &time) {
    const QDateTime local = time.toLocalTime();
    const int offset = local.offsetFromUtc();
    const int minutes = qAbs(offset) / 60;
    return local.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) + (offset < 0 ? u'-' : u'+') +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString hex(const QByteArray &bytes) {
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QString field(const QString &text) {
    static const QString special = QStringLiteral(",\"\r\n");
    bool quote = false;
    for (const QChar c : text)
        quote = quote || special.contains(c);
    if (!quote)
        return text;
    QString quoted = text;
    quoted.replace(u'"', QLatin1String("\"\""));
    return u'"' + quoted + u'"';
}

} // namespace TransactionCsv
