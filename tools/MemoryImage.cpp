#include "MemoryImage.h"

#include <QFile>
#include <QMap>

#include <algorithm>

bool MemoryImage::isHexName(const QString &fileName) {
    return fileName.endsWith(QLatin1String(".hex"), Qt::CaseInsensitive);
}

void MemoryImage::addRun(qint64 address, const QByteArray &bytes) {
    if (bytes.isEmpty())
        return;
    m_runs.append({address, bytes});
}

qint64 MemoryImage::byteCount() const {
    qint64 n = 0;
    for (const Run &r : m_runs)
        n += r.bytes.size();
    return n;
}

qint64 MemoryImage::end() const {
    qint64 e = 0;
    for (const Run &r : m_runs)
        e = qMax(e, r.address + r.bytes.size());
    return e;
}

bool MemoryImage::fromHex(const QByteArray &text, MemoryImage *image, QString *error) {
    QMap<qint64, char> bytes;
    qint64 upper = 0;
    bool ended = false;
    const QList<QByteArray> lines = text.split('\n');
    for (int n = 0; n < lines.size(); ++n) {
        const QByteArray line = lines[n].trimmed();
        if (line.isEmpty())
            continue;
        auto fail = [&](const QString &why) {
            *error = tr("line %1: %2").arg(n + 1).arg(why);
            return false;
        };
        if (ended)
            return fail(tr("records after the end record"));
        if (line.at(0) != ':' || line.size() < 11 || line.size() % 2 == 0)
            return fail(tr("not an Intel HEX record"));
        const QByteArray raw = QByteArray::fromHex(line.mid(1));
        bool digits = true;
        for (int i = 1; i < line.size(); ++i)
            digits = digits && isxdigit(uchar(line.at(i)));
        if (!digits || raw.size() != (line.size() - 1) / 2)
            return fail(tr("not an Intel HEX record"));
        const int count = quint8(raw.at(0));
        if (raw.size() != count + 5)
            return fail(tr("the record's length does not match its byte count"));
        quint8 sum = 0;
        for (char c : raw)
            sum = quint8(sum + quint8(c));
        if (sum != 0)
            return fail(tr("checksum error"));
        const int offset = (quint8(raw.at(1)) << 8) | quint8(raw.at(2));
        const int type = quint8(raw.at(3));
        const QByteArray data = raw.mid(4, count);
        switch (type) {
        case 0:
            for (int i = 0; i < count; ++i)
                bytes[upper + ((offset + i) & 0xFFFF)] = data.at(i);
            break;
        case 1:
            ended = true;
            break;
        case 2:
        case 4:
            if (count != 2)
                return fail(tr("an address record needs two bytes"));
            upper = ((quint8(data.at(0)) << 8) | quint8(data.at(1)));
            upper = type == 2 ? upper << 4 : upper << 16;
            break;
        case 3:
        case 5:
            break; // start addresses mean nothing to a memory
        default:
            return fail(tr("unknown record type %1").arg(type));
        }
    }
    if (!ended) {
        *error = tr("no end record");
        return false;
    }
    MemoryImage result;
    QByteArray run;
    qint64 runStart = 0;
    qint64 next = -1;
    for (auto it = bytes.cbegin(); it != bytes.cend(); ++it) {
        if (it.key() != next) {
            result.addRun(runStart, run);
            run.clear();
            runStart = it.key();
        }
        run.append(it.value());
        next = it.key() + 1;
    }
    result.addRun(runStart, run);
    *image = result;
    return true;
}

QByteArray MemoryImage::toHex(qint64 address, const QByteArray &bytes) {
    QByteArray out;
    auto record = [&out](int type, int offset, const QByteArray &data) {
        QByteArray raw;
        raw.append(char(data.size()));
        raw.append(char(offset >> 8));
        raw.append(char(offset & 0xFF));
        raw.append(char(type));
        raw.append(data);
        quint8 sum = 0;
        for (char c : raw)
            sum = quint8(sum + quint8(c));
        raw.append(char(quint8(-sum)));
        out += ':' + raw.toHex().toUpper() + "\r\n";
    };
    qint64 upper = 0;
    for (qint64 i = 0; i < bytes.size();) {
        const qint64 at = address + i;
        if ((at >> 16) != upper) {
            upper = at >> 16;
            QByteArray ext;
            ext.append(char(upper >> 8));
            ext.append(char(upper & 0xFF));
            record(4, 0, ext);
        }
        // A record never runs across a 64 KiB boundary.
        const qint64 room = 0x10000 - (at & 0xFFFF);
        const int n = int(std::min<qint64>({16, bytes.size() - i, room}));
        record(0, int(at & 0xFFFF), bytes.mid(i, n));
        i += n;
    }
    record(1, 0, QByteArray());
    return out;
}

bool MemoryImage::load(const QString &fileName, MemoryImage *image, QString *error) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    // Nothing a 24-series part holds comes near this; a larger file is a
    // mistake, and would only be refused after reading it all.
    constexpr qint64 largest = 64 * 1024 * 1024;
    if (file.size() > largest) {
        *error = tr("%1 bytes is larger than any part").arg(file.size());
        return false;
    }
    const QByteArray contents = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *error = file.errorString();
        return false;
    }
    if (isHexName(fileName))
        return fromHex(contents, image, error);
    *image = MemoryImage();
    image->addRun(0, contents);
    return true;
}
