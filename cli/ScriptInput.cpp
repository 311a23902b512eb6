#include "ScriptInput.h"

#include "TextEncoding.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace {

constexpr qint64 PieceSize = 1024 * 1024;

QString tooLarge(qint64 limit) {
    return QStringLiteral("the script is larger than %1 MiB").arg(limit / (1024 * 1024));
}

} // namespace

ScriptInput::Result ScriptInput::read(const QString &name, QString *text, QString *error,
                                      qint64 limit) {
    QFile file;
    bool opened;
    if (name == QLatin1String("-")) {
        opened = file.open(stdin, QIODevice::ReadOnly);
    } else {
        file.setFileName(name);
        // A regular file says how large it is: refuse it before reading any of it.
        const QFileInfo info(name);
        if (info.isFile() && info.size() > limit) {
            *error = tooLarge(limit);
            return TooLarge;
        }
        opened = file.open(QIODevice::ReadOnly);
    }
    if (!opened) {
        *error = file.errorString();
        return CannotOpen;
    }

    // A pipe, a device such as /dev/zero, or a file that grows while we read:
    // read at most one byte past the limit.
    QByteArray bytes;
    for (;;) {
        const qint64 want = qMin(PieceSize, limit + 1 - bytes.size());
        const QByteArray piece = file.read(want);
        if (piece.isEmpty())
            break;
        bytes += piece;
        if (bytes.size() > limit) {
            *error = tooLarge(limit);
            return TooLarge;
        }
    }
    if (file.error() != QFileDevice::NoError) {
        *error = file.errorString();
        return CannotOpen;
    }
    *text = TextEncoding::decode(bytes);
    return Read;
}
