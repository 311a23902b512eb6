#include "ScriptInput.h"

#include "TextFile.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <utility>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#endif

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
        // By its descriptor, not its FILE: on Windows a read from a stdio
        // stream that has reached the end of a pipe is taken for an error,
        // so a script piped in would be refused after it was read whole.
        const int descriptor = fileno(stdin);
#ifdef Q_OS_WIN
        // The bytes as they come, as from a file: text mode would end the
        // script at a Ctrl+Z byte and turn only some line ends into newlines.
        if (descriptor >= 0)
            _setmode(descriptor, _O_BINARY);
#endif
        opened = file.open(descriptor, QIODevice::ReadOnly, QFileDevice::DontCloseHandle);
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
    // Exactly as the window reads a file it opens: the same script runs alike.
    *text = decodeTextFile(std::move(bytes));
    return Read;
}
