#ifndef BRANTLE_TEXTFILE_H
#define BRANTLE_TEXTFILE_H

#include <QByteArray>
#include <QString>

// The text of a script or result file as the program reads it everywhere
// (the editors' Open and drop, brantle-cli): carriage returns dropped, so
// that a file saved with Windows line ends reads like one with plain
// newlines; then the system's 8-bit encoding, unless a byte-order mark names
// another, the mark itself not part of the text.
QString decodeTextFile(QByteArray bytes);

#endif
