#include "TextEncoding.h"

#include <QtTest>

// Text files go through TextEncoding on every platform; what the bytes are
// depends on the system's encoding, so each row gives them for the two we
// ship for: UTF-8 (Linux) and CP932 (Japanese Windows). Elsewhere (another
// ANSI code page) the encoding-specific rows are skipped.
class TestTextEncoding : public QObject {
    Q_OBJECT
private slots:
    void roundTrip_data();
    void roundTrip();
    void byteOrderMarkWins_data();
    void byteOrderMarkWins();
};

void TestTextEncoding::roundTrip_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("utf8");
    QTest::addColumn<QByteArray>("cp932");
    QTest::addColumn<QString>("lostInCp932"); // the first such character

    QTest::newRow("plain script") << QStringLiteral("A2 00 , A3 FF ;\r\n")
                                  << QByteArray("A2 00 , A3 FF ;\r\n")
                                  << QByteArray("A2 00 , A3 FF ;\r\n") << QString();
    QTest::newRow("Japanese comment")
        << QStringLiteral("// 日本語のコメント\nA2 ;")
        << QByteArray("// "
                      "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\xe3\x81\xae\xe3\x82\xb3\xe3\x83\xa1\xe3"
                      "\x83\xb3\xe3\x83\x88\nA2 ;")
        << QByteArray("// \x93\xfa\x96\x7b\x8c\xea\x82\xcc\x83\x52\x83\x81\x83\x93\x83\x67\nA2 ;")
        << QString();
    QTest::newRow("half-width katakana")
        << QStringLiteral("ｱｲｳ") << QByteArray("\xef\xbd\xb1\xef\xbd\xb2\xef\xbd\xb3")
        << QByteArray("\xb1\xb2\xb3") << QString();
    // Windows writes a near character (a backslash) for the yen sign.
    QTest::newRow("yen sign, which CP932 lacks")
        << QStringLiteral("A2 ; ¥") << QByteArray("A2 ; \xc2\xa5") << QByteArray()
        << QStringLiteral("¥");
    QTest::newRow("a character CP932 lacks")
        << QStringLiteral("ok 😀") << QByteArray("ok \xf0\x9f\x98\x80") << QByteArray()
        << QStringLiteral("😀");
}

void TestTextEncoding::roundTrip() {
    QFETCH(QString, text);
    QFETCH(QByteArray, utf8);
    QFETCH(QByteArray, cp932);
    QFETCH(QString, lostInCp932);

    const QString system = TextEncoding::systemName();
    // A run set up for a code page must not pass by skipping.
    const QString expected = qEnvironmentVariable("BRANTLE_EXPECT_ENCODING");
    if (!expected.isEmpty())
        QCOMPARE(system, expected);
    bool lost = true;
    const QByteArray bytes = TextEncoding::encode(text, &lost);
    if (system == QLatin1String("UTF-8")) {
        QVERIFY(!lost);
        QCOMPARE(bytes.toHex(' '), utf8.toHex(' '));
        QCOMPARE(TextEncoding::firstUnencodable(text), QString());
    } else if (system == QLatin1String("CP932")) {
        QCOMPARE(lost, !lostInCp932.isEmpty());
        QCOMPARE(TextEncoding::firstUnencodable(text), lostInCp932);
        if (lost)
            return;
        QCOMPARE(bytes.toHex(' '), cp932.toHex(' '));
    } else {
        QSKIP(qPrintable(QStringLiteral("the system's encoding is %1").arg(system)));
    }
    QCOMPARE(TextEncoding::decode(bytes), text);
}

// A file that names its Unicode encoding by a mark is read in it, whatever
// the system's encoding, and the mark is not part of the text.
void TestTextEncoding::byteOrderMarkWins_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("UTF-8") << QByteArray("\xef\xbb\xbf\xe6\x97\xa5 A2");
    QTest::newRow("UTF-16LE") << QByteArray("\xff\xfe\xe5\x65 \0A\0"
                                            "2\0",
                                            10);
    QTest::newRow("UTF-16BE") << QByteArray("\xfe\xff\x65\xe5\0 \0A\0"
                                            "2",
                                            10);
}

void TestTextEncoding::byteOrderMarkWins() {
    QFETCH(QByteArray, bytes);
    QCOMPARE(TextEncoding::decode(bytes), QStringLiteral("日 A2"));
}

QTEST_GUILESS_MAIN(TestTextEncoding)
#include "tst_textencoding.moc"
