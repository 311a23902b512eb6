#include "TextFile.h"

#include <QStringDecoder>

#include <algorithm>

QString decodeTextFile(QByteArray bytes) {
    // In place: a script may be large, and its bytes are one copy too many.
    bytes.truncate(std::remove(bytes.begin(), bytes.end(), '\r') - bytes.begin());
    const std::optional<QStringConverter::Encoding> marked =
        QStringConverter::encodingForData(bytes);
    QStringDecoder decoder(marked ? *marked : QStringConverter::System);
    return decoder.decode(bytes);
}
