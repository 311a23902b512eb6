#include "EepromPart.h"

const QVector<EepromPart> &EepromPart::table() {
    // Where makers differ, the smaller page: a write that stays inside a
    // small page stays inside every larger one.
    static const QVector<EepromPart> parts = {
        {QStringLiteral("24C01"), 128, 1, 8},        {QStringLiteral("24C02"), 256, 1, 8},
        {QStringLiteral("24C04"), 512, 1, 16},       {QStringLiteral("24C08"), 1024, 1, 16},
        {QStringLiteral("24C16"), 2048, 1, 16},      {QStringLiteral("24C32"), 4096, 2, 32},
        {QStringLiteral("24C64"), 8192, 2, 32},      {QStringLiteral("24C128"), 16384, 2, 64},
        {QStringLiteral("24C256"), 32768, 2, 64},    {QStringLiteral("24C512"), 65536, 2, 128},
        {QStringLiteral("24C1024"), 131072, 2, 256}, {QStringLiteral("24M01"), 131072, 2, 256},
        {QStringLiteral("24M02"), 262144, 2, 256},
    };
    return parts;
}

bool parseNumber(const QString &text, qint64 minimum, qint64 maximum, qint64 *value) {
    bool ok = false;
    const QString t = text.trimmed();
    qint64 v = 0;
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        v = t.mid(2).toLongLong(&ok, 16);
    else
        v = t.toLongLong(&ok, 10);
    if (!ok || t.contains(u'+') || t.contains(u'-') || v < minimum || v > maximum)
        return false;
    *value = v;
    return true;
}

bool EepromPart::parse(const QString &text, EepromPart *part, QString *error) {
    for (const EepromPart &p : table()) {
        if (p.name.compare(text, Qt::CaseInsensitive) == 0) {
            *part = p;
            return true;
        }
    }
    const QStringList fields = text.split(u':');
    if (fields.size() != 4 || fields[0].compare(QLatin1String("custom"), Qt::CaseInsensitive)) {
        QStringList names;
        for (const EepromPart &p : table())
            names << p.name;
        *error = tr("unknown part %1 (known: %2, or custom:SIZE:ADDRBYTES:PAGE)")
                     .arg(text, names.join(QLatin1String(", ")));
        return false;
    }
    qint64 size = 0, addressBytes = 0, page = 0;
    if (!parseNumber(fields[1], 1, 0x80000, &size) ||
        !parseNumber(fields[2], 1, 2, &addressBytes) ||
        !parseNumber(fields[3], 1, 0x10000, &page)) {
        *error =
            tr("%1: SIZE must be 1 to 524288 bytes, ADDRBYTES 1 or 2, PAGE at least 1").arg(text);
        return false;
    }
    EepromPart custom{QStringLiteral("custom"), int(size), int(addressBytes), int(page)};
    const int block = custom.blockSize();
    if (size > block && (size % block != 0 || custom.addressCount() > 8 ||
                         (custom.addressCount() & (custom.addressCount() - 1)) != 0)) {
        *error = tr("%1: a part larger than its address bytes reach (%2 bytes) must be 2, 4 or 8 "
                    "times as large")
                     .arg(text)
                     .arg(block);
        return false;
    }
    if (page > qMin<qint64>(size, block) || qMin<qint64>(size, block) % page != 0) {
        *error = tr("%1: the page size must divide the size").arg(text);
        return false;
    }
    custom.name = QStringLiteral("custom:%1:%2:%3").arg(size).arg(addressBytes).arg(page);
    *part = custom;
    return true;
}

bool EepromPart::checkAddress(int base, QString *error) const {
    const int count = addressCount();
    if (base < 0x08 || base + count - 1 > 0x77) {
        *error = tr("%1 at 0x%2: device addresses go from 0x08 to 0x77")
                     .arg(name)
                     .arg(base, 2, 16, QLatin1Char('0'));
        return false;
    }
    if (base & (count - 1)) {
        *error = tr("%1 takes %2 device addresses; its address must be a multiple of %2 "
                    "(0x%3, not 0x%4)")
                     .arg(name)
                     .arg(count)
                     .arg(base & ~(count - 1), 2, 16, QLatin1Char('0'))
                     .arg(base, 2, 16, QLatin1Char('0'));
        return false;
    }
    return true;
}

QString EepromPart::addressRange(int base) const {
    QString text = QStringLiteral("0x%1").arg(base, 2, 16, QLatin1Char('0'));
    if (addressCount() > 1)
        text += QStringLiteral("-0x%1").arg(base + addressCount() - 1, 2, 16, QLatin1Char('0'));
    return text;
}
