#ifndef BRANTLE_TEXTENCODING_H
#define BRANTLE_TEXTENCODING_H

#include <QByteArray>
#include <QString>
#include <QStringConverter>

// The one way text files are read and written: in the platform's 8-bit
// encoding (UTF-8 on Linux; on Windows the ANSI code page, CP932 on Japanese
// Windows). A file that begins with a Unicode byte-order mark is read in the
// encoding the mark names, as text editors write it.
namespace TextEncoding {

QString decode(const QByteArray &bytes,
               QStringConverter::Encoding encoding = QStringConverter::System);

// `lost` is set when the encoding cannot hold some of the text's characters
// (they would come back as others): the bytes must then not replace a file.
QByteArray encode(const QString &text, bool *lost = nullptr,
                  QStringConverter::Encoding encoding = QStringConverter::System);

// The first character of `text` that `encoding` cannot hold; empty when
// there is none.
QString firstUnencodable(const QString &text,
                         QStringConverter::Encoding encoding = QStringConverter::System);

// The name of the platform's 8-bit encoding as users know it ("UTF-8",
// "CP932").
QString systemName();

} // namespace TextEncoding

#endif
