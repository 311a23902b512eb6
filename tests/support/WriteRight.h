#ifndef BRANTLE_TESTS_WRITERIGHT_H
#define BRANTLE_TESTS_WRITERIGHT_H

#include <QFile>
#include <QProcess>

#include <functional>
#include <unistd.h>

inline bool writable(const QString &path) {
    return ::access(QFile::encodeName(path).constData(), W_OK) == 0;
}

inline bool chattr(const QString &flag, const QString &path) {
    return QProcess::execute(QStringLiteral("chattr"), {flag, path}) == 0;
}

// Takes the right to write `path` away, as far as this process can: the mode
// bits for a user, the immutable attribute for root (whom the mode bits do
// not stop). An immutable folder takes no new file, while the files in it
// stay writable. Returns how to undo it, or nothing when it cannot be done.
inline std::function<void()> withhold(const QString &path) {
    const QFile::Permissions before = QFile::permissions(path);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                    QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    if (!writable(path))
        return [path, before] { QFile::setPermissions(path, before); };
    QFile::setPermissions(path, before);
    if (chattr(QStringLiteral("+i"), path) && !writable(path))
        return [path] { chattr(QStringLiteral("-i"), path); };
    return {};
}

#endif
