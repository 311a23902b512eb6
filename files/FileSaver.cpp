#include "FileSaver.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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
    if (::fsync(file.handle()) != 0) {
        *reason = qt_error_string(errno);
        return false;
    }
    return true;
}

class Saver {
    Q_DECLARE_TR_FUNCTIONS(FileSaver)

public:
    Saver(const QString &path, const QByteArray &bytes, QString *error)
        : m_path(path), m_bytes(bytes), m_error(error) {}

    bool save() {
        struct stat target {};
        if (::stat(QFile::encodeName(m_path).constData(), &target) != 0)
            return replace(nullptr);
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
        return replace(&target);
    }

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

    // `existing`: the file's status when there is one.
    bool replace(const struct stat *existing) {
        QSaveFile file(m_path);
        if (!file.open(QIODevice::WriteOnly)) {
            if (existing)
                return writeInPlace(InPlaceReason::FolderNotWritable);
            return fail(file.errorString());
        }
        if (existing) {
            struct stat fresh {};
            if (::fstat(file.handle(), &fresh) != 0 || fresh.st_uid != existing->st_uid ||
                fresh.st_gid != existing->st_gid) {
                file.cancelWriting();
                return writeInPlace(InPlaceReason::OtherOwner);
            }
        }
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
