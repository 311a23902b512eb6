#include "TextFile.h"

#include "TextEncoding.h"

QString decodeTextFile(QByteArray bytes) {
    // Decoded first: in UTF-16 (a file with such a mark) a carriage return is
    // not a byte of its own.
    QString text = TextEncoding::decode(bytes);
    bytes.clear();
    text.remove(u'\r');
    return text;
}
