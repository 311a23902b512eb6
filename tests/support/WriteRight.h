#ifndef BRANTLE_TESTS_WRITERIGHT_H
#define BRANTLE_TESTS_WRITERIGHT_H

#include <QFile>
#include <QFileInfo>
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

// Gives the existing file at `path` a trait that keeps a save from simply
// replacing it: "hard link" (a second name, `twin`), "other owner" (it
// belongs to nobody), "folder" (its folder takes no new file). Anything else
// leaves the file as it is. `skip` says why this process cannot arrange the
// trait; `failure` that arranging it went wrong. Undone when it goes.
class FileTrait {
public:
    FileTrait(const QString &kind, const QString &path, const QString &twin = QString()) {
        const QByteArray name = QFile::encodeName(path);
        if (kind == QLatin1String("hard link")) {
            if (::link(name.constData(), QFile::encodeName(twin).constData()) != 0)
                failure = QStringLiteral("cannot link ") + twin;
        } else if (kind == QLatin1String("other owner")) {
            if (::geteuid() != 0)
                skip = "only root can give a file to another owner";
            else if (::chown(name.constData(), 65534, 65534) != 0)
                failure = QStringLiteral("cannot give ") + path + QStringLiteral(" away");
        } else if (kind == QLatin1String("folder")) {
            m_undo = withhold(QFileInfo(path).absolutePath());
            if (!m_undo)
                skip = "this process cannot take the right to write a folder from itself";
        }
    }
    ~FileTrait() {
        if (m_undo)
            m_undo();
    }
    FileTrait(const FileTrait &) = delete;
    FileTrait &operator=(const FileTrait &) = delete;

    const char *skip = nullptr;
    QString failure;

private:
    std::function<void()> m_undo;
};

#endif
