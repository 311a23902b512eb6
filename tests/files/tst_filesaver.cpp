#include "FileSaver.h"
#include "FileSizeLimit.h"
#include "WriteRight.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

const QByteArray oldContent(500, 'x');
const QByteArray newContent("A2 00 00 , A3 FF ;\n");

QByteArray readFile(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

struct stat statOf(const QString &path) {
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st;
}

QStringList leftovers(const QString &dir) {
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

} // namespace

class TestFileSaver : public QObject {
    Q_OBJECT
private slots:
    void saves_data();
    void saves();
    void failures_data();
    void failures();
    void refusesAFileThatMayNotBeWritten();
};

// kind: what stands at the path before the save.
// replaced: the new content arrives in a new file (renamed over the old one)
// rather than in the old file itself.
void TestFileSaver::saves_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("replaced");
    QTest::newRow("new file") << "new" << true;
    QTest::newRow("file of ours: replaced whole") << "plain" << true;
    QTest::newRow("link to a file: the file is saved") << "symlink" << true;
    QTest::newRow("second hard link: written in place") << "hard link" << false;
    QTest::newRow("another owner: written in place") << "other owner" << false;
    QTest::newRow("folder takes no new file: written in place") << "folder" << false;
}

void TestFileSaver::saves() {
    QFETCH(QString, kind);
    QFETCH(bool, replaced);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("script.txt"));
    const QString target = dir.filePath(QStringLiteral("target.txt"));
    if (kind != QLatin1String("new"))
        QVERIFY(writeFile(kind == QLatin1String("symlink") ? target : path, oldContent));
    if (kind == QLatin1String("symlink"))
        QVERIFY(QFile::link(target, path));
    FileTrait trait(kind, path, dir.filePath(QStringLiteral("other name.txt")));
    if (trait.skip)
        QSKIP(trait.skip);
    QVERIFY2(trait.failure.isEmpty(), qPrintable(trait.failure));
    const struct stat before = statOf(kind == QLatin1String("symlink") ? target : path);

    QString error;
    QVERIFY2(FileSaver::save(path, newContent, &error), qPrintable(error));
    QCOMPARE(readFile(path), newContent);
    // Nothing left behind beside the file (and its other name).
    const bool twoNames = kind == QLatin1String("symlink") || kind == QLatin1String("hard link");
    QCOMPARE(leftovers(dir.path()).size(), twoNames ? 2 : 1);
    if (kind == QLatin1String("new"))
        return;
    const struct stat after = statOf(kind == QLatin1String("symlink") ? target : path);
    QCOMPARE(after.st_ino != before.st_ino, replaced);
    QCOMPARE(after.st_uid, before.st_uid);
    QCOMPARE(after.st_gid, before.st_gid);
    QCOMPARE(after.st_mode, before.st_mode);
    if (kind == QLatin1String("symlink"))
        QVERIFY(QFileInfo(path).isSymLink());
    if (kind == QLatin1String("hard link")) {
        QCOMPARE(readFile(dir.filePath(QStringLiteral("other name.txt"))), newContent);
        QCOMPARE(int(after.st_nlink), 2);
    }
}

// A write that fails half-way (the file-size limit, as a full disk would)
// leaves the old content in the file, and the message says so.
void TestFileSaver::failures_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("kept");
    QTest::newRow("replacing") << "plain" << oldContent << "The old file was kept unchanged.";
    QTest::newRow("new file") << "new" << QByteArray("<missing>") << "";
    QTest::newRow("in place")
        << "folder" << oldContent
        << "The file could not be replaced because its folder does not take a new file, so it "
           "was written in place; its old content was put back.";
    QTest::newRow("in place, second link")
        << "hard link" << oldContent
        << "The file could not be replaced because it has more than one link, so it was written "
           "in place; its old content was put back.";
}

void TestFileSaver::failures() {
    QFETCH(QString, kind);
    QFETCH(QByteArray, content);
    QFETCH(QString, kept);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("precious.txt"));
    if (kind != QLatin1String("new"))
        QVERIFY(writeFile(path, oldContent));
    FileTrait trait(kind, path, dir.filePath(QStringLiteral("twin")));
    if (trait.skip)
        QSKIP(trait.skip);
    QVERIFY2(trait.failure.isEmpty(), qPrintable(trait.failure));
    const QStringList before = leftovers(dir.path());

    QString error;
    bool saved;
    {
        FileSizeLimit limit(4096);
        saved = FileSaver::save(path, QByteArray(64 * 1024, 'F'), &error);
    }
    QVERIFY(!saved);
    QCOMPARE(readFile(path), content);
    const QStringList lines = error.split(u'\n');
    QVERIFY2(!lines[0].isEmpty(), "a reason");
    QCOMPARE(lines.value(1), kept);
    QCOMPARE(leftovers(dir.path()), before);
}

void TestFileSaver::refusesAFileThatMayNotBeWritten() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("read-only.txt"));
    QVERIFY(writeFile(path, oldContent));
    const std::function<void()> undo = withhold(path);
    if (!undo)
        QSKIP("this process cannot take the right to write a file from itself");
    auto cleanup = qScopeGuard(undo);
    QString error;
    QVERIFY(!FileSaver::save(path, newContent, &error));
    QCOMPARE(readFile(path), oldContent);
    QCOMPARE(error.section(u'\n', 1), QStringLiteral("The file was left as it was."));
    QCOMPARE(leftovers(dir.path()), QStringList{QStringLiteral("read-only.txt")});
}

QTEST_GUILESS_MAIN(TestFileSaver)
#include "tst_filesaver.moc"
