#ifndef BRANTLE_MEMORYIMAGE_H
#define BRANTLE_MEMORYIMAGE_H

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <QVector>

// What a file holds for a memory: runs of bytes at their addresses. A raw
// binary file is one run at 0; an Intel HEX file (a name ending in ".hex")
// may leave gaps, which are not touched.
class MemoryImage {
    Q_DECLARE_TR_FUNCTIONS(MemoryImage)

public:
    struct Run {
        qint64 address = 0;
        QByteArray bytes;
    };

    static bool isHexName(const QString &fileName);

    // Fails with the reason (and for HEX the line) in `error`.
    static bool fromHex(const QByteArray &text, MemoryImage *image, QString *error);
    // Records of 16 bytes, extended linear address records where the upper
    // 16 bits change, and the end record. Lines end in CR LF, as the format's
    // tools expect on every platform.
    static QByteArray toHex(qint64 address, const QByteArray &bytes);

    // The file's contents as an image, by the file name's ending.
    static bool load(const QString &fileName, MemoryImage *image, QString *error);

    const QVector<Run> &runs() const { return m_runs; }
    void addRun(qint64 address, const QByteArray &bytes);
    qint64 byteCount() const;
    // One past the highest address, 0 when empty.
    qint64 end() const;

private:
    QVector<Run> m_runs; // in address order, not overlapping, not touching
};

#endif
