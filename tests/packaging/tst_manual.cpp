#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

// The manual pages as man shows them, and the options brantle-cli has.
class TestManual : public QObject {
    Q_OBJECT
private slots:
    void everyCliOptionIsDocumented_data();
    void everyCliOptionIsDocumented();
    void pagesFormatWithoutWarnings_data();
    void pagesFormatWithoutWarnings();
};

namespace {

QString page(const QString &name) {
    return QStringLiteral(BRANTLE_MAN_PAGES_DIR "/") + name + QStringLiteral(".1");
}

// The option names that stand in the tags of a page's tagged paragraphs
// (the line after each .TP), as the reader sees them: "\-" is a hyphen.
QStringList documentedOptions(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
    static const QRegularExpression option(QStringLiteral("(?<![\\w-])(--?[A-Za-z][\\w-]*)"));
    QStringList names;
    for (int i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i].trimmed() != QLatin1String(".TP"))
            continue;
        QString tag = lines[i + 1];
        tag.replace(QLatin1String("\\-"), QLatin1String("-"));
        for (const QRegularExpressionMatch &m : option.globalMatch(tag))
            names << m.captured(1);
    }
    return names;
}

} // namespace

void TestManual::everyCliOptionIsDocumented_data() {
    QTest::addColumn<QString>("option");
    QProcess cli;
    cli.start(QStringLiteral(BRANTLE_CLI), {QStringLiteral("--help")});
    QVERIFY(cli.waitForFinished(30000));
    QCOMPARE(cli.exitCode(), 0);
    // QCommandLineParser lists each option on a line of its own, indented,
    // with its short and long names first: "  -h, --help  Displays ...".
    static const QRegularExpression optionLine(QStringLiteral("^\\s+(-[^ ].*?)(\\s{2,}|$)"));
    static const QRegularExpression name(QStringLiteral("--?[A-Za-z][\\w-]*"));
    int found = 0;
    for (const QString &line : QString::fromLocal8Bit(cli.readAllStandardOutput()).split(u'\n')) {
        const QRegularExpressionMatch names = optionLine.match(line);
        if (!names.hasMatch())
            continue;
        for (const QRegularExpressionMatch &m : name.globalMatch(names.captured(1))) {
            QTest::newRow(qPrintable(m.captured(0))) << m.captured(0);
            ++found;
        }
    }
    // --help, --version, --sim, --list and the rest: a parse that finds few
    // options has gone wrong, not the manual.
    QVERIFY2(found >= 10, qPrintable(QString::number(found)));
}

void TestManual::everyCliOptionIsDocumented() {
    QFETCH(QString, option);
    QVERIFY2(documentedOptions(page(QStringLiteral("brantle-cli"))).contains(option),
             qPrintable(option + QStringLiteral(" has no paragraph in brantle-cli(1)")));
}

void TestManual::pagesFormatWithoutWarnings_data() {
    QTest::addColumn<QString>("name");
    for (const char *name : {"brantle", "brantle-sim", "brantle-cli"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestManual::pagesFormatWithoutWarnings() {
    QFETCH(QString, name);
    QProcess groff;
    groff.start(QStringLiteral("groff"), {QStringLiteral("-man"), QStringLiteral("-Tutf8"),
                                          QStringLiteral("-ww"), QStringLiteral("-z"), page(name)});
    QVERIFY2(groff.waitForStarted(), "groff is missing: run scripts/bootstrap");
    QVERIFY(groff.waitForFinished(30000));
    const QByteArray warnings = groff.readAllStandardError();
    QVERIFY2(warnings.isEmpty(), warnings.constData());
    QCOMPARE(groff.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestManual)
#include "tst_manual.moc"
