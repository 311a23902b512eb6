#include "FileSaver.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>

#ifdef Q_OS_WIN
#include <windows.h>

#include <aclapi.h>
#include <io.h>

#include <memory>
#else
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_WIN
struct FileStatus {}; // the owner is checked before the new file is made
#else
using FileStatus = struct stat;
#endif

enum class InPlaceReason { None, FolderNotWritable, MoreThanOneLink, OtherOwner };

QString joined(const QString &reason, const QString &kept) {
    return kept.isEmpty() ? reason : reason + u'\n' + kept;
}

// Writes `bytes` over the file from its start and cuts it there.
bool overwrite(QFile &file, const QByteArray &bytes, QString *reason) {
    if (!file.seek(0) || !FileSaver::writeAll(file, bytes) || !file.resize(bytes.size())) {
        *reason = file.errorString();
        return false;
    }
    // Delayed allocation and network file systems report a full disk only
    // here; a save that skipped it could claim success for lost data.
#ifdef Q_OS_WIN
    if (!FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(file.handle())))) {
        *reason = qt_error_string(int(GetLastError()));
        return false;
    }
#else
    if (::fsync(file.handle()) != 0) {
        *reason = qt_error_string(errno);
        return false;
    }
#endif
    return true;
}

#ifdef Q_OS_WIN
struct HandleCloser {
    void operator()(HANDLE h) const { CloseHandle(h); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

Handle openExisting(const QString &path, DWORD access) {
    // Backup semantics: a folder opens too, and is then found to be one.
    const HANDLE h = CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), access,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    return Handle(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

// The SID of a token's user or default owner (what new files get), as bytes.
QByteArray tokenSid(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
    DWORD size = 0;
    GetTokenInformation(token, kind, nullptr, 0, &size);
    QByteArray buffer(int(size), '\0');
    if (size == 0 || !GetTokenInformation(token, kind, buffer.data(), size, &size))
        return QByteArray();
    PSID sid = kind == TokenUser ? reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid
                                 : reinterpret_cast<TOKEN_OWNER *>(buffer.data())->Owner;
    return QByteArray(static_cast<const char *>(sid), int(GetLengthSid(sid)));
}

// True when the file belongs to someone other than this user, so that the
// new file that replaced it would change its owner (an administrator saving
// another user's file). Where the owner cannot be read, it is not taken to
// differ: the replacement is the safer way to save.
bool ownedByAnother(HANDLE file) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                        nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    bool another = false;
    HANDLE token = nullptr;
    if (owner && OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        const QByteArray fileOwner(static_cast<const char *>(owner), int(GetLengthSid(owner)));
        const QByteArray user = tokenSid(token, TokenUser);
        const QByteArray defaultOwner = tokenSid(token, TokenOwner);
        another = !user.isEmpty() && fileOwner != user && fileOwner != defaultOwner;
        CloseHandle(token);
    }
    LocalFree(descriptor);
    return another;
}
#endif

class Saver {
    Q_DECLARE_TR_FUNCTIONS(FileSaver)

public:
    Saver(const QString &path, const QByteArray &bytes, QString *error)
        : m_path(path), m_bytes(bytes), m_error(error) {}

#ifdef Q_OS_WIN
    bool save() {
        BY_HANDLE_FILE_INFORMATION info{};
        bool regular = false;
        bool another = false;
        {
            // Closed again before the file is written or replaced: Windows
            // renames nothing over a file that is open.
            const Handle target = openExisting(m_path, FILE_READ_ATTRIBUTES | READ_CONTROL);
            if (!target)
                return replace(false);
            regular = GetFileType(target.get()) == FILE_TYPE_DISK &&
                      GetFileInformationByHandle(target.get(), &info) &&
                      !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
            another = regular && ownedByAnother(target.get());
        }
        if (!regular)
            return writeThrough();
        // A file marked read-only is not to be written, whoever could.
        if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
            return fail(qt_error_string(ERROR_ACCESS_DENIED), tr("The file was left as it was."));
        // The file's access list, and another program that holds it without
        // sharing, show here.
        if (!openExisting(m_path, GENERIC_WRITE))
            return refuse();
        // A folder that takes no new file shows when the new file cannot be
        // made beside the old one (replace()); the read-only attribute of a
        // folder does not keep files from being made in it.
        if (info.nNumberOfLinks > 1)
            return writeInPlace(InPlaceReason::MoreThanOneLink);
        if (another)
            return writeInPlace(InPlaceReason::OtherOwner);
        return replace(true);
    }
#else
    bool save() {
        struct stat target {};
        if (::stat(QFile::encodeName(m_path).constData(), &target) != 0)
            return replace(false);
        if (!S_ISREG(target.st_mode))
            return writeThrough();
        if (::access(QFile::encodeName(m_path).constData(), W_OK) != 0)
            return refuse();
        // A link is followed: the file it names is the one saved, and its
        // folder is the one that must take the new file.
        const QString folder = QFileInfo(QFileInfo(m_path).canonicalFilePath()).absolutePath();
        if (::access(QFile::encodeName(folder).constData(), W_OK) != 0)
            return writeInPlace(InPlaceReason::FolderNotWritable);
        if (target.st_nlink > 1)
            return writeInPlace(InPlaceReason::MoreThanOneLink);
        return replace(true, &target);
    }
#endif

private:
    bool fail(const QString &reason, const QString &kept = QString()) {
        if (m_error)
            *m_error = joined(reason, kept);
        return false;
    }

    // The file exists but may not be written: opening it for reading and
    // writing (which truncates nothing) gives the file layer's reason.
    bool refuse() {
        QFile file(m_path);
        if (file.open(QIODevice::ReadWrite))
            return writeInPlace(InPlaceReason::None);
        return fail(file.errorString(), tr("The file was left as it was."));
    }

    bool writeThrough() {
        QFile file(m_path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return fail(file.errorString());
        if (!FileSaver::writeAll(file, m_bytes))
            return fail(file.errorString());
        file.close();
        if (file.error() != QFileDevice::NoError)
            return fail(file.errorString());
        return true;
    }

    // `existing`: whether there is a file to replace; `status`: its status,
    // where the new file's owner is checked once it is made.
    bool replace(bool existing, const FileStatus *status = nullptr) {
        QSaveFile file(m_path);
        if (!file.open(QIODevice::WriteOnly)) {
            if (existing)
                return writeInPlace(InPlaceReason::FolderNotWritable);
            return fail(file.errorString());
        }
#ifdef Q_OS_WIN
        Q_UNUSED(status)
#else
        if (status) {
            struct stat fresh {};
            if (::fstat(file.handle(), &fresh) != 0 || fresh.st_uid != status->st_uid ||
                fresh.st_gid != status->st_gid) {
                file.cancelWriting();
                return writeInPlace(InPlaceReason::OtherOwner);
            }
        }
#endif
        const bool written = file.write(m_bytes) == m_bytes.size();
        if (written && file.commit())
            return true;
        const QString reason = file.errorString();
        file.cancelWriting();
        return fail(reason, existing ? tr("The old file was kept unchanged.") : QString());
    }

    bool writeInPlace(InPlaceReason why) {
        QFile file(m_path);
        if (!file.open(QIODevice::ReadWrite | QIODevice::Unbuffered))
            return fail(file.errorString(), tr("The file was left as it was."));
        const QByteArray old = file.readAll();
        QString reason = file.errorString();
        const bool oldRead = file.error() == QFileDevice::NoError;
        if (oldRead && overwrite(file, m_bytes, &reason)) {
            file.close();
            if (file.error() == QFileDevice::NoError)
                return true;
            reason = file.errorString();
        }
        file.unsetError();
        // Overwriting the bytes it had needs no space the file did not
        // already hold, so on a full disk this normally succeeds.
        QString ignored;
        const bool restored = oldRead && overwrite(file, old, &ignored);
        return fail(reason, inPlaceNote(why, restored));
    }

    static QString inPlaceNote(InPlaceReason why, bool restored) {
        QString because;
        switch (why) {
        case InPlaceReason::FolderNotWritable:
            because = tr("its folder does not take a new file");
            break;
        case InPlaceReason::MoreThanOneLink:
            because = tr("it has more than one link");
            break;
        case InPlaceReason::OtherOwner:
            because = tr("a new file would have another owner or group");
            break;
        case InPlaceReason::None:
            break;
        }
        if (because.isEmpty())
            return restored ? tr("Its old content was put back.")
                            : tr("Its old content could not be put back: the file is incomplete.");
        return restored ? tr("The file could not be replaced because %1, so it was written in "
                             "place; its old content was put back.")
                              .arg(because)
                        : tr("The file could not be replaced because %1, so it was written in "
                             "place; its old content could not be put back: the file is "
                             "incomplete.")
                              .arg(because);
    }

    const QString &m_path;
    const QByteArray &m_bytes;
    QString *m_error;
};

} // namespace

bool FileSaver::save(const QString &path, const QByteArray &bytes, QString *error) {
    return Saver(path, bytes, error).save();
}

bool FileSaver::folderTakesNewFile(const QString &folder) {
    if (!QFileInfo(folder).isDir())
        return false;
#ifdef Q_OS_WIN
    // Windows reports a folder as writable unless it is marked read-only,
    // which says nothing about its access list (the program's folder under
    // Program Files): a file is made there and removed again.
    QTemporaryFile probe(folder + QStringLiteral("/.brantle-XXXXXX"));
    return probe.open();
#else
    return ::access(QFile::encodeName(folder).constData(), W_OK) == 0;
#endif
}

bool FileSaver::writeAll(QFileDevice &file, const QByteArray &bytes) {
    qint64 done = 0;
    while (done < bytes.size()) {
        const qint64 n = file.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}
