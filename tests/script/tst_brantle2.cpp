#include "Brantle2.h"
#include "CompileScript.h"
#include "ScanStream.h"

#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>
#include <QTranslator>
#include <QtTest>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

QByteArray hex(const char *text) {
    return QByteArray::fromHex(QByteArray(text));
}

// One whole send without the adapter: compile, merge `reply` over the
// placeholders, render.
QString roundTrip(const QString &script, const QByteArray &reply, int clock = 1) {
    Brantle2 converter;
    converter.clock = clock;
    QString text = script;
    QByteArray stream;
    converter.convert(text, Brantle2::Compile, stream);
    int readCount = 0;
    scanStream(stream, true, &readCount,
               reinterpret_cast<const unsigned char *>(reply.constData()));
    converter.convert(text, Brantle2::Render, stream);
    return text;
}

QString defaultScript() {
    QFile file(QStringLiteral(BRANTLE_EXAMPLES_DIR "/eeprom-read.txt"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

// Stands in for a catalogue that translates the message prefix, as the
// Japanese one does.
class PrefixTranslator : public QTranslator {
public:
    QString translate(const char *context, const char *source, const char *, int) const override {
        const QString text = QString::fromUtf8(source);
        if (qstrcmp(context, "Brantle2") != 0 || !text.startsWith(QLatin1String("Parse Error: ")))
            return {};
        return QStringLiteral("文法エラー：　") + text.mid(13).toUpper();
    }
    bool isEmpty() const override { return false; }
};

} // namespace

class TestBrantle2 : public QObject {
    Q_OBJECT
private slots:
    void compiles_data();
    void compiles();
    void rejects_data();
    void rejects();
    void renders_data();
    void renders();
    void defaultScriptCompilesToItsKnownSize();
    void errorsKeepIndexAndLengthUnderATranslatedCatalogue();
    void renderOfAForeignStreamIsAnUnexpectedError();
    void randomScriptsRenderInPlace();
    void lengthLimit_data();
    void lengthLimit();
    void scriptOfTwoToTheThirtyOneUnitsIsRefused();
};

void TestBrantle2::compiles_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("clock");
    QTest::addColumn<QByteArray>("stream");

    QTest::newRow("empty") << "" << 1 << hex("0001 0012");
    QTest::newRow("comments and blanks only") << "// a2 a3 ,;\n \t\n//x" << 0 << hex("0001 0011");
    QTest::newRow("write, repeated start, read")
        << "A2 00 00 , A3\nFF FF ;" << 0 << hex("0001 0011 0013 A2 0000 0000 0013 A3 FF FF 0014");
    QTest::newRow("write, stop, start, read")
        << "A2 00 00 ; A3\nFF FF ;" << 0
        << hex("0001 0011 0013 A2 0000 0000 0014 0013 A3 FF FF 0014");
    QTest::newRow("lower case, no blanks")
        << "a2,a2 10;" << 1 << hex("0001 0012 0013 A2 0013 A2 10 0014");
    QTest::newRow("stop then implied start")
        << "A2;A3" << 1 << hex("0001 0012 0013 A2 0014 0013 A3");
    QTest::newRow("zero address and data")
        << "00 00 ;" << 1 << hex("0001 0012 0013 0000 0000 0014");
    QTest::newRow("read values do not matter")
        << "A3 00 12 ;" << 1 << hex("0001 0012 0013 A3 FF FF 0014");
    QTest::newRow("same address after repeated start")
        << "A2 , A2 ;" << 1 << hex("0001 0012 0013 A2 0013 A2 0014");
    QTest::newRow("wait 5 ms") << "[wait 5]" << 1 << hex("0001 0012 0030 0401 FA00");
    QTest::newRow("wait one unit") << "[wait 0.02]" << 1 << hex("0001 0012 0030 0401 0100");
    QTest::newRow("WAIT in any case")
        << "[WAIT 5][Wait 5]" << 1 << hex("0001 0012 0030 0401 FA00 0030 0401 FA00");
    QTest::newRow("longest wait") << "[wait 1310.7]" << 1 << hex("0001 0012 0030 0401 FFFF");
    QTest::newRow("wait below one unit") << "[wait 0.01]" << 1 << hex("0001 0012 0030 0401 0000");
    QTest::newRow("wait rounding in double")
        << "[wait 0.58]" << 1 << hex("0001 0012 0030 0401 1C00");
    QTest::newRow("wait with sign") << "[wait +1]" << 1 << hex("0001 0012 0030 0401 3200");
    QTest::newRow("negative wait truncating to zero")
        << "[wait -0.01]" << 1 << hex("0001 0012 0030 0401 0000");
    QTest::newRow("wait between start and address")
        << ", [wait 1] A2 ;" << 1 << hex("0001 0012 0013 0030 0401 3200 A2 0014");
    QTest::newRow("wait inside a read")
        << "A3 FF [wait 1] FF ;" << 1 << hex("0001 0012 0013 A3 FF 0030 0401 3200 FF 0014");
    QTest::newRow("implicit stop after write") << "A2 10" << 1 << hex("0001 0012 0013 A2 10 0014");
    QTest::newRow("implicit stop after read") << "A3 FF" << 1 << hex("0001 0012 0013 A3 FF 0014");
    QTest::newRow("no stop after a start") << "A2 ," << 1 << hex("0001 0012 0013 A2 0013");
    QTest::newRow("no stop after a read address") << "A3" << 1 << hex("0001 0012 0013 A3");
    QTest::newRow("separators inside comments and brackets do not count")
        << "A2 // , ; 00\n10" << 1 << hex("0001 0012 0013 A2 10 0014");
    QTest::newRow("comment at the end without newline")
        << "A2 10 ; // done" << 1 << hex("0001 0012 0013 A2 10 0014");
    QTest::newRow("tabs and newlines are blanks")
        << "\tA2\n\n10\t;" << 1 << hex("0001 0012 0013 A2 10 0014");
}

void TestBrantle2::compiles() {
    QFETCH(QString, script);
    QFETCH(int, clock);
    QFETCH(QByteArray, stream);
    try {
        QCOMPARE(compile(script, clock).toHex(' '), stream.toHex(' '));
    } catch (const QString &e) {
        QFAIL(qPrintable(e));
    }
}

void TestBrantle2::rejects_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("message");

    const QString uninterpretable = QStringLiteral("It was not possible to interpret it. ");
    const QString twoDigits = QStringLiteral("Hex data must be specify by of two digits. ");
    auto bracket = [](const char *span) {
        return QStringLiteral("'%1' was not possible to interpret it. ").arg(QLatin1String(span));
    };

    QTest::newRow("one digit") << "A2 0 ;" << 3 << 1 << twoDigits;
    QTest::newRow("tokens need no blanks")
        << "A2,A3;" << 5 << 1
        << QStringLiteral("The stop condition cannot be specified immediately after the "
                          "address of the slave (read). ");
    QTest::newRow("lone digit") << "A" << 0 << 1 << twoDigits;
    QTest::newRow("three digits") << "A2B" << 0 << 3 << twoDigits;
    QTest::newRow("four digits") << "A2A3" << 0 << 4 << twoDigits;
    QTest::newRow("C notation") << "0x12" << 0 << 1 << twoDigits;
    QTest::newRow("carriage return") << "A2\r\n;" << 2 << 1 << uninterpretable;
    QTest::newRow("ideographic space") << "A2\u3000;" << 2 << 1 << uninterpretable;
    QTest::newRow("lone slash") << "A2 / x" << 3 << 1 << uninterpretable;
    QTest::newRow("closing bracket") << "] A2" << 0 << 1 << uninterpretable;
    QTest::newRow("bracket never closed") << "A2 ; [wait 5" << 5 << 1 << uninterpretable;
    QTest::newRow("other letter") << "\n  G1" << 3 << 1 << uninterpretable;
    QTest::newRow("junk at the end") << "A2 ;\n#" << 5 << 1 << uninterpretable;
    QTest::newRow("two blanks in wait") << "[wait  5]" << 0 << 9 << bracket("[wait  5]");
    QTest::newRow("blank before bracket") << "[wait 5 ]" << 0 << 9 << bracket("[wait 5 ]");
    QTest::newRow("no integer part") << "[wait .5]" << 0 << 9 << bracket("[wait .5]");
    QTest::newRow("no fraction digits") << "[wait 5.]" << 0 << 9 << bracket("[wait 5.]");
    QTest::newRow("exponent") << "[wait 1e3]" << 0 << 10 << bracket("[wait 1e3]");
    QTest::newRow("other command") << "[pause 5]" << 0 << 9 << bracket("[pause 5]");
    QTest::newRow("full-width digit")
        << "[wait \uFF15]" << 0 << 8
        << QStringLiteral("'[wait \uFF15]' was not possible to interpret it. ");
    QTest::newRow("span through the last bracket")
        << "[x] 00 [wait 1]" << 0 << 15 << bracket("[x] 00 [wait 1]");
    QTest::newRow("span across lines") << "A2 [x\n] 00" << 3 << 4 << bracket("[x\n]");
    QTest::newRow("negative wait") << "[wait -1]" << 0 << 9 << bracket("[wait -1]");
    QTest::newRow("wait one unit too long")
        << "[wait 1310.72]" << 0 << 14 << bracket("[wait 1310.72]");
    QTest::newRow("wait far too long") << "[wait 99999]" << 0 << 12 << bracket("[wait 99999]");
    QTest::newRow("wait beyond any integer")
        << "[wait 99999999999999999999999]" << 0 << 30 << bracket("[wait 99999999999999999999999]");
    QTest::newRow("stop outside a transaction")
        << "; A2" << 0 << 1 << QStringLiteral("Stop condition occured on waiting start condition.");
    QTest::newRow("start after start")
        << ", ," << 2 << 1 << QStringLiteral("Start condition occured on waiting slave address.");
    QTest::newRow("stop after start")
        << ", ;" << 2 << 1 << QStringLiteral("Stop condition occured on waiting sllave address.");
    QTest::newRow("start after read address")
        << "A3 ," << 3 << 1
        << QStringLiteral("The start condition cannot be specified immediately after the "
                          "address of the slave (read). ");
    QTest::newRow("stop after read address")
        << "A3 ;" << 3 << 1
        << QStringLiteral("The stop condition cannot be specified immediately after the "
                          "address of the slave (read). ");
    QTest::newRow("start during a read")
        << "A3 FF ," << 6 << 1
        << QStringLiteral("Start condition occured on waiting stop condition or data.");
}

void TestBrantle2::rejects() {
    QFETCH(QString, script);
    QFETCH(int, index);
    QFETCH(int, length);
    QFETCH(QString, message);

    Brantle2 converter;
    QString text = script;
    QByteArray stream;
    try {
        converter.convert(text, Brantle2::Compile, stream);
        QFAIL("the script was accepted");
    } catch (const ScriptParseError &e) {
        QCOMPARE(e.index, index);
        QCOMPARE(e.length, length);
        QCOMPARE(e.message, message);
        QCOMPARE(QString(e), QStringLiteral("Parse Error: Index=%1, Length=%2, %3")
                                 .arg(index)
                                 .arg(length)
                                 .arg(message));
    }
    QCOMPARE(text, script);
}

void TestBrantle2::renders_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("clock");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("result");

    QTest::newRow("read after repeated start")
        << "A2 00 00 , A3\nFF FF ;" << 0 << hex("5A C3 00") << "A2 00 00 , A3\n5A C3 ;";
    QTest::newRow("comment, lower case and wait")
        << "// read 2\na2 10 , a3 ff ff ; [wait 1]" << 1 << hex("05 A0 40")
        << "// read 2\nA2 10 , A3 05 A0 ; [wait 1]";
    QTest::newRow("no reads: only the case changes")
        << "a2 0f // ab cd\n;" << 1 << hex("00") << "A2 0F // ab cd\n;";
    QTest::newRow("placeholders written as other bytes")
        << "A3 00 12 ;" << 1 << hex("11 22 00") << "A3 11 22 ;";
    QTest::newRow("zero bytes and a read after a stop")
        << "00 00 ; A3 FF" << 1 << hex("00 00") << "00 00 ; A3 00";
    QTest::newRow("wait with zero count bytes")
        << "A3 [wait 0.01] FF ;" << 1 << hex("7E 00") << "A3 [wait 0.01] 7E ;";
    QTest::newRow("empty") << "" << 1 << hex("00") << "";
}

void TestBrantle2::renders() {
    QFETCH(QString, script);
    QFETCH(int, clock);
    QFETCH(QByteArray, reply);
    QFETCH(QString, result);
    QCOMPARE(roundTrip(script, reply, clock), result);
}

void TestBrantle2::defaultScriptCompilesToItsKnownSize() {
    const QString script = defaultScript();
    QCOMPARE(script.count(u'\n') + 1, 28);
    const QByteArray stream = compile(script);
    QCOMPARE(stream.size(), 164);
    QByteArray copy = stream;
    int readCount = -1;
    scanStream(copy, false, &readCount, nullptr);
    QCOMPARE(readCount, 128);

    QByteArray reply(129, 0);
    for (int i = 0; i < 128; ++i)
        reply[i] = char(i);
    const QString result = roundTrip(script, reply);
    QCOMPARE(result.size(), script.size());
    QVERIFY(result.contains(QLatin1String("\n00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \n")));
    QCOMPARE(result.section(u'\n', -1),
             QLatin1String("70 71 72 73 74 75 76 77 78 79 7A 7B 7C 7D 7E 7F ;"));
}

void TestBrantle2::errorsKeepIndexAndLengthUnderATranslatedCatalogue() {
    PrefixTranslator translator;
    QCoreApplication::installTranslator(&translator);
    auto removeTranslator = qScopeGuard([&] { QCoreApplication::removeTranslator(&translator); });

    const struct {
        const char *script;
        int index;
        int length;
        const char *message;
    } cases[] = {
        {"A2 0 ;", 3, 1, "HEX DATA MUST BE SPECIFY BY OF TWO DIGITS. "},
        {"A3 ;", 3, 1,
         "THE STOP CONDITION CANNOT BE SPECIFIED IMMEDIATELY AFTER THE ADDRESS OF THE SLAVE "
         "(READ). "},
        {"[x]", 0, 3, "'[x]' WAS NOT POSSIBLE TO INTERPRET IT. "},
    };
    for (const auto &c : cases) {
        try {
            compile(QString::fromUtf8(c.script));
            QFAIL(c.script);
        } catch (const ScriptParseError &e) {
            QCOMPARE(e.index, c.index);
            QCOMPARE(e.length, c.length);
            QCOMPARE(e.message, QString::fromUtf8(c.message));
            QCOMPARE(QString(e), QStringLiteral("文法エラー：　INDEX=%1, LENGTH=%2, %3")
                                     .arg(c.index)
                                     .arg(c.length)
                                     .arg(QString::fromUtf8(c.message)));
        }
    }
}

void TestBrantle2::renderOfAForeignStreamIsAnUnexpectedError() {
    Brantle2 converter;
    QString text = QStringLiteral("A3 FF FF ;");
    QByteArray stream = hex("0001 0012 0013 A3 11");
    try {
        converter.convert(text, Brantle2::Render, stream);
        QFAIL("rendered past the end of the stream");
    } catch (const ScriptParseError &e) {
        QCOMPARE(QString(e), QStringLiteral("Parse Error: Index=6, Length=2, Unexpected error."));
        QCOMPARE(e.message, QStringLiteral("Unexpected error."));
    }
}

// Random valid scripts: compile, reply with random bytes, render. The result
// must keep the script's length and every character outside the byte tokens,
// and each byte token must show the byte that stands for it.
void TestBrantle2::randomScriptsRenderInPlace() {
    QRandomGenerator rng(20261207);
    const char digits[] = "0123456789abcdefABCDEF";
    const char *const blanks[] = {" ", "\t", "\n", "  ", " \n\n"};
    const char *const comments[] = {"// ab 12 ff\n", "//\n", "// ; , [wait 1]\n", "// A2 A3 ;\n"};
    for (int round = 0; round < 300; ++round) {
        QString script;
        QList<int> tokenAt;      // where each byte token starts
        QList<bool> tokenIsRead; // whether it is a read placeholder
        auto blank = [&] { script += QLatin1String(blanks[rng.bounded(5)]); };
        const int transactions = rng.bounded(1, 6);
        for (int t = 0; t < transactions; ++t) {
            if (rng.bounded(3) == 0)
                script += QLatin1String(comments[rng.bounded(4)]);
            if (rng.bounded(2)) {
                script += u',';
                if (rng.bounded(2))
                    blank();
            }
            const bool read = rng.bounded(2);
            tokenAt << int(script.size());
            tokenIsRead << false;
            script += QString::asprintf("%02X", (rng.bounded(128) << 1) | (read ? 1 : 0));
            blank();
            const int bytes = rng.bounded(read ? 1 : 0, 8);
            for (int b = 0; b < bytes; ++b) {
                if (rng.bounded(5) == 0) {
                    script += QStringLiteral("[wait %1]").arg(rng.bounded(0, 1300));
                    blank();
                    if (script.back() != u' ' && script.back() != u'\t' && script.back() != u'\n')
                        script += u' ';
                }
                tokenAt << int(script.size());
                tokenIsRead << read;
                script += QLatin1Char(digits[rng.bounded(22)]);
                script += QLatin1Char(digits[rng.bounded(22)]);
                blank();
            }
            if (script.isEmpty() || script.back().isLetterOrNumber())
                script += u' ';
            if (t + 1 < transactions || rng.bounded(2))
                script += u';';
            blank();
        }

        QByteArray command;
        try {
            command = compile(script);
        } catch (const QString &e) {
            QFAIL(qPrintable(e + QLatin1String(" in: ") + script));
        }
        int readCount = 0;
        scanStream(command, false, &readCount, nullptr);
        QCOMPARE(readCount, int(tokenIsRead.count(true)));
        QByteArray reply(readCount + 1, 0);
        for (char &b : reply)
            b = char(rng.bounded(256));
        const QString result = roundTrip(script, reply);

        QCOMPARE(result.size(), script.size());
        int nextRead = 0;
        for (int i = 0, token = 0; i < script.size(); ++i) {
            if (token < tokenAt.size() && i == tokenAt[token]) {
                const QString expected =
                    tokenIsRead[token]
                        ? QString::asprintf("%02X", unsigned(quint8(reply[nextRead++])))
                        : script.mid(i, 2).toUpper();
                QCOMPARE(result.mid(i, 2), expected);
                ++i;
                ++token;
                continue;
            }
            QCOMPARE(result.at(i), script.at(i));
        }
    }
}

void TestBrantle2::lengthLimit_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("extra"); // characters beyond the limit
    for (const auto &[mode, name] : {std::pair{int(Brantle2::Compile), "compile"},
                                     std::pair{int(Brantle2::Render), "render"}}) {
        QTest::addRow("%s: at the limit", name) << mode << 0;
        QTest::addRow("%s: one past it", name) << mode << 1;
    }
}

// The limit the size check enforces, lowered so that a short script reaches it.
void TestBrantle2::lengthLimit() {
    QFETCH(int, mode);
    QFETCH(int, extra);
    const QString script = QStringLiteral("A2 00 ;");
    Brantle2 converter;
    converter.lengthLimit = script.size() - extra;
    QString text = script;
    QByteArray stream = mode == Brantle2::Render ? compile(script) : QByteArray();
    try {
        converter.convert(text, mode, stream);
        QCOMPARE(extra, 0);
    } catch (const ScriptParseError &e) {
        QVERIFY(extra > 0);
        QCOMPARE(e.index, 0);
        QCOMPARE(e.length, 0);
        QCOMPARE(e.message, QStringLiteral("The script is too long. "));
        QCOMPARE(QString(e),
                 QStringLiteral("Parse Error: Index=0, Length=0, The script is too long. "));
    }
    QCOMPARE(text, script);
    // Nobody can raise the limit past what the positions hold.
    QVERIFY(Brantle2::MaxScriptLength * 2 + 16 <= INT_MAX);
}

// 2^31 UTF-16 units wrap to a negative int: such a script once compiled as
// empty. It takes 4 GiB, so it runs only where that much memory is free.
void TestBrantle2::scriptOfTwoToTheThirtyOneUnitsIsRefused() {
    qint64 availableKiB = 0;
#ifdef Q_OS_WIN
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (GlobalMemoryStatusEx(&status))
        availableKiB = qint64(status.ullAvailPhys / 1024);
#else
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (meminfo.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : meminfo.readAll().split('\n'))
            if (line.startsWith("MemAvailable:"))
                availableKiB = line.mid(13).trimmed().split(' ').value(0).toLongLong();
    }
#endif
    if (availableKiB < qint64(10) * 1024 * 1024)
        QSKIP("needs 10 GiB of free memory");
    QString text(qsizetype(1) << 31, u' ');
    text[0] = u'Q'; // would be a parse error at 0 too: the refusal must say why
    Brantle2 converter;
    QByteArray stream;
    try {
        converter.convert(text, Brantle2::Compile, stream);
        QFAIL("a script of 2^31 units compiled");
    } catch (const ScriptParseError &e) {
        QCOMPARE(e.message, QStringLiteral("The script is too long. "));
    }
    QVERIFY(stream.isEmpty());
}

QTEST_GUILESS_MAIN(TestBrantle2)
#include "tst_brantle2.moc"
