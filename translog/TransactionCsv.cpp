#include "TransactionCsv.h"

#include <QStringList>

namespace TransactionCsv {

QByteArray header() {
    return QByteArrayLiteral("time,adapter,clock_khz,outcome,stream,reply\r\n");
}

QByteArray row(const TransactionRecord &record) {
    const QStringList fields = {
        timestamp(record.time), field(record.adapter), QString::number(record.clockKhz),
        field(record.outcome),  hex(record.stream),    hex(record.reply)};
    return (fields.join(u',') + QLatin1String("\r\n")).toUtf8();
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
