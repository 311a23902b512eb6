#ifndef BRANTLE_SCRIPTINPUT_H
#define BRANTLE_SCRIPTINPUT_H

#include <QString>

// Reads a script file, or standard input for "-", as text the way the
// window's editors read a file (decodeTextFile: the system's 8-bit
// encoding, Windows line ends as plain newlines). Nothing larger than `limit` bytes is read whole:
// a regular file is refused by its size before reading, anything else (a pipe, a device) is read in
// pieces and refused once it passes the limit.
struct ScriptInput {
    static constexpr qint64 DefaultLimit = qint64(64) * 1024 * 1024;

    enum Result { Read, CannotOpen, TooLarge };
    static Result read(const QString &name, QString *text, QString *error,
                       qint64 limit = DefaultLimit);
};

#endif
