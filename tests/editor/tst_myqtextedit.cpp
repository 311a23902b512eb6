#include "FileSizeLimit.h"
#include "MessageBoxCatcher.h"
#include "MyQTextEdit.h"
#include "WriteRight.h"

#include <QFontMetricsF>
#include <QMimeData>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray readFile(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// Sends a drop of `mime` onto the editor as the window system would.
bool drop(MyQTextEdit &editor, QMimeData *mime) {
    const QPoint at(5, 5);
    QDragEnterEvent enter(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(editor.viewport(), &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent dropEvent(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(editor.viewport(), &dropEvent);
    return true;
}

// Text files are in the system's 8-bit encoding: UTF-8 on Linux, the ANSI
// code page on Windows (1252 under a Western locale).
bool systemEncodingIsUtf8() {
#ifdef Q_OS_WIN
    return GetACP() == CP_UTF8;
#else
    return true;
#endif
}

bool systemCodePageIs1252() {
#ifdef Q_OS_WIN
    return GetACP() == 1252;
#else
    return false;
#endif
}

// The bytes of a text file with these lines: Windows ends them with CR LF.
QByteArray textFile(QByteArray lines) {
#ifdef Q_OS_WIN
    lines.replace("\n", "\r\n");
#endif
    return lines;
}

} // namespace

class TestMyQTextEdit : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void fontKeepsOneCharacterGrid();
    void loadsFiles_data();
    void loadsFiles();
    void loadReportsMissingFile();
    void savesFiles_data();
    void savesFiles();
    void saveReportsUnwritablePlaces_data();
    void saveReportsUnwritablePlaces();
    void failingWriteKeepsTheOldFile();
    void savingKeepsWhatTheFileIs_data();
    void savingKeepsWhatTheFileIs();
    void drops_data();
    void drops();
    void scrollingReportsAbsolutePositions();

private:
    QTemporaryDir m_dir;
};

void TestMyQTextEdit::initTestCase() {
    QVERIFY(m_dir.isValid());
}

void TestMyQTextEdit::fontKeepsOneCharacterGrid() {
    MyQTextEdit editor;
    QCOMPARE(editor.font().family(), QStringLiteral("MS Gothic"));
    QCOMPARE(editor.font().pointSize(), 9);
    // Script and result differ only in the letters of byte tokens, so every
    // character that can stand in a token or between them must be equally wide.
    const QFontMetricsF metrics(editor.font());
    const qreal width = metrics.horizontalAdvance(QStringLiteral("0"));
    QVERIFY(width > 0);
    for (const QString &s :
         {QStringLiteral("F"), QStringLiteral("A"), QStringLiteral("i"), QStringLiteral("W"),
          QStringLiteral(" "), QStringLiteral(";"), QStringLiteral(","), QStringLiteral("[")})
        QCOMPARE(metrics.horizontalAdvance(s), width);
    QCOMPARE(metrics.horizontalAdvance(QStringLiteral("A2 FF ;")),
             metrics.horizontalAdvance(QStringLiteral("a2 5c ;")));
}

void TestMyQTextEdit::loadsFiles_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("CR LF line ends") << QByteArray("A2 00\r\n;\r\n") << "A2 00\n;\n";
    QTest::newRow("empty file") << QByteArray() << "";
    if (systemEncodingIsUtf8())
        QTest::newRow("UTF-8 Japanese")
            << QByteArray("// \xe8\xaa\xad\xe3\x81\xbf\nA3 FF") << "// 読み\nA3 FF";
    if (systemCodePageIs1252())
        QTest::newRow("Western text in code page 1252")
            << QByteArray("// caf\xe9 \x80\nA3 FF") << "// café €\nA3 FF";
}

void TestMyQTextEdit::loadsFiles() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    const QString path = m_dir.filePath(QStringLiteral("load.txt"));
    writeFile(path, bytes);
    MyQTextEdit editor;
    editor.setPlainText(QStringLiteral("old"));
    editor.loadFile(path);
    QCOMPARE(editor.toPlainText(), text);
}

void TestMyQTextEdit::loadReportsMissingFile() {
    MyQTextEdit editor;
    editor.setPlainText(QStringLiteral("kept"));
    MessageBoxCatcher boxes;
    const QString path = m_dir.filePath(QStringLiteral("none.txt"));
    editor.loadFile(path);
    QCOMPARE(boxes.count, 1);
    QCOMPARE(boxes.title, QStringLiteral("File Open Error"));
#ifdef Q_OS_WIN
    // The system's words, in the system's language.
    QFile same(path);
    QVERIFY(!same.open(QIODevice::ReadOnly));
    QVERIFY(!same.errorString().isEmpty());
    QCOMPARE(boxes.text, QStringLiteral("Cannot open file for reading: ") + same.errorString());
#else
    QCOMPARE(boxes.text, QStringLiteral("Cannot open file for reading: No such file or directory"));
#endif
    QCOMPARE(boxes.icon, QMessageBox::Critical);
    QCOMPARE(editor.toPlainText(), QStringLiteral("kept"));
}

void TestMyQTextEdit::savesFiles_data() {
    QTest::addColumn<QByteArray>("old");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("message"); // empty: saved without a word
    QTest::newRow("new file") << QByteArray("<missing>") << "A2 00 ;\n"
                              << textFile("A2 00 ;\n") << QString();
    QTest::newRow("over a longer file")
        << QByteArray(500, 'x') << "A2" << QByteArray("A2") << QString();
    if (systemEncodingIsUtf8())
        QTest::newRow("Japanese in UTF-8, no byte-order mark")
            << QByteArray() << "// 読み" << QByteArray("// \xe8\xaa\xad\xe3\x81\xbf") << QString();
    if (systemCodePageIs1252()) {
        QTest::newRow("Western text in code page 1252")
            << QByteArray() << "// café €" << QByteArray("// caf\xe9 \x80") << QString();
        // A character the code page lacks would come back as another one.
        QTest::newRow("Japanese in code page 1252 is refused, the file kept")
            << QByteArray("kept") << "A2 00 ;\n// 読み" << QByteArray("kept")
            << "Cannot save the text in this system's encoding (CP1252): it cannot hold the "
               "character \"読\". Nothing was written.";
    }
}

void TestMyQTextEdit::savesFiles() {
    QFETCH(QByteArray, old);
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);
    const QString path = m_dir.filePath(QStringLiteral("save-%1.txt").arg(QTest::currentDataTag()));
    if (old != "<missing>")
        writeFile(path, old);
    MyQTextEdit editor;
    editor.setPlainText(text);
    MessageBoxCatcher boxes;
    editor.saveFile(path);
    QCOMPARE(boxes.count, message.isEmpty() ? 0 : 1);
    QCOMPARE(boxes.text, message);
    QCOMPARE(readFile(path), bytes);
}

void TestMyQTextEdit::saveReportsUnwritablePlaces_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("reasonStart");
    QTest::newRow("missing directory") << m_dir.filePath(QStringLiteral("no/such/dir.txt")) << "";
    QTest::newRow("device that is always full") << "/dev/full"
                                                << "";
}

void TestMyQTextEdit::saveReportsUnwritablePlaces() {
    QFETCH(QString, path);
    MyQTextEdit editor;
    editor.setPlainText(QStringLiteral("A2 00 ;"));
    MessageBoxCatcher boxes;
    editor.saveFile(path);
    QCOMPARE(boxes.count, 1);
    QCOMPARE(boxes.title, QStringLiteral("File Open Error"));
    QVERIFY2(boxes.text.startsWith(QLatin1String("Cannot open file for writing: ")),
             qPrintable(boxes.text));
    QVERIFY(boxes.text.size() > 30); // a reason follows
}

// A write that fails half-way (here: the file-size limit, as a full disk
// would) must not leave the user with a truncated file.
void TestMyQTextEdit::failingWriteKeepsTheOldFile() {
    if (!FileSizeLimit::works)
        QSKIP("no limit on file sizes here to make a write fail half-way");
    const QString path = m_dir.filePath(QStringLiteral("precious.txt"));
    const QByteArray old("A2 00 00 , A3 FF ;\n");
    writeFile(path, old);
    MyQTextEdit editor;
    editor.setPlainText(QString(64 * 1024, u'F'));
    MessageBoxCatcher boxes;
    {
        FileSizeLimit limit(4096);
        editor.saveFile(path);
    }
    QCOMPARE(boxes.count, 1);
    QVERIFY(boxes.text.startsWith(QLatin1String("Cannot open file for writing: ")));
    QCOMPARE(readFile(path), old);
    QCOMPARE(
        QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral("precious")),
        QStringList{QStringLiteral("precious.txt")});
}

// Saving must not turn the user's file into another one: a second hard link
// keeps seeing the text, a file in a folder that takes no new file can still
// be saved, and a file of another owner keeps its owner.
void TestMyQTextEdit::savingKeepsWhatTheFileIs_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("tooBig");
    QTest::addColumn<QString>("message");
    QTest::newRow("second hard link") << "hard link" << false << "";
    QTest::newRow("folder takes no new file") << "folder" << false << "";
    QTest::newRow("another owner") << "other owner" << false << "";
    QTest::newRow("folder takes no new file, write fails")
        << "folder" << true
        << "Cannot open file for writing: File too large\nThe file could not be replaced because "
           "its folder does not take a new file, so it was written in place; its old content was "
           "put back.";
}

void TestMyQTextEdit::savingKeepsWhatTheFileIs() {
    QFETCH(QString, kind);
    QFETCH(bool, tooBig);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("script.txt"));
    const QString twin = dir.filePath(QStringLiteral("twin.txt"));
    const QByteArray old("A2 00 00 , A3 FF ;\n");
    writeFile(path, old);
    if (tooBig && !FileSizeLimit::works)
        QSKIP("no limit on file sizes here to make a write fail half-way");
    FileTrait trait(kind, path, twin);
    if (trait.skip)
        QSKIP(trait.skip);
    QVERIFY2(trait.failure.isEmpty(), qPrintable(trait.failure));

    MyQTextEdit editor;
    const QString text = tooBig ? QString(64 * 1024, u'F') : QStringLiteral("91 FF ;");
    editor.setPlainText(text);
    MessageBoxCatcher boxes;
    {
        FileSizeLimit limit(tooBig ? 4096 : RLIM_INFINITY);
        editor.saveFile(path);
    }
    QCOMPARE(boxes.text, message);
    QCOMPARE(readFile(path), tooBig ? old : text.toUtf8());
    if (kind == QLatin1String("hard link"))
        QCOMPARE(readFile(twin), text.toUtf8());
    if (kind == QLatin1String("other owner"))
        QCOMPARE(QFileInfo(path).ownerId(), 65534u);
}

void TestMyQTextEdit::drops_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("text");
    QTest::newRow("three files: the first is loaded") << "files" << true << "first";
    QTest::newRow("a web link changes nothing") << "web" << true << "before";
    QTest::newRow("plain text is refused") << "plain" << false << "before";
    QTest::newRow("no URLs") << "empty" << true << "before";
}

void TestMyQTextEdit::drops() {
    QFETCH(QString, kind);
    QFETCH(bool, accepted);
    QFETCH(QString, text);
    QStringList paths;
    for (const char *name : {"first", "second", "third"}) {
        paths << m_dir.filePath(QString::fromLatin1(name) + QStringLiteral(".txt"));
        writeFile(paths.last(), name);
    }
    auto *mime = new QMimeData;
    if (kind == QLatin1String("files"))
        mime->setUrls({QUrl::fromLocalFile(paths[0]), QUrl::fromLocalFile(paths[1]),
                       QUrl::fromLocalFile(paths[2])});
    else if (kind == QLatin1String("web"))
        mime->setUrls({QUrl(QStringLiteral("https://www.qt.io/index.txt"))});
    else if (kind == QLatin1String("plain"))
        mime->setText(paths[0]);
    else
        mime->setData(QStringLiteral("text/uri-list"), QByteArray());
    std::unique_ptr<QMimeData> owner(mime);

    MyQTextEdit editor;
    editor.setPlainText(QStringLiteral("before"));
    QCOMPARE(drop(editor, mime), accepted);
    QCOMPARE(editor.toPlainText(), text);
}

void TestMyQTextEdit::scrollingReportsAbsolutePositions() {
    MyQTextEdit editor;
    editor.setLineWrapMode(QTextEdit::NoWrap);
    editor.resize(200, 100);
    QStringList lines;
    for (int i = 0; i < 200; ++i)
        lines << QStringLiteral("%1 ").arg(i).repeated(20);
    editor.setPlainText(lines.join(u'\n'));
    editor.show();
    QVERIFY(QTest::qWaitForWindowExposed(&editor));
    QVERIFY(editor.verticalScrollBar()->maximum() > 20);

    QSignalSpy spy(&editor, &MyQTextEdit::scrolled);
    editor.verticalScrollBar()->setValue(17);
    editor.horizontalScrollBar()->setValue(9);
    editor.verticalScrollBar()->setValue(12);
    QCOMPARE(spy.size(), 3);
    QCOMPARE(spy.at(0), (QList<QVariant>{0, 17}));
    QCOMPARE(spy.at(1), (QList<QVariant>{9, 17}));
    QCOMPARE(spy.at(2), (QList<QVariant>{9, 12}));
}

QTEST_MAIN(TestMyQTextEdit)
#include "tst_myqtextedit.moc"
