#ifndef BRANTLE_TESTS_WRITERIGHT_H
#define BRANTLE_TESTS_WRITERIGHT_H

#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <functional>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

inline bool writable(const QString &path) {
#ifdef _WIN32
    return ::_waccess(reinterpret_cast<const wchar_t *>(path.utf16()), 2) == 0;
#else
    return ::access(QFile::encodeName(path).constData(), W_OK) == 0;
#endif
}

inline bool chattr(const QString &flag, const QString &path) {
#ifdef _WIN32
    Q_UNUSED(flag);
    Q_UNUSED(path);
    return false;
#else
    return QProcess::execute(QStringLiteral("chattr"), {flag, path}) == 0;
#endif
}

// Takes the right to write `path` away, as far as this process can: the mode
// bits for a user, the immutable attribute for root (whom the mode bits do
// not stop). An immutable folder takes no new file, while the files in it
// stay writable. Returns how to undo it, or nothing when it cannot be done.
inline std::function<void()> withhold(const QString &path) {
#ifdef _WIN32
    // A folder's read-only attribute does not keep files out of it.
    if (QFileInfo(path).isDir())
        return {};
#endif
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
#ifdef _WIN32
            if (!CreateHardLinkW(reinterpret_cast<const wchar_t *>(twin.utf16()),
                                 reinterpret_cast<const wchar_t *>(path.utf16()), nullptr))
#else
            if (::link(name.constData(), QFile::encodeName(twin).constData()) != 0)
#endif
                failure = QStringLiteral("cannot link ") + twin;
        } else if (kind == QLatin1String("other owner")) {
#ifdef _WIN32
            skip = "giving a file to another owner takes a privilege the tests do not have";
#else
            if (::geteuid() != 0)
                skip = "only root can give a file to another owner";
            else if (::chown(name.constData(), 65534, 65534) != 0)
                failure = QStringLiteral("cannot give ") + path + QStringLiteral(" away");
#endif
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
