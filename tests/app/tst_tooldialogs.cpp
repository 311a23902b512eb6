// The EEPROM and register dialogs on a simulated adapter: what they report,
// what they refuse, and that their transactions reach the log.
#include "AdapterSession.h"
#include "Brantle.h"
#include "Eeprom24.h"
#include "EepromDialog.h"
#include "Fx2Chip.h"
#include "GenericUsbDriver.h"
#include "MemoryImage.h"
#include "RegisterDialog.h"
#include "SimUsbStack.h"
#include "TemperatureSensor.h"
#include "TransactionLogPane.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

struct Bench {
    Bench() {
        auto chip = std::make_shared<Fx2Chip>();
        eeprom = std::make_shared<Eeprom24>(); // a 24C64 at 0x51
        sensor = std::make_shared<TemperatureSensor>();
        chip->bus().attach(eeprom);
        chip->bus().attach(sensor);
        chip->setAdapterFirmware(AdapterSession::readFirmware());
        stack.plug(chip, QString(), 0);
        window = std::make_unique<Brantle>(driver);
    }
    int logged() { return window->logPane()->log().rowCount(); }

    SimUsbStack stack;
    GenericUsbDriver driver{stack};
    std::shared_ptr<Eeprom24> eeprom;
    std::shared_ptr<TemperatureSensor> sensor;
    std::unique_ptr<Brantle> window;
};

void writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray randomBytes(int size, quint32 seed) {
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &b : bytes)
        b = char(random.bounded(256));
    return bytes;
}

// The grid's hex cells by register, from row labels and columns.
QMap<int, QString> cells(QTableWidget *grid) {
    QMap<int, QString> map;
    for (int row = 0; row < grid->rowCount(); ++row) {
        const int base = grid->verticalHeaderItem(row)->text().chopped(1).toInt(nullptr, 16);
        for (int column = 0; column < 16; ++column) {
            const QString text = grid->item(row, column)->text();
            if (!text.isEmpty())
                map.insert(base + column, text);
        }
    }
    return map;
}

QSet<int> highlighted(QTableWidget *grid) {
    QSet<int> set;
    for (int row = 0; row < grid->rowCount(); ++row) {
        const int base = grid->verticalHeaderItem(row)->text().chopped(1).toInt(nullptr, 16);
        for (int column = 0; column < 16; ++column) {
            if (grid->item(row, column)->background().color() == RegisterDialog::changedColour)
                set.insert(base + column);
        }
    }
    return set;
}

} // namespace

class TestToolDialogs : public QObject {
    Q_OBJECT
private slots:
    void secondDumpHighlightsExactlyTheChangedRegisters();
    void oversizeFileIsRefusedBeforeAnyTransaction_data();
    void oversizeFileIsRefusedBeforeAnyTransaction();
    void writeVerifyAndDifferences();
    void cancelStopsTheWriteAndClaimsOnlyWhatWasVerified();
};

void TestToolDialogs::secondDumpHighlightsExactlyTheChangedRegisters() {
    Bench bench;
    bench.window->actionRegisters->trigger();
    RegisterDialog *dialog = bench.window->registerDialog();
    QVERIFY(dialog->isVisible());
    dialog->spinBoxAddress->setValue(0x48);
    dialog->spinBoxFirst->setValue(0x00);
    dialog->spinBoxLast->setValue(0x1a);

    QVERIFY(dialog->dump());
    const QMap<int, QString> before = cells(dialog->tableWidgetDump);
    QCOMPARE(before.size(), 0x1b);
    QVERIFY(highlighted(dialog->tableWidgetDump).isEmpty());
    // The ASCII column covers the row's registers.
    QCOMPARE(dialog->tableWidgetDump->item(1, 16)->text().size(), 16);

    // The high limit register, as a 16-bit value high byte first: its first
    // byte is what an 8-bit dump shows. The sensor decodes 2 address bits,
    // so the register shows again every 4 addresses.
    const int oldHigh = bench.sensor->registerValue(3) >> 8;
    const int newValue = ((oldHigh ^ 0x15) << 8) | 0x80;
    dialog->spinBoxRegister->setValue(3);
    dialog->comboBoxWidth->setCurrentIndex(1);
    dialog->lineEditValue->setText(QStringLiteral("0x%1").arg(newValue, 4, 16, QLatin1Char('0')));
    QVERIFY2(dialog->set(), qPrintable(dialog->labelResult->text()));
    QCOMPARE(int(bench.sensor->registerValue(3)), newValue);

    const int loggedBefore = bench.logged();
    QVERIFY(dialog->dump());
    QVERIFY(bench.logged() > loggedBefore);
    const QMap<int, QString> after = cells(dialog->tableWidgetDump);
    QSet<int> changed;
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        if (before.value(it.key()) != it.value())
            changed.insert(it.key());
    }
    QVERIFY(changed.contains(3));
    QCOMPARE(changed, (QSet<int>{0x03, 0x07, 0x0b, 0x0f, 0x13, 0x17}));
    QCOMPARE(highlighted(dialog->tableWidgetDump), changed);
    QVERIFY(dialog->labelResult->text().contains(QStringLiteral("6 changed")));

    // A third dump compares with the second, not the first.
    QVERIFY(dialog->dump());
    QVERIFY(highlighted(dialog->tableWidgetDump).isEmpty());
}

void TestToolDialogs::oversizeFileIsRefusedBeforeAnyTransaction_data() {
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("offset");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<QString>("sizes");
    QTest::newRow("one byte too many") << 8193 << "0" << false << "8193 bytes from offset 0";
    QTest::newRow("fits, not from the offset") << 8000 << "0x200" << false << "8000 bytes";
    QTest::newRow("hex past the end") << 64 << "8160" << true << "(8192 bytes; 32 from";
}

void TestToolDialogs::oversizeFileIsRefusedBeforeAnyTransaction() {
    QFETCH(int, size);
    QFETCH(QString, offset);
    QFETCH(bool, hex);
    QFETCH(QString, sizes);
    Bench bench;
    const QByteArray memory = bench.eeprom->memory();
    QTemporaryDir dir;
    const QString path =
        dir.filePath(hex ? QStringLiteral("image.hex") : QStringLiteral("image.bin"));
    const QByteArray bytes = randomBytes(size, 7);
    writeFile(path, hex ? MemoryImage::toHex(0, bytes) : bytes);

    EepromDialog *dialog = bench.window->eepromDialog();
    dialog->spinBoxAddress->setValue(0x51);
    dialog->lineEditOffset->setText(offset);
    QVERIFY(!dialog->writeFrom(path));
    const QString text = dialog->textResult->toPlainText();
    QVERIFY2(text.contains(sizes) && text.contains(QStringLiteral("nothing was written")),
             qPrintable(text));
    QCOMPARE(bench.logged(), 0);
    QCOMPARE(bench.eeprom->memory(), memory);
}

void TestToolDialogs::writeVerifyAndDifferences() {
    Bench bench;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("image.bin"));
    // Unaligned at both ends, across many pages.
    const QByteArray bytes = randomBytes(1000, 11);
    writeFile(path, bytes);
    bench.window->actionEeprom->trigger();
    EepromDialog *dialog = bench.window->eepromDialog();
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->comboBoxPart->currentData().toString(), QStringLiteral("24C64"));
    QVERIFY(dialog->checkBoxVerify->isChecked());
    dialog->spinBoxAddress->setValue(0x51);
    dialog->lineEditOffset->setText(QStringLiteral("0x123"));

    QVERIFY2(dialog->writeFrom(path), qPrintable(dialog->textResult->toPlainText()));
    QCOMPARE(dialog->textResult->toPlainText(),
             QStringLiteral("Wrote and verified 0x0123-0x050A (1000 bytes) of the 24C64 at 0x51."));
    QCOMPARE(bench.eeprom->memory().mid(0x123, 1000), bytes);
    QCOMPARE(bench.eeprom->memory().at(0x122), char(0x22));
    QCOMPARE(bench.eeprom->memory().at(0x123 + 1000), char((0x123 + 1000) & 0xff));
    // Every page, poll and read-back is in the log.
    QVERIFY(bench.logged() > 1000 / 32);
    QCOMPARE(dialog->progressBar->value(), dialog->progressBar->maximum());

    QVERIFY(dialog->verifyAgainst(path));
    QCOMPARE(dialog->textResult->toPlainText(),
             QStringLiteral("1000 bytes of %1 match the 24C64 at 0x51.").arg(path));

    // Twelve bytes changed behind the dialog's back: ten shown, all counted.
    for (int i = 0; i < 12; ++i)
        bench.eeprom->memory()[0x200 + 3 * i] ^= 0x40;
    QVERIFY(!dialog->verifyAgainst(path));
    const QStringList lines = dialog->textResult->toPlainText().split(u'\n');
    QCOMPARE(lines.size(), 11);
    QCOMPARE(lines.first(),
             QStringLiteral("0x0200: file 0x%1, part 0x%2")
                 .arg(quint8(bytes.at(0x200 - 0x123)), 2, 16, QLatin1Char('0'))
                 .arg(quint8(bytes.at(0x200 - 0x123) ^ 0x40), 2, 16, QLatin1Char('0')));
    QCOMPARE(lines.last(),
             QStringLiteral("12 bytes differ between %1 and the 24C64 at 0x51.").arg(path));

    // Reading back into a file gives the bytes the part holds.
    const QString readPath = dir.filePath(QStringLiteral("read.bin"));
    dialog->lineEditLength->setText(QStringLiteral("1000"));
    QVERIFY(dialog->readTo(readPath));
    QFile read(readPath);
    QVERIFY(read.open(QIODevice::ReadOnly));
    QCOMPARE(read.readAll(), bench.eeprom->memory().mid(0x123, 1000));
}

void TestToolDialogs::cancelStopsTheWriteAndClaimsOnlyWhatWasVerified() {
    Bench bench;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("image.bin"));
    const QByteArray bytes = randomBytes(4096, 13);
    writeFile(path, bytes);
    EepromDialog *dialog = bench.window->eepromDialog();
    dialog->show();
    dialog->spinBoxAddress->setValue(0x51);
    // Cancel as soon as the write lets events through, as a click would.
    bool enabledWhileRunning = false;
    QTimer::singleShot(0, dialog, [&] {
        enabledWhileRunning = dialog->pushButtonCancel->isEnabled() && dialog->running();
        dialog->pushButtonCancel->click();
    });
    QVERIFY(!dialog->writeFrom(path));
    QVERIFY(enabledWhileRunning);
    QVERIFY(!dialog->running());
    const QString text = dialog->textResult->toPlainText();
    QVERIFY2(text.startsWith(QStringLiteral("Cancelled.")), qPrintable(text));
    QVERIFY(bench.eeprom->memory().mid(0, 4096) != bytes);
    // Whatever the text claims verified is in the part.
    const QRegularExpression claim(QStringLiteral("verified: 0x([0-9A-F]{4})-0x([0-9A-F]{4})"));
    const QRegularExpressionMatch match = claim.match(text);
    if (match.hasMatch()) {
        const int from = match.captured(1).toInt(nullptr, 16);
        const int to = match.captured(2).toInt(nullptr, 16) + 1;
        QCOMPARE(bench.eeprom->memory().mid(from, to - from), bytes.mid(from, to - from));
    } else {
        QVERIFY2(text.contains(QStringLiteral("Nothing was written and verified.")),
                 qPrintable(text));
    }
    QVERIFY(!dialog->pushButtonCancel->isEnabled());
    QVERIFY(dialog->pushButtonWrite->isEnabled());
}

QTEST_MAIN(TestToolDialogs)
#include "tst_tooldialogs.moc"
