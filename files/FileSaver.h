#ifndef BRANTLE_FILESAVER_H
#define BRANTLE_FILESAVER_H

#include <QByteArray>
#include <QFileDevice>
#include <QString>

// Saves a whole file so that a failure never leaves the user with less than
// he had. Where it is safe, the new content is written beside the file and
// renamed over it, so the old file stays whole until the new one is on disk.
// Where renaming would do harm, the file is written in place instead, every
// write checked, and on a failure its old content is written back:
// - its folder takes no new file (the user may write the file, not the folder);
// - it has more than one hard link (the others would keep the old content);
// - a new file would get another owner or group (root saving a user's file).
// The texts are translated in the context "FileSaver".
// Anything that is not a regular file (a device, a pipe) is simply written.
class FileSaver {
public:
    // True when `bytes` are the file's whole content. Otherwise `error` says
    // why (the file layer's reason) and, on a second line, what was kept.
    static bool save(const QString &path, const QByteArray &bytes, QString *error);

    // Writes all of `bytes` to an unbuffered file. The file layer reports a
    // short write (a full disk, a size limit) without a reason; this goes on
    // until a write moves nothing, so that the file's error says why.
    static bool writeAll(QFileDevice &file, const QByteArray &bytes);

    // True when a new file can be made in `folder` by this user.
    static bool folderTakesNewFile(const QString &folder);
};

#endif
