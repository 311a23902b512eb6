// FileSaver's Windows checks, through the Win32 calls (runs under Wine).
#include "FileSaver.h"

#include <QTemporaryDir>
#include <QtTest>

#include <windows.h>

namespace {

const QByteArray oldContent(500, 'x');
const QByteArray newContent("A2 00 00 , A3 FF ;\r\n");

QByteArray readFile(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

const wchar_t *wide(const QString &path) {
    return reinterpret_cast<const wchar_t *>(path.utf16());
}

// The file's identity and its number of names.
struct Identity {
    quint64 index = 0;
    DWORD links = 0;
};

Identity identityOf(const QString &path) {
    Identity id;
    const HANDLE h = CreateFileW(wide(path), FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    if (h != INVALID_HANDLE_VALUE && GetFileInformationByHandle(h, &info)) {
        id.index = quint64(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
        id.links = info.nNumberOfLinks;
    }
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    return id;
}

} // namespace

class TestFileSaverWindows : public QObject {
    Q_OBJECT
private slots:
    void saves_data();
    void saves();
    void refusesAReadOnlyFile();
    void folderTakesNewFile();
};

// replaced: a new file took the old one's place, rather than the old file
// being written in place.
void TestFileSaverWindows::saves_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("replaced");
    QTest::newRow("new file") << "new" << true;
    QTest::newRow("file of ours: replaced whole") << "plain" << true;
    QTest::newRow("second hard link: written in place") << "hard link" << false;
}

void TestFileSaverWindows::saves() {
    QFETCH(QString, kind);
    QFETCH(bool, replaced);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = QDir::toNativeSeparators(dir.filePath(QStringLiteral("script.txt")));
    const QString twin = QDir::toNativeSeparators(dir.filePath(QStringLiteral("twin.txt")));
    if (kind != QLatin1String("new"))
        QVERIFY(writeFile(path, oldContent));
    if (kind == QLatin1String("hard link") && !CreateHardLinkW(wide(twin), wide(path), nullptr))
        QSKIP("this file system has no hard links");
    const Identity before = identityOf(path);

    QString error;
    QVERIFY2(FileSaver::save(path, newContent, &error), qPrintable(error));
    QCOMPARE(readFile(path), newContent);
    if (kind == QLatin1String("new"))
        return;
    const Identity after = identityOf(path);
    QCOMPARE(after.index != before.index, replaced);
    if (kind == QLatin1String("hard link")) {
        QCOMPARE(int(after.links), 2);
        QCOMPARE(readFile(twin), newContent);
    }
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(),
             kind == QLatin1String("hard link") ? 2 : 1);
}

void TestFileSaverWindows::refusesAReadOnlyFile() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("read-only.txt"));
    QVERIFY(writeFile(path, oldContent));
    QVERIFY(SetFileAttributesW(wide(QDir::toNativeSeparators(path)), FILE_ATTRIBUTE_READONLY));
    auto undo = qScopeGuard(
        [&] { SetFileAttributesW(wide(QDir::toNativeSeparators(path)), FILE_ATTRIBUTE_NORMAL); });
    QString error;
    QVERIFY(!FileSaver::save(path, newContent, &error));
    QCOMPARE(readFile(path), oldContent);
    QCOMPARE(error.section(u'\n', 1), QStringLiteral("The file was left as it was."));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("read-only.txt")});
}

void TestFileSaverWindows::folderTakesNewFile() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(FileSaver::folderTakesNewFile(dir.path()));
    // The probe leaves nothing behind.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    QVERIFY(!FileSaver::folderTakesNewFile(dir.filePath(QStringLiteral("missing"))));
}

QTEST_GUILESS_MAIN(TestFileSaverWindows)
#include "tst_filesaver_win.moc"
