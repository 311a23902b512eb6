#include "TextEncoding.h"

#include <QStringDecoder>
#include <QStringEncoder>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

QString TextEncoding::decode(const QByteArray &bytes, QStringConverter::Encoding encoding) {
    // The decoder drops the mark itself.
    const std::optional<QStringConverter::Encoding> marked =
        QStringConverter::encodingForData(bytes);
    QStringDecoder decoder(marked ? *marked : encoding);
    return decoder(bytes);
}

QByteArray TextEncoding::encode(const QString &text, bool *lost,
                                QStringConverter::Encoding encoding) {
    QStringEncoder encoder(encoding);
    QByteArray bytes = encoder(text);
    // The system's converter on Windows puts a default character where the
    // code page has none and says nothing; reading the bytes back shows it.
    if (lost)
        *lost = encoder.hasError() || QStringDecoder(encoding)(bytes) != text;
    return bytes;
}

QString TextEncoding::firstUnencodable(const QString &text, QStringConverter::Encoding encoding) {
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype length = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString character = text.mid(i, length);
        bool lost = false;
        encode(character, &lost, encoding);
        if (lost)
            return character;
        i += length;
    }
    return QString();
}

QString TextEncoding::systemName() {
#ifdef Q_OS_WIN
    return QStringLiteral("CP%1").arg(GetACP());
#else
    return QStringLiteral("UTF-8");
#endif
}
