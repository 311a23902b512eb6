#include "AdapterGuidance.h"
#include "AdapterSession.h"
#include "Brantle.h"
#include "BrantleVersion.h"
#include "BusScanDialog.h"
#include "CCyDriverDevice.h"
#include "CsvReader.h"
#include "Eeprom24.h"
#include "FaultyPort.h"
#include "FormProductInfo.h"
#include "GenericUsbDriver.h"
#include "MessageBoxCatcher.h"
#include "SimUsbStack.h"
#include "TemperatureSensor.h"
#include "TransactionCsv.h"
#include "TransactionLogPane.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QMimeData>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScrollBar>
#include <QStatusBar>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTranslator>
#include <QtTest>

#include <functional>
#include <optional>
#ifdef Q_OS_WIN
#include <shlobj.h>
#include <windows.h>
#endif

namespace {

using Kind = SimUsbStack::TransferKind;
using Action = SimUsbStack::FaultAction;

QString defaultScript() {
    QFile file(QStringLiteral(BRANTLE_EXAMPLES_DIR "/eeprom-read.txt"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The window with its transaction opened up: tests can count sends and make
// the transaction throw anything.
class TestWindow : public Brantle {
public:
    using Brantle::Brantle;
    using Brantle::timerEvent;
    int sends = 0;
    std::function<void()> thrower;

protected:
    bool transact(QByteArray &stream) override {
        ++sends;
        if (thrower)
            thrower();
        return Brantle::transact(stream);
    }
};

struct Bench {
    Bench(int adapters = 1) {
        for (int i = 0; i < adapters; ++i)
            paths << plug();
        window = std::make_unique<TestWindow>(port);
    }
    QString plug(const QString &name = QString(), uint8_t address = 0) {
        auto chip = std::make_shared<Fx2Chip>();
        chip->bus().attach(std::make_shared<Eeprom24>());
        chip->bus().attach(std::make_shared<TemperatureSensor>());
        chip->setAdapterFirmware(AdapterSession::readFirmware());
        if (!name.isEmpty())
            chip->setProductName(name);
        return stack.plug(chip, QString(), address);
    }
    QStringList entries() const {
        QStringList list;
        for (int i = 0; i < window->comboBoxDevices->count(); ++i)
            list << window->comboBoxDevices->itemText(i);
        return list;
    }
    QString indicatorMessage() const { return window->ui.labelInfo->text().section(u'\n', 1); }
    QColor indicatorColour() const {
        return window->ui.labelInfo->palette().color(QPalette::Active, QPalette::Window);
    }
    QString statusText() const { return window->statusBar()->currentMessage(); }
    void send() { window->ui.pushButtonSend->click(); }

    SimUsbStack stack;
    GenericUsbDriver driver{stack};
    FaultyPort port{driver};
    QStringList paths;
    std::unique_ptr<TestWindow> window;
};

// Answers the next file dialog: picks `name` (or cancels when empty) and
// remembers what the dialog proposed.
class FileDialogAnswer {
public:
    explicit FileDialogAnswer(QString name) : m_name(std::move(name)) {
        m_timer.setInterval(0);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            m_timer.stop();
            proposedDirectory = dialog->directory().absolutePath();
            const QStringList selected = dialog->selectedFiles();
            proposed = selected.value(0);
            nameFilters = dialog->nameFilters();
            if (m_name.isEmpty()) {
                dialog->reject();
            } else {
                // The overwrite question is the dialog's own business.
                dialog->setOption(QFileDialog::DontConfirmOverwrite);
                dialog->selectFile(m_name);
                QMetaObject::invokeMethod(dialog, "accept");
            }
        });
        m_timer.start();
    }
    QString proposed;
    QString proposedDirectory;
    QStringList nameFilters;

private:
    QString m_name;
    QTimer m_timer;
};

// Answers the next message box with `button`, remembering its text.
class MessageBoxAnswer {
public:
    explicit MessageBoxAnswer(QMessageBox::StandardButton button) {
        m_timer.setInterval(0);
        QObject::connect(&m_timer, &QTimer::timeout, [this, button] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            m_timer.stop();
            text = box->text();
            buttons = box->standardButtons();
            box->button(button)->click();
        });
        m_timer.start();
    }
    QString text;
    QMessageBox::StandardButtons buttons;

private:
    QTimer m_timer;
};

const QColor lightGreen(144, 238, 144);

} // namespace

class TestBrantle : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void widgetTree_data();
    void widgetTree();
    void startsInItsDefaultState();
    void showStatusWritesTimestampMessageAndColour();
    void sendOutcomes_data();
    void sendOutcomes();
    void clockChoiceReachesTheStream();
    void autoSendRepeatsAndBlinks();
    void autoSendKeepsGoingThroughErrors();
    void scrollingFollowsBothWays();
    void resultLinesUpAfterASend();
    void hoveringAMenuKeepsTheOutcome();
    void processingIsOnScreenDuringTheTransaction();
    void everyToolbarToggleHasAName();
    void fileCommandsRememberTheirPaths();
    void fileCommandCancelChangesNothing();
    void closingAsksBeforeLosingTheScript_data();
    void closingAsksBeforeLosingTheScript();
    void controlReturnSends();
    void fileFolderIsOneTheUserMayWrite_data();
    void fileFolderIsOneTheUserMayWrite();
    void dropOnTheResultEditor();
    void deviceListFollowsPlugging();
    void unpluggingTheSelectedAdapterSelectsTheNext();
    void identicalAdaptersSelectTheFirst();
    void failingCloseIsReportedNotFatal();
    void adapterThatCannotBeOpenedSaysWhy();
    void productDialogIsOneInstance();
    void logPaneListsEverySend();
    void autoSendsAreLogged();
    void saveLogWritesTheCsv();
    void scanDialogShowsWhoAnswers_data();
    void scanDialogShowsWhoAnswers();
    void scanEndedByADeviceError();
    void japaneseCatalogue();
    void toolkitTextsFollowTheCatalogue();
    void fileReasonsFollowTheCatalogue();

private:
    QTemporaryDir m_dir;
};

void TestBrantle::initTestCase() {
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QVERIFY(m_dir.isValid());
}

void TestBrantle::widgetTree_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("text");

    QTest::newRow("window") << "BrantleClass"
                            << "Brantle"
                            << "";
    QTest::newRow("send") << "pushButtonSend"
                          << "QPushButton"
                          << "Send";
    QTest::newRow("auto") << "pushButtonAutoSend"
                          << "QPushButton"
                          << "Auto";
    QTest::newRow("clock label") << "label_5"
                                 << "QLabel"
                                 << "Clock";
    QTest::newRow("command label") << "label_2"
                                   << "QLabel"
                                   << "Command";
    QTest::newRow("wait hint") << "label_3"
                               << "QLabel"
                               << "[wait 0.02] //0.02msec";
    QTest::newRow("script editor") << "textEditInput"
                                   << "MyQTextEdit"
                                   << "";
    QTest::newRow("result editor") << "textEditResult"
                                   << "MyQTextEdit"
                                   << "";
    QTest::newRow("indicator") << "labelInfo"
                               << "QLabel"
                               << "";
    QTest::newRow("clock") << "comboBoxClock"
                           << "QComboBox"
                           << "";
    QTest::newRow("devices") << "comboBoxDevices"
                             << "QComboBox"
                             << "";
    QTest::newRow("splitter") << "splitter"
                              << "QSplitter"
                              << "";
    QTest::newRow("control column") << "widget_2"
                                    << "QWidget"
                                    << "";
    QTest::newRow("file menu") << "menu_File"
                               << "QMenu"
                               << "&File";
    QTest::newRow("help menu") << "menuProduct_Info"
                               << "QMenu"
                               << "&Help";
    QTest::newRow("open send") << "actionOpen_Send_Text"
                               << "QAction"
                               << "Open Send Text";
    QTest::newRow("open result") << "actionOpen_Result_Text"
                                 << "QAction"
                                 << "Open Result Text";
    QTest::newRow("save send") << "actionSave_Send_Text"
                               << "QAction"
                               << "Save Send Text";
    QTest::newRow("save result") << "actionSave_Result_Text"
                                 << "QAction"
                                 << "Save Result Text";
    QTest::newRow("product info") << "action_Product_Info"
                                  << "QAction"
                                  << "&Product Info";
    QTest::newRow("about qt") << "actionAbout_Qt"
                              << "QAction"
                              << "About &Qt";
    QTest::newRow("toolbar") << "mainToolBar"
                             << "QToolBar"
                             << "";
    QTest::newRow("status bar") << "statusBar"
                                << "QStatusBar"
                                << "";
}

void TestBrantle::widgetTree() {
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, text);
    Bench bench;
    QObject *object = bench.window.get();
    if (bench.window->objectName() != name)
        object = bench.window->findChild<QObject *>(name);
    QVERIFY2(object, qPrintable(name));
    QCOMPARE(QString::fromLatin1(object->metaObject()->className()), className);
    if (text.isEmpty())
        return;
    QString actual;
    if (auto *button = qobject_cast<QAbstractButton *>(object))
        actual = button->text();
    else if (auto *label = qobject_cast<QLabel *>(object))
        actual = label->text();
    else if (auto *menu = qobject_cast<QMenu *>(object))
        actual = menu->title();
    else if (auto *action = qobject_cast<QAction *>(object))
        actual = action->text();
    QCOMPARE(actual, text);
}

void TestBrantle::startsInItsDefaultState() {
    Bench bench;
    Brantle &w = *bench.window;
    QCOMPARE(w.windowTitle(), QStringLiteral("Brantle-" BRANTLE_VERSION));
    QCOMPARE(w.size(), QSize(783, 491));
    QCOMPARE(w.ui.comboBoxClock->count(), 2);
    QCOMPARE(w.ui.comboBoxClock->itemText(0), QStringLiteral("100KHz"));
    QCOMPARE(w.ui.comboBoxClock->currentText(), QStringLiteral("400KHz"));
    QVERIFY(w.ui.pushButtonAutoSend->isCheckable());
    QVERIFY(!w.ui.pushButtonAutoSend->isChecked());
    QCOMPARE(w.autoTimerId, 0);
    QCOMPARE(w.ui.textEditInput->toPlainText(), defaultScript());
    QCOMPARE(w.ui.textEditResult->toPlainText(),
             QStringLiteral("// The output result is displayed here. \n"
                            "// FF of I2C read is overwrited by I2C read data."));
    QCOMPARE(bench.indicatorMessage(), QStringLiteral("Ready."));
    QCOMPARE(bench.indicatorColour(), lightGreen);
    QCOMPARE(bench.entries(), QStringList{"FX2 I2C Adapter (simulated) - [1]"});
    const QString appDir = QCoreApplication::applicationDirPath();
    QCOMPARE(w.sendTextPath, appDir + QStringLiteral("/Brantle_input.txt"));
    QCOMPARE(w.resultTextPath, appDir + QStringLiteral("/Brantle_result.txt"));
    // The result pane looks disabled while it stays editable.
    const QPalette result = w.ui.textEditResult->palette();
    QCOMPARE(result.color(QPalette::Active, QPalette::Base),
             result.color(QPalette::Disabled, QPalette::Base));
    QVERIFY(!w.ui.textEditResult->isReadOnly());
    QCOMPARE(w.ui.textEditInput->lineWrapMode(), QTextEdit::NoWrap);
    QVERIFY(!w.ui.textEditInput->acceptRichText());
}

void TestBrantle::showStatusWritesTimestampMessageAndColour() {
    Bench bench;
    bench.window->showStatus(QStringLiteral("Something"), Qt::blue, QStringLiteral("explained"));
    const QStringList lines = bench.window->ui.labelInfo->text().split(u'\n');
    QCOMPARE(lines.size(), 2);
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}\\.\\d{2}\\.\\d{2}\\.\\d{2}:\\d{2}:\\d{2}$"))
                 .match(lines[0])
                 .hasMatch(),
             qPrintable(lines[0]));
    QCOMPARE(lines[0].left(11), QDate::currentDate().toString(QStringLiteral("yyyy.MM.dd.")));
    QCOMPARE(lines[1], QStringLiteral("Something"));
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        QCOMPARE(bench.window->ui.labelInfo->palette().color(group, QPalette::Window),
                 QColor(Qt::blue));
    QCOMPARE(bench.statusText(), QStringLiteral("explained"));
    bench.window->showStatus(QStringLiteral("x"), Qt::red, QString());
    QCOMPARE(bench.statusText(), QString());
}

void TestBrantle::sendOutcomes_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("injection"); // "" | "bulk out" | "throw:TEXT" | "throw int"
    QTest::addColumn<QString>("message");
    QTest::addColumn<QColor>("colour");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("result"); // "~text": contains
    QTest::addColumn<int>("selStart");   // -1: no selection expected
    QTest::addColumn<int>("selEnd");

    const QColor red(Qt::red);
    QTest::newRow("OK") << defaultScript() << ""
                        << "OK." << lightGreen << ""
                        << "~\n00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \n"
                        << -1 << -1;
    QTest::newRow("NoAck still renders") << "A0 00 , A1 FF ;"
                                         << ""
                                         << "NoAck" << red << ""
                                         << "A0 00 , A1 FF ;" << -1 << -1;
    QTest::newRow("device error")
        << "A2 00 ;"
        << "bulk out"
        << "Error" << red
        << "Error: Fain to send 4byte data of in-out number of byte to USB device."
        << "" << -1 << -1;
    QTest::newRow("parse error selects the span")
        << "// x\nA2 A2A3 ;"
        << ""
        << "Parse Error" << red << "Parse Error: Hex data must be specify by of two digits. "
        << "" << 8 << 12;
    QTest::newRow("parse error from the grammar")
        << "A3 ;"
        << ""
        << "Parse Error" << red
        << "Parse Error: The stop condition cannot be specified immediately after the address of "
           "the slave (read). "
        << "" << 3 << 4;
    QTest::newRow("parse error text of length 0") << "A2 00 ;"
                                                  << "throw:Parse Error: Index=2, Length=0, made up"
                                                  << "Parse Error" << red << "Parse Error: made up"
                                                  << "" << 2 << 2;
    QTest::newRow("index beyond an integer")
        << "A2 00 ;"
        << "throw:Parse Error: Index=99999999999, Length=1, huge"
        << "Parse Error" << red << "Parse Error: huge"
        << "" << -1 << -1;
    QTest::newRow("Error: without a blank") << "A2 00 ;"
                                            << "throw:Error:tight"
                                            << "Unexpected Error" << red << "Error:tight"
                                            << "" << -1 << -1;
    QTest::newRow("Parse Error without fields")
        << "A2 00 ;"
        << "throw:Parse Error: no fields"
        << "Unexpected Error" << red << "Parse Error: no fields"
        << "" << -1 << -1;
    QTest::newRow("any other text") << "A2 00 ;"
                                    << "throw:Unexpected Error: boom"
                                    << "Unexpected Error" << red << "Unexpected Error: boom"
                                    << "" << -1 << -1;
    QTest::newRow("not a text at all") << "A2 00 ;"
                                       << "throw int"
                                       << "Unexpected Error" << red << "Unexpected error occured."
                                       << "" << -1 << -1;
}

void TestBrantle::sendOutcomes() {
    QFETCH(QString, script);
    QFETCH(QString, injection);
    QFETCH(QString, message);
    QFETCH(QColor, colour);
    QFETCH(QString, status);
    QFETCH(QString, result);
    QFETCH(int, selStart);
    QFETCH(int, selEnd);

    Bench bench;
    TestWindow &w = *bench.window;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.ui.textEditInput->setPlainText(script);
    w.ui.pushButtonSend->setFocus();
    if (injection == QLatin1String("bulk out"))
        bench.stack.injectFault(Kind::BulkOut, 1, Action::Fail);
    else if (injection.startsWith(QLatin1String("throw:")))
        w.thrower = [text = injection.mid(6)] { throw text; };
    else if (injection == QLatin1String("throw int"))
        w.thrower = [] { throw 42; };
    w.statusBar()->showMessage(QStringLiteral("left over from before"));

    bench.send();

    QCOMPARE(bench.indicatorMessage(), message);
    QCOMPARE(bench.indicatorColour(), colour);
    QCOMPARE(bench.statusText(), status);
    if (result.startsWith(u'~'))
        QVERIFY(w.ui.textEditResult->toPlainText().contains(result.mid(1)));
    else
        QCOMPARE(w.ui.textEditResult->toPlainText(), result);
    const QTextCursor cursor = w.ui.textEditInput->textCursor();
    if (selStart >= 0) {
        QCOMPARE(cursor.selectionStart(), selStart);
        QCOMPARE(cursor.selectionEnd(), selEnd);
        QVERIFY(w.ui.textEditInput->hasFocus());
    } else {
        QVERIFY(!cursor.hasSelection());
    }
    QCOMPARE(w.ui.textEditInput->toPlainText(), script);
}

void TestBrantle::clockChoiceReachesTheStream() {
    Bench bench;
    bench.window->ui.textEditInput->setPlainText(QStringLiteral("A2 00 ;"));
    for (int index : {0, 1}) {
        bench.window->ui.comboBoxClock->setCurrentIndex(index);
        bench.stack.clearLog();
        bench.send();
        QByteArray stream;
        for (const auto &e : bench.stack.log())
            if (e.kind == Kind::BulkOut && e.data.size() > 4)
                stream = e.data;
        QCOMPARE(stream.left(4).toHex(),
                 index == 0 ? QByteArray("00010011") : QByteArray("00010012"));
    }
}

void TestBrantle::autoSendRepeatsAndBlinks() {
    Bench bench;
    TestWindow &w = *bench.window;
    w.ui.textEditInput->setPlainText(QStringLiteral("91 FF ;"));
    const QPalette normal = w.ui.pushButtonAutoSend->palette();
    w.ui.pushButtonAutoSend->click();
    QVERIFY(w.ui.pushButtonAutoSend->isChecked());
    QVERIFY(w.autoTimerId != 0);
    QCOMPARE(w.sends, 0); // nothing at once

    // Real ticks: one send about every 500 ms.
    QTRY_COMPARE_WITH_TIMEOUT(w.sends, 1, 1500);
    QTest::qWait(100);
    QCOMPARE(w.sends, 1);
    QTRY_COMPARE_WITH_TIMEOUT(w.sends, 2, 1500);
    QCOMPARE(w.ui.textEditResult->toPlainText(), QStringLiteral("91 19 ;"));
    // Two ticks so far: red, then blue.
    QCOMPARE(w.ui.pushButtonSend->palette().color(QPalette::Active, QPalette::ButtonText),
             QColor(Qt::blue));

    w.ui.pushButtonAutoSend->click();
    QCOMPARE(w.autoTimerId, 0);
    QCOMPARE(w.ui.pushButtonSend->palette().color(QPalette::Active, QPalette::ButtonText),
             normal.color(QPalette::Active, QPalette::ButtonText));
    const int sent = w.sends;
    QTest::qWait(700);
    QCOMPARE(w.sends, sent);

    // A new period goes on with the colour where the last one stopped.
    w.ui.pushButtonAutoSend->click();
    QTimerEvent tick(w.autoTimerId);
    QCoreApplication::sendEvent(&w, &tick);
    QCOMPARE(w.ui.pushButtonSend->palette().color(QPalette::Active, QPalette::ButtonText),
             QColor(Qt::red));
    // Ticks of other timers are not sends.
    QTimerEvent other(w.autoTimerId + 1000);
    const int before = w.sends;
    QCoreApplication::sendEvent(&w, &other);
    QCOMPARE(w.sends, before);
    w.ui.pushButtonAutoSend->click();
}

void TestBrantle::autoSendKeepsGoingThroughErrors() {
    Bench bench;
    TestWindow &w = *bench.window;
    w.ui.textEditInput->setPlainText(QStringLiteral("A2 00 ;"));
    w.thrower = [] { throw QStringLiteral("Error: Device not found."); };
    w.ui.pushButtonAutoSend->click();
    for (int i = 0; i < 3; ++i) {
        QTimerEvent tick(w.autoTimerId);
        QCoreApplication::sendEvent(&w, &tick);
        QCOMPARE(bench.indicatorMessage(), QStringLiteral("Error"));
    }
    QCOMPARE(w.sends, 3);
    QVERIFY(w.autoTimerId != 0);
    QVERIFY(w.ui.pushButtonAutoSend->isChecked());
    w.ui.pushButtonAutoSend->click();
}

void TestBrantle::scrollingFollowsBothWays() {
    Bench bench;
    Brantle &w = *bench.window;
    w.resize(783, 491);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QStringList lines;
    for (int i = 0; i < 300; ++i)
        lines << QStringLiteral("A2 %1 ; // a long line to scroll sideways ")
                     .arg(i % 100, 2, 10, QLatin1Char('0'))
                     .repeated(4);
    w.ui.textEditInput->setPlainText(lines.join(u'\n'));
    w.ui.textEditResult->setPlainText(lines.mid(0, 100).join(u'\n'));
    QScrollBar *inV = w.ui.textEditInput->verticalScrollBar();
    QScrollBar *outV = w.ui.textEditResult->verticalScrollBar();
    QScrollBar *inH = w.ui.textEditInput->horizontalScrollBar();
    QScrollBar *outH = w.ui.textEditResult->horizontalScrollBar();
    QVERIFY(outV->maximum() > 10 && inV->maximum() > outV->maximum());

    inV->setValue(10);
    QCOMPARE(outV->value(), 10);
    inH->setValue(25);
    QCOMPARE(outH->value(), 25);
    outV->setValue(7);
    QCOMPARE(inV->value(), 7);
    // The shorter pane stops at its end.
    inV->setValue(inV->maximum());
    QCOMPARE(outV->value(), outV->maximum());
    QCOMPARE(inV->value(), inV->maximum());
    QVERIFY(!w.scrollSyncBusy);
}

// The result arrives scrolled to the top left; it must stand where the
// script stands, or the panes no longer line up. Emptying a long result
// scrolls it to the top too, and that must not drag the script along: with
// Auto on, the lower part of a long script has to stay in view send after send.
void TestBrantle::resultLinesUpAfterASend() {
    Bench bench;
    Brantle &w = *bench.window;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QStringList lines;
    for (int i = 0; i < 120; ++i)
        lines << QStringLiteral(
                     "A2 00 %1 ;     // a comment that runs well past the pane's right edge")
                     .arg(i % 100, 2, 10, QLatin1Char('0'));
    w.ui.textEditResult->clear();
    w.ui.textEditInput->setPlainText(lines.join(u'\n'));
    QScrollBar *inV = w.ui.textEditInput->verticalScrollBar();
    QScrollBar *inH = w.ui.textEditInput->horizontalScrollBar();
    QScrollBar *outV = w.ui.textEditResult->verticalScrollBar();
    QScrollBar *outH = w.ui.textEditResult->horizontalScrollBar();
    const struct {
        int y;
        int x;
    } places[] = {{40, 30}, {40, 30}, {40, 30}, {inV->maximum(), 0}, {3, 12}};
    for (const auto &place : places) {
        inV->setValue(place.y);
        inH->setValue(place.x);
        bench.send();
        QCOMPARE(bench.indicatorMessage(), QStringLiteral("OK."));
        QCOMPARE(inV->value(), place.y);
        QCOMPARE(inH->value(), place.x);
        QCOMPARE(outV->value(), place.y);
        QCOMPARE(outH->value(), place.x);
    }
}

// The status bar explains the last outcome until the next send; the
// toolkit's empty status tips of menu entries must not wipe it.
void TestBrantle::hoveringAMenuKeepsTheOutcome() {
    Bench bench;
    Brantle &w = *bench.window;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.ui.textEditInput->setPlainText(QStringLiteral("A2 0 ;"));
    bench.send();
    const QString explanation = bench.statusText();
    QVERIFY(explanation.startsWith(QLatin1String("Parse Error: ")));

    QMenu *menu = w.ui.menu_File;
    menu->popup(w.mapToGlobal(QPoint(10, 10)));
    QVERIFY(QTest::qWaitForWindowExposed(menu));
    const QList<QAction *> entries = menu->actions();
    for (QAction *entry : entries) {
        QTest::mouseMove(menu, menu->actionGeometry(entry).center());
        entry->showStatusText(menu);
        QCOMPARE(bench.statusText(), explanation);
    }
    menu->hide();
    QCOMPARE(bench.statusText(), explanation);
}

namespace {

// Records the message line the indicator showed at every paint.
// What the indicator's message line and the result pane showed when they
// were last painted.
class IndicatorPaints : public QObject {
public:
    IndicatorPaints(QLabel *label, QTextEdit *result) : m_label(label), m_result(result) {
        label->installEventFilter(this);
        result->viewport()->installEventFilter(this);
    }
    QStringList painted;
    QString resultPainted;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() != QEvent::Paint)
            return false;
        if (watched == m_label)
            painted << m_label->text().section(u'\n', 1);
        else if (watched == m_result->viewport())
            resultPainted = m_result->toPlainText();
        return false;
    }

private:
    QLabel *m_label;
    QTextEdit *m_result;
};

} // namespace

// A send runs on the GUI thread and a long wait blocks it: "Processing..."
// must already be painted when the transaction starts, or the user keeps
// looking at the previous outcome.
void TestBrantle::processingIsOnScreenDuringTheTransaction() {
    Bench bench;
    TestWindow &w = *bench.window;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCoreApplication::processEvents();
    IndicatorPaints paints(w.ui.labelInfo, w.ui.textEditResult);
    QString onScreen;
    QString resultOnScreen;
    w.thrower = [&] {
        onScreen = paints.painted.value(paints.painted.size() - 1);
        resultOnScreen = paints.resultPainted;
    };
    w.ui.textEditInput->setPlainText(QStringLiteral("91 FF ;"));
    for (int i = 0; i < 2; ++i) {
        onScreen.clear();
        bench.send();
        QCOMPARE(onScreen, QStringLiteral("Processing..."));
        // The previous answer is gone from the screen too.
        QCOMPARE(resultOnScreen, QString());
        QCOMPARE(bench.indicatorMessage(), QStringLiteral("OK."));
    }
}

// Right-clicking the toolbar or the menu bar offers a toggle per toolbar and
// dock; each must say what it hides, and the View menu brings it back.
void TestBrantle::everyToolbarToggleHasAName() {
    Bench bench;
    Brantle &w = *bench.window;
    std::unique_ptr<QMenu> popup(w.createPopupMenu());
    QVERIFY(popup);
    QVERIFY(!popup->actions().isEmpty());
    for (QAction *toggle : popup->actions())
        QVERIFY2(toggle->isSeparator() || !toggle->text().isEmpty(), "an unlabelled toggle");
    QAction *toolbarToggle = w.ui.mainToolBar->toggleViewAction();
    QCOMPARE(toolbarToggle->text(), QStringLiteral("Device Toolbar"));
    QVERIFY(popup->actions().contains(toolbarToggle));
    QVERIFY(w.ui.menu_View->actions().contains(toolbarToggle));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    toolbarToggle->trigger();
    QVERIFY(w.ui.mainToolBar->isHidden());
    toolbarToggle->trigger();
    QVERIFY(!w.ui.mainToolBar->isHidden());
}

void TestBrantle::fileCommandsRememberTheirPaths() {
    Bench bench;
    Brantle &w = *bench.window;
    const QString script = m_dir.filePath(QStringLiteral("script.txt"));
    {
        QFile f(script);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("A2 00\r\n;\r\n");
    }
    {
        FileDialogAnswer answer(script);
        w.ui.actionOpen_Send_Text->trigger();
        QCOMPARE(QFileInfo(answer.proposed).fileName(), QStringLiteral("Brantle_input.txt"));
        QCOMPARE(answer.proposedDirectory, QCoreApplication::applicationDirPath());
        QCOMPARE(answer.nameFilters, QStringList{"Text files (*.txt)"});
    }
    QCOMPARE(w.ui.textEditInput->toPlainText(), QStringLiteral("A2 00\n;\n"));
    QCOMPARE(w.sendTextPath, script);

    // Saving proposes the file just opened; the result has a path of its own.
    const QString longer = m_dir.filePath(QStringLiteral("result.txt"));
    {
        QFile f(longer);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(400, 'x'));
    }
    w.ui.textEditResult->setPlainText(QStringLiteral("A2 00 ;"));
    {
        FileDialogAnswer answer(longer);
        w.ui.actionSave_Result_Text->trigger();
        QCOMPARE(QFileInfo(answer.proposed).fileName(), QStringLiteral("Brantle_result.txt"));
    }
    QFile saved(longer);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), QByteArray("A2 00 ;"));
    {
        FileDialogAnswer answer{QString()};
        w.ui.actionOpen_Result_Text->trigger();
        QCOMPARE(answer.proposed, longer);
    }
    {
        FileDialogAnswer answer{QString()};
        w.ui.actionSave_Send_Text->trigger();
        QCOMPARE(answer.proposed, script);
    }
}

// A script typed since it was last opened or saved is not lost by closing
// the window: the user is asked, and saving or cancelling keeps it.
void TestBrantle::closingAsksBeforeLosingTheScript_data() {
    QTest::addColumn<bool>("typed");
    QTest::addColumn<int>("answer");     // to the question, if asked
    QTest::addColumn<QString>("saveAs"); // the file dialog's answer; empty: cancel
    QTest::addColumn<bool>("closed");
    const int none = QMessageBox::NoButton;
    QTest::newRow("nothing typed: closes at once") << false << none << QString() << true;
    QTest::newRow("typed, discard") << true << int(QMessageBox::Discard) << QString() << true;
    QTest::newRow("typed, cancel") << true << int(QMessageBox::Cancel) << QString() << false;
    QTest::newRow("typed, save") << true << int(QMessageBox::Save) << "closing.txt" << true;
    QTest::newRow("typed, save cancelled") << true << int(QMessageBox::Save) << QString() << false;
}

void TestBrantle::closingAsksBeforeLosingTheScript() {
    QFETCH(bool, typed);
    QFETCH(int, answer);
    QFETCH(QString, saveAs);
    QFETCH(bool, closed);
    Bench bench;
    Brantle &w = *bench.window;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    if (typed) {
        w.ui.textEditInput->setFocus();
        w.ui.textEditInput->moveCursor(QTextCursor::End);
        QTest::keyClick(w.ui.textEditInput, Qt::Key_Return);
        QTest::keyClicks(w.ui.textEditInput, QStringLiteral("A2 10 ;"));
    }
    const QString script = w.ui.textEditInput->toPlainText();
    const QString path = saveAs.isEmpty() ? QString() : m_dir.filePath(saveAs);
    MessageBoxAnswer question{QMessageBox::StandardButton(answer)};
    FileDialogAnswer dialog(path);
    QCOMPARE(w.close(), closed);
    QCOMPARE(w.isVisible(), !closed);
    QCOMPARE(question.text.isEmpty(), !typed);
    if (typed)
        QCOMPARE(question.buttons, QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
    QCOMPARE(w.ui.textEditInput->toPlainText(), script);
    if (!path.isEmpty()) {
        QFile saved(path);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QString lines = script;
#ifdef Q_OS_WIN
        lines.replace(u'\n', QLatin1String("\r\n")); // as Windows text files end lines
#endif
        QCOMPARE(QString::fromUtf8(saved.readAll()), lines);
    }
    // Once saved, or never changed, closing asks nothing more.
    if (!closed && answer == int(QMessageBox::Cancel)) {
        MessageBoxAnswer again(QMessageBox::Discard);
        QVERIFY(w.close());
    }
}

// Ctrl+Return in the script sends it, as in most tools that run what was
// typed, and leaves the script as it was.
void TestBrantle::controlReturnSends() {
    Bench bench;
    Brantle &w = *bench.window;
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.ui.textEditInput->setPlainText(QStringLiteral("91 FF ;"));
    w.ui.textEditInput->setFocus();
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        w.ui.textEditResult->clear();
        QTest::keyClick(w.ui.textEditInput, key, Qt::ControlModifier);
        QTRY_COMPARE(w.ui.textEditResult->toPlainText(), QStringLiteral("91 19 ;"));
        QCOMPARE(w.ui.textEditInput->toPlainText(), QStringLiteral("91 FF ;"));
    }
}

void TestBrantle::fileCommandCancelChangesNothing() {
    Bench bench;
    Brantle &w = *bench.window;
    const QString before = w.ui.textEditInput->toPlainText();
    const QString path = w.sendTextPath;
    FileDialogAnswer answer{QString()};
    w.ui.actionOpen_Send_Text->trigger();
    QCOMPARE(w.ui.textEditInput->toPlainText(), before);
    QCOMPARE(w.sendTextPath, path);
}

void TestBrantle::fileFolderIsOneTheUserMayWrite_data() {
    QTest::addColumn<QString>("programFolder"); // writable, missing or read-only
    QTest::addColumn<bool>("documentsFolder");
    QTest::addColumn<QString>("proposed"); // program, documents or home

    QTest::newRow("a program built in place keeps its folder") << "writable" << true << "program";
    QTest::newRow("an installed program: documents") << "read-only" << true << "documents";
    QTest::newRow("no program folder: documents") << "missing" << true << "documents";
    QTest::newRow("no documents folder either: home") << "missing" << false << "home";
}

void TestBrantle::fileFolderIsOneTheUserMayWrite() {
    QFETCH(QString, programFolder);
    QFETCH(bool, documentsFolder);
    QFETCH(QString, proposed);

    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QByteArray savedHome = qgetenv("HOME");
    const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
    const auto restore = qScopeGuard([&] {
        qputenv("HOME", savedHome);
        if (savedConfig.isNull())
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", savedConfig);
    });
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral(".config"))));
    if (documentsFolder)
        QVERIFY(QDir(home.path()).mkdir(QStringLiteral("Documents")));

    QTemporaryDir program;
    QVERIFY(program.isValid());
    QString folder = program.path();
    const QFileDevice::Permissions permissions = QFile::permissions(folder);
    const auto writable = qScopeGuard([&] { QFile::setPermissions(program.path(), permissions); });
    if (programFolder == QLatin1String("missing")) {
        folder += QStringLiteral("/gone");
    } else if (programFolder == QLatin1String("read-only")) {
        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                                  QFileDevice::ReadGroup | QFileDevice::ExeGroup |
                                                  QFileDevice::ReadOther | QFileDevice::ExeOther));
#ifdef Q_OS_WIN
        QSKIP("a folder's read-only attribute does not keep files out of it on Windows");
#endif
        if (QFileInfo(folder).isWritable())
            QSKIP("this user may write into a read-only folder (root)");
    }

    QString documents = home.filePath(QStringLiteral("Documents"));
#ifdef Q_OS_WIN
    // Windows' Documents is the shell's known folder: HOME does not move it,
    // and the test cannot take it away.
    if (proposed == QLatin1String("home"))
        QSKIP("the user's Documents folder comes from the Windows shell and cannot be taken away");
    wchar_t shellDocuments[MAX_PATH];
    QVERIFY(SUCCEEDED(
        SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, shellDocuments)));
    documents = QDir::fromNativeSeparators(QString::fromWCharArray(shellDocuments));
    if (proposed == QLatin1String("documents") && !QFileInfo(documents).isDir())
        QSKIP("this user has no Documents folder");
#endif
    const QString expected = proposed == QLatin1String("program")     ? folder
                             : proposed == QLatin1String("documents") ? documents
                                                                      : home.path();
    QCOMPARE(Brantle::fileFolder(folder), expected);
}

void TestBrantle::dropOnTheResultEditor() {
    Bench bench;
    Brantle &w = *bench.window;
    const QString file = m_dir.filePath(QStringLiteral("dropped.txt"));
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("dropped");
    }
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(file)});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w.ui.textEditResult->viewport(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w.ui.textEditResult->viewport(), &drop);
    QCOMPARE(w.ui.textEditResult->toPlainText(), QStringLiteral("dropped"));
    QCOMPARE(w.ui.textEditInput->toPlainText(), defaultScript());
}

void TestBrantle::deviceListFollowsPlugging() {
    Bench bench;
    Brantle &w = *bench.window;
    const QString first = QStringLiteral("FX2 I2C Adapter (simulated) - [1]");
    const QString second = QStringLiteral("Bench B - [2]");
    bench.paths << bench.plug(QStringLiteral("Bench B"));
    QTRY_COMPARE(bench.entries(), (QStringList{first, second}));
    QCOMPARE(w.comboBoxDevices->currentText(), first);

    w.comboBoxDevices->setCurrentIndex(1);
    QCOMPARE(w.device().friendlyName(), QStringLiteral("Bench B"));
    // Unplugging the first keeps the second selected by its text.
    bench.stack.unplug(bench.paths[0]);
    QTRY_COMPARE(bench.entries(), QStringList{second});
    QCOMPARE(w.comboBoxDevices->currentText(), second);
    QCOMPARE(bench.indicatorMessage(), QStringLiteral("Ready."));
    QCOMPARE(w.device().friendlyName(), QStringLiteral("Bench B"));
    QCOMPARE(w.comboBoxDevices->palette().color(QPalette::Active, QPalette::Base),
             QColor(Qt::white));

    // The remaining adapter works (it is fresh: the firmware is downloaded).
    w.ui.textEditInput->setPlainText(QStringLiteral("91 FF ;"));
    bench.send();
    QCOMPARE(bench.indicatorMessage(), QStringLiteral("OK."));

    bench.stack.unplug(bench.paths[1]);
    QTRY_COMPARE(bench.entries(), QStringList());
    QCOMPARE(w.comboBoxDevices->currentIndex(), -1);
    QCOMPARE(bench.indicatorMessage(), QStringLiteral("No Device Found"));
    QCOMPARE(bench.indicatorColour(), QColor(Qt::red));
    QCOMPARE(bench.statusText(), QStringLiteral("Error: Device not found."));
    QCOMPARE(w.comboBoxDevices->palette().color(QPalette::Active, QPalette::Base), QColor(Qt::red));
    QCOMPARE(w.comboBoxDevices->palette().color(QPalette::Active, QPalette::Button),
             QColor(Qt::red));
    // What to check is on the empty list, not in place of the status text.
    QVERIFY2(w.comboBoxDevices->toolTip().contains(QLatin1String("04B4:8613")),
             qPrintable(w.comboBoxDevices->toolTip()));
    bench.send();
    QCOMPARE(bench.indicatorMessage(), QStringLiteral("Error"));
    QCOMPARE(bench.statusText(), QStringLiteral("Error: Device not found."));

    // Plugged in again: listed, selected, and usable.
    bench.plug();
    QTRY_COMPARE(bench.entries().size(), 1);
    QCOMPARE(w.comboBoxDevices->currentIndex(), 0);
    QCOMPARE(w.comboBoxDevices->palette().color(QPalette::Active, QPalette::Button),
             QApplication::palette(w.comboBoxDevices).color(QPalette::Active, QPalette::Button));
    QCOMPARE(w.comboBoxDevices->toolTip(), QString());
    bench.send();
    QCOMPARE(bench.indicatorMessage(), QStringLiteral("OK."));
}

void TestBrantle::unpluggingTheSelectedAdapterSelectsTheNext() {
    Bench bench;
    Brantle &w = *bench.window;
    bench.paths << bench.plug(QStringLiteral("Bench B"));
    QTRY_COMPARE(bench.entries().size(), 2);
    QCOMPARE(w.comboBoxDevices->currentIndex(), 0);
    bench.stack.unplug(bench.paths[0]);
    QTRY_COMPARE(bench.entries(), QStringList{"Bench B - [2]"});
    QCOMPARE(w.comboBoxDevices->currentIndex(), 0);
    QCOMPARE(w.device().friendlyName(), QStringLiteral("Bench B"));
    QVERIFY(w.device().hasHandle());
}

void TestBrantle::identicalAdaptersSelectTheFirst() {
    Bench bench(0);
    bench.plug(QStringLiteral("Twin"), 9);
    bench.plug(QStringLiteral("Twin"), 9);
    Brantle &w = *bench.window;
    w.refreshDeviceList();
    QCOMPARE(bench.entries(), (QStringList{"Twin - [9]", "Twin - [9]"}));
    w.comboBoxDevices->setCurrentIndex(1);
    w.refreshDeviceList();
    QCOMPARE(w.comboBoxDevices->currentIndex(), 0);
}

// Closing a handle can fail in the driver; the list reports it and carries on
// instead of ending the program.
void TestBrantle::failingCloseIsReportedNotFatal() {
    Bench bench;
    Brantle &w = *bench.window;
    bench.port.failClose = true;
    w.refreshDeviceList();
    QCOMPARE(bench.entries(), QStringList{"FX2 I2C Adapter (simulated) - [1]"});
    QVERIFY(bench.statusText().isEmpty() ||
            bench.statusText() == QLatin1String("Failed to close handle to driver."));
    w.openSelectedDevice();
    QCOMPARE(bench.indicatorMessage(), QStringLiteral("Error"));
    QCOMPARE(bench.statusText(), QStringLiteral("Failed to close handle to driver."));
    bench.port.failClose = false;
}

void TestBrantle::adapterThatCannotBeOpenedSaysWhy() {
    Bench bench;
    const QString reason =
        QStringLiteral("No permission to open it: install packaging/60-brantle.rules.");
    bench.port.refuseOpen = reason;
    bench.window->refreshDeviceList();
    QCOMPARE(bench.entries().size(), 1);
    QCOMPARE(bench.indicatorMessage(), QStringLiteral("Error"));
    QCOMPARE(bench.statusText(), reason);
    bench.port.refuseOpen.clear();
    bench.window->refreshDeviceList();
    QCOMPARE(bench.indicatorMessage(), QStringLiteral("Ready."));
    QCOMPARE(bench.statusText(), QString());
}

void TestBrantle::productDialogIsOneInstance() {
    Bench bench;
    Brantle &w = *bench.window;
    w.ui.action_Product_Info->trigger();
    w.ui.action_Product_Info->trigger();
    const auto dialogs = w.findChildren<FormProductInfo *>();
    QCOMPARE(dialogs.size(), 1);
    QVERIFY(dialogs[0]->isVisible());
    QVERIFY(!dialogs[0]->isModal());
    QCOMPARE(dialogs[0]->ui.labelProductName->text(), QStringLiteral("Orvane Corporation Brantle"));
    QCOMPARE(dialogs[0]->ui.labelProductVersion->text(),
             QStringLiteral("Version " BRANTLE_VERSION));
}

void TestBrantle::logPaneListsEverySend() {
    Bench bench;
    TestWindow &w = *bench.window;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    TransactionLogPane *pane = w.logPane();
    QVERIFY(pane);
    QCOMPARE(pane->objectName(), QStringLiteral("dockWidgetLog"));
    QVERIFY(!pane->isVisible());
    QAction *toggle = pane->toggleViewAction();
    QCOMPARE(toggle->text(), QStringLiteral("Transaction Log"));
    QVERIFY(w.ui.menu_View->actions().contains(toggle));
    toggle->trigger();
    QVERIFY(pane->isVisible());
    QCOMPARE(w.dockWidgetArea(pane), Qt::BottomDockWidgetArea);

    const QDateTime before = QDateTime::currentDateTime();
    const struct {
        QString script;
        QString thrown;
        QString outcome;
        QString reply;
    } sends[] = {
        {"91 FF ;", "", "OK", "19 00"},
        {"A0 00 , A1 FF ;", "", "NoAck", "FF 40"},
        {"A2 0 ;", "", "Parse Error: Hex data must be specify by of two digits. ", ""},
        {"A2 00 ;", "Error: Device not found.", "Error: Device not found.", ""},
        {"A2 00 ;", "", "Error: Fail to receive 1 byte data from USB device.(only 0 byte)", ""},
    };
    for (const auto &send : sends) {
        w.ui.textEditInput->setPlainText(send.script);
        w.thrower = nullptr;
        if (!send.thrown.isEmpty())
            w.thrower = [text = send.thrown] { throw text; };
        if (send.outcome.contains(QLatin1String("only 0 byte")))
            bench.stack.injectFault(Kind::BulkIn, 1, Action::ShortReply, 0);
        bench.send();
    }
    const TransactionLog &log = pane->log();
    QCOMPARE(log.rowCount(), int(std::size(sends)));
    QCOMPARE(pane->tableViewLog->model(), &log);
    for (int i = 0; i < log.rowCount(); ++i) {
        const TransactionRecord &record = log.record(i);
        QCOMPARE(record.outcome, sends[i].outcome);
        QCOMPARE(log.data(log.index(i, TransactionLog::OutcomeColumn)).toString(),
                 sends[i].outcome);
        QCOMPARE(log.data(log.index(i, TransactionLog::ReplyColumn)).toString(), sends[i].reply);
        QCOMPARE(record.adapter, QStringLiteral("FX2 I2C Adapter (simulated) - [1]"));
        QCOMPARE(record.clockKhz, 400);
        QVERIFY(record.time >= before.addMSecs(-1) && record.time <= QDateTime::currentDateTime());
        if (i > 0)
            QVERIFY(record.time >= log.record(i - 1).time);
    }
    // What was sent is the compiled script; a script that did not compile
    // sent nothing.
    QCOMPARE(TransactionCsv::hex(log.record(0).stream),
             QStringLiteral("00 01 00 12 00 13 91 FF 00 14"));
    QVERIFY(log.record(2).stream.isEmpty());
    // The newest row is in view.
    const QModelIndex newest = log.index(log.rowCount() - 1, 0);
    QVERIFY(
        pane->tableViewLog->viewport()->rect().intersects(pane->tableViewLog->visualRect(newest)));
    QCOMPARE(pane->log().capacity(), 10000);
    pane->pushButtonClearLog->click();
    QCOMPARE(log.rowCount(), 0);
}

// Auto send: a sensor read every 500 ms becomes a series in the log.
void TestBrantle::autoSendsAreLogged() {
    Bench bench;
    TestWindow &w = *bench.window;
    w.ui.textEditInput->setPlainText(QStringLiteral("90 00 , 91 FF FF ;"));
    w.ui.pushButtonAutoSend->click();
    for (int i = 0; i < 4; ++i) {
        QTimerEvent tick(w.autoTimerId);
        QCoreApplication::sendEvent(&w, &tick);
    }
    w.ui.pushButtonAutoSend->click();
    const TransactionLog &log = w.logPane()->log();
    QCOMPARE(log.rowCount(), 4);
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(log.record(i).outcome, QStringLiteral("OK"));
        QCOMPARE(TransactionCsv::hex(log.record(i).reply), QStringLiteral("19 00 00"));
    }
}

void TestBrantle::saveLogWritesTheCsv() {
    Bench bench;
    TestWindow &w = *bench.window;
    w.ui.textEditInput->setPlainText(QStringLiteral("91 FF ;"));
    bench.send();
    w.ui.comboBoxClock->setCurrentIndex(0);
    w.thrower = [] {
        throw QStringLiteral(
            "Error: The data is too large for the USB device. (12000 byte, limit 11912 byte)");
    };
    bench.send();
    w.thrower = [] { throw QStringLiteral("Unexpected \"quoted\",\ntwo lines"); };
    bench.send();

    QCOMPARE(QFileInfo(w.logPath).fileName(), QStringLiteral("Brantle_log.csv"));
    const QString path = m_dir.filePath(QStringLiteral("window-log.csv"));
    {
        FileDialogAnswer answer(path);
        w.logPane()->toolButtonSaveLog->click();
        QCOMPARE(QFileInfo(answer.proposed).fileName(), QStringLiteral("Brantle_log.csv"));
        QCOMPARE(answer.nameFilters, QStringList{"CSV files (*.csv)"});
    }
    QCOMPARE(w.logPath, path);
    // The same command from the File menu, into a folder that is not there.
    MessageBoxCatcher boxes;
    {
        FileDialogAnswer answer(m_dir.filePath(QStringLiteral("missing/log.csv")));
        w.ui.actionSave_Log->trigger();
    }
    QCOMPARE(boxes.count, 1);
    QCOMPARE(boxes.title, QStringLiteral("Save Log"));
#ifdef Q_OS_WIN
    // The system's words, in the system's language.
    QFile same(m_dir.filePath(QStringLiteral("missing/log.csv")));
    QVERIFY(!same.open(QIODevice::WriteOnly));
    QVERIFY(!same.errorString().isEmpty());
    QCOMPARE(boxes.text, QStringLiteral("Cannot save the log: ") + same.errorString());
#else
    QCOMPARE(boxes.text, QStringLiteral("Cannot save the log: No such file or directory"));
#endif

    QString error;
    const QList<QStringList> rows = readCsv(path, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(rows.size(), 4);
    QCOMPARE(rows[0], (QStringList{"time", "adapter", "clock_khz", "outcome", "stream", "reply"}));
    const TransactionLog &log = w.logPane()->log();
    for (int i = 0; i < 3; ++i) {
        const TransactionRecord &r = log.record(i);
        QCOMPARE(
            rows[i + 1],
            (QStringList{TransactionCsv::timestamp(r.time), r.adapter, QString::number(r.clockKhz),
                         r.outcome, TransactionCsv::hex(r.stream), TransactionCsv::hex(r.reply)}));
    }
    QCOMPARE(rows[1][3], QStringLiteral("OK"));
    QCOMPARE(rows[1][5], QStringLiteral("19 00"));
    QCOMPARE(rows[2][2], QStringLiteral("100"));
    QCOMPARE(rows[3][3], QStringLiteral("Unexpected \"quoted\",\ntwo lines"));
}

void TestBrantle::scanDialogShowsWhoAnswers_data() {
    QTest::addColumn<int>("probe");
    QTest::addColumn<int>("clock");
    QTest::addColumn<QString>("addressByte"); // of the first probe
    QTest::newRow("quick write at 400 kHz") << 0 << 1 << "10 00 14";
    QTest::newRow("one-byte read at 100 kHz") << 1 << 0 << "11 FF 00 14";
}

// The scan goes through the window's adapter and clock and leaves the
// window as it was: script, result, indicator, log.
void TestBrantle::scanDialogShowsWhoAnswers() {
    QFETCH(int, probe);
    QFETCH(int, clock);
    QFETCH(QString, addressByte);
    Bench bench;
    TestWindow &w = *bench.window;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.ui.comboBoxClock->setCurrentIndex(clock);
    const QString script = w.ui.textEditInput->toPlainText();
    const QString result = w.ui.textEditResult->toPlainText();
    const QString indicator = w.ui.labelInfo->text();
    BusScanDialog *dialog = w.scanDialog();
    QVERIFY(dialog);
    QVERIFY(!dialog->isVisible());
    dialog->comboBoxProbe->setCurrentIndex(probe);
    bench.stack.clearLog();

    w.ui.actionScan_Bus->trigger();
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Bus Scan"));
    QCOMPARE(dialog->answered(), (QVector<int>{0x48, 0x51}));
    QCOMPARE(dialog->labelAdapter->text(), QStringLiteral("FX2 I2C Adapter (simulated) - [1]"));
    QCOMPARE(dialog->labelClock->text(), w.ui.comboBoxClock->currentText());
    QCOMPARE(dialog->labelResult->text(), QStringLiteral("Answered: 0x48, 0x51"));
    QTableWidget *grid = dialog->tableWidgetGrid;
    QCOMPARE(grid->rowCount(), 8);
    QCOMPARE(grid->columnCount(), 16);
    QCOMPARE(grid->verticalHeaderItem(7)->text(), QStringLiteral("70:"));
    QCOMPARE(grid->horizontalHeaderItem(10)->text(), QStringLiteral("a"));
    const QColor highlight(144, 238, 144);
    for (int address = 0; address < 0x80; ++address) {
        QTableWidgetItem *cell = grid->item(address / 16, address % 16);
        const bool answered = address == 0x48 || address == 0x51;
        const QString text = address < 0x08 || address > 0x77
                                 ? QString()
                                 : (answered ? QString::number(address, 16) : QStringLiteral("--"));
        QCOMPARE(cell->text(), text);
        QCOMPARE(cell->background().color() == highlight, answered);
    }
    // One transaction per address, compiled with the window's clock.
    QStringList streams;
    for (const auto &e : bench.stack.log())
        if (e.kind == Kind::BulkOut && e.data.size() > 4)
            streams << TransactionCsv::hex(e.data);
    QCOMPARE(streams.size(), 0x70);
    QCOMPARE(streams.first(), QStringLiteral("00 01 00 1%1 00 13 ").arg(clock + 1) + addressByte);

    QCOMPARE(w.ui.textEditInput->toPlainText(), script);
    QCOMPARE(w.ui.textEditResult->toPlainText(), result);
    QCOMPARE(w.ui.labelInfo->text(), indicator);
    QCOMPARE(w.logPane()->log().rowCount(), 0);

    // Rescan reads the window's clock afresh.
    w.ui.comboBoxClock->setCurrentIndex(1 - clock);
    w.sends = 0;
    dialog->pushButtonRescan->click();
    QCOMPARE(w.sends, 0x70);
    QCOMPARE(dialog->labelClock->text(), w.ui.comboBoxClock->currentText());
    QCOMPARE(dialog->answered(), (QVector<int>{0x48, 0x51}));
    dialog->pushButtonClose->click();
    QVERIFY(!dialog->isVisible());
}

void TestBrantle::scanEndedByADeviceError() {
    Bench bench;
    TestWindow &w = *bench.window;
    BusScanDialog *dialog = w.scanDialog();
    const QString error = QStringLiteral("Error: Fail to receive Brantle data from USB device.");
    w.thrower = [&] {
        if (w.sends == 0x52 - 0x08 + 1)
            throw error;
    };
    w.ui.actionScan_Bus->trigger();
    QCOMPARE(dialog->labelResult->text(), error);
    QCOMPARE(dialog->answered(), (QVector<int>{0x48, 0x51}));
    QCOMPARE(dialog->tableWidgetGrid->item(5, 1)->text(), QStringLiteral("51"));
    QCOMPARE(dialog->tableWidgetGrid->item(5, 2)->text(), QString()); // never probed
    QCOMPARE(dialog->tableWidgetGrid->item(5, 0)->text(), QStringLiteral("--"));

    // Without an adapter the scan says so at once.
    w.thrower = nullptr;
    bench.stack.unplug(bench.paths[0]);
    QTRY_COMPARE(bench.entries(), QStringList());
    dialog->pushButtonRescan->click();
    QCOMPARE(dialog->labelAdapter->text(), QStringLiteral("none"));
    QVERIFY2(dialog->labelResult->text().startsWith(QLatin1String("Error: Device not found.\n")),
             qPrintable(dialog->labelResult->text()));
    QVERIFY(dialog->labelResult->text().contains(QLatin1String("04B4:8613")));
    QVERIFY(dialog->answered().isEmpty());
    QCOMPARE(dialog->tableWidgetGrid->item(0, 8)->text(), QString());
}

void TestBrantle::japaneseCatalogue() {
    QTranslator translator;
    QVERIFY(translator.load(QStringLiteral("brantle_ja_JP"), QStringLiteral(":/Brantle")));
    QCoreApplication::installTranslator(&translator);
    auto remove = qScopeGuard([&] { QCoreApplication::removeTranslator(&translator); });

    Bench bench;
    TestWindow &w = *bench.window;
    QCOMPARE(w.windowTitle(), QStringLiteral("Brantle-" BRANTLE_VERSION));
    QCOMPARE(w.ui.pushButtonSend->text(), QStringLiteral("出力"));
    QCOMPARE(w.ui.pushButtonAutoSend->text(), QStringLiteral("自動出力"));
    QCOMPARE(w.ui.menu_File->title(), QStringLiteral("ファイル(&F)"));
    QCOMPARE(w.ui.action_Product_Info->text(), QStringLiteral("製品情報(&P)"));
    QCOMPARE(w.ui.menu_View->title(), QStringLiteral("表示(&V)"));
    QCOMPARE(w.ui.menu_Tools->title(), QStringLiteral("ツール(&T)"));
    QCOMPARE(w.ui.actionScan_Bus->text(), QStringLiteral("バスをスキャン(&S)..."));
    QCOMPARE(w.ui.actionSave_Log->text(), QStringLiteral("ログを保存..."));
    QCOMPARE(w.logPane()->windowTitle(), QStringLiteral("通信ログ"));
    QCOMPARE(w.logPane()->log().headerData(TransactionLog::ReplyColumn, Qt::Horizontal),
             QVariant(QStringLiteral("受信バイト")));
    QCOMPARE(w.scanDialog()->windowTitle(), QStringLiteral("バススキャン"));
    QCOMPARE(w.scanDialog()->pushButtonRescan->text(), QStringLiteral("再スキャン"));
    QCOMPARE(w.scanDialog()->comboBoxProbe->itemText(0), QStringLiteral("クイックライト"));
    QCOMPARE(w.ui.mainToolBar->toggleViewAction()->text(), QStringLiteral("デバイスツールバー"));
    QCOMPARE(w.ui.label_3->text(), QStringLiteral("[wait 0.02] //0.02msec"));
    QVERIFY(w.ui.textEditInput->toPlainText().startsWith(
        QStringLiteral("// ここに出力したいI2Cテキストを書きます。")));
    QCOMPARE(w.ui.textEditInput->toPlainText().count(u'\n'), 27);
    QCOMPARE(w.ui.textEditResult->toPlainText(),
             QStringLiteral("// ここに出力結果が表示されます。\n// "
                            "I2CリードのFF部分が読み込みデータで上書き\n// 表示されます。"));
    QCOMPARE(w.productInfo()->windowTitle(), QStringLiteral("製品情報"));
    QCOMPARE(w.productInfo()->ui.labelProductVersion->text(),
             QStringLiteral("バージョン " BRANTLE_VERSION));
    // The five without a translation show their source.
    QCOMPARE(QCoreApplication::translate("BrantleClass", "Brantle"), QStringLiteral("Brantle"));
    QCOMPARE(QCoreApplication::translate("BrantleClass", "2009/04/06 00:00:00\nReady"),
             QStringLiteral("2009/04/06 00:00:00\nReady"));
    for (const char *source : {"XXXXXXXXXX", "Version X.X.X.X", "Copyright"})
        QCOMPARE(QCoreApplication::translate("Dialog", source), QString::fromLatin1(source));
    // Lookups are exact, trailing blank and all.
    QCOMPARE(
        QCoreApplication::translate("Brantle", "Error: 0x00 of the escape code is used alone."),
        QStringLiteral("Error: 0x00 of the escape code is used alone."));

    // A script error is still told apart, with its span, and shown translated.
    w.ui.textEditInput->setPlainText(QStringLiteral("A2 0 ;"));
    bench.send();
    QCOMPARE(bench.indicatorMessage(), QStringLiteral("Parse Error"));
    QCOMPARE(bench.statusText(),
             QStringLiteral("文法エラー：　バイトデータは二桁の16進数で指定する必要があります。"));
    QCOMPARE(w.ui.textEditInput->textCursor().selectionStart(), 3);
    QCOMPARE(w.ui.textEditInput->textCursor().selectionEnd(), 4);
    // So is a translated script error that arrives as plain text.
    w.thrower = [] { throw QStringLiteral("文法エラー：　Index=1, Length=2, 何か"); };
    w.ui.textEditInput->setPlainText(QStringLiteral("A2 00 ;"));
    bench.send();
    QCOMPARE(bench.indicatorMessage(), QStringLiteral("Parse Error"));
    QCOMPARE(w.ui.textEditInput->textCursor().selectionStart(), 1);
    QCOMPARE(w.ui.textEditInput->textCursor().selectionEnd(), 3);
    // And a device error.
    w.thrower = nullptr;
    bench.stack.unplug(bench.paths[0]);
    QTRY_COMPARE(bench.entries(), QStringList());
    QCOMPARE(bench.statusText(), QStringLiteral("エラー：　デバイスが見つかりませんでした。"));
    bench.send();
    QCOMPARE(bench.indicatorMessage(), QStringLiteral("Error"));
    QCOMPARE(bench.statusText(), QStringLiteral("エラー：　デバイスが見つかりませんでした。"));
}

// Under Japanese the toolkit's own texts (dialog buttons, file dialogs) come
// from the toolkit's catalogue, loaded beside the program's.
void TestBrantle::toolkitTextsFollowTheCatalogue() {
    {
        QTranslator translator;
        Brantle::installCatalogue(translator, QLocale(QLocale::Japanese, QLocale::Japan));
        QCOMPARE(QCoreApplication::translate("BrantleClass", "Send"), QStringLiteral("出力"));
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"),
                 QStringLiteral("キャンセル"));
    }
    // Gone with the program's translator.
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
    {
        QTranslator translator;
        Brantle::installCatalogue(translator, QLocale(QLocale::English, QLocale::UnitedStates));
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
        QCOMPARE(QCoreApplication::translate("BrantleClass", "Send"), QStringLiteral("Send"));
    }
}

// So do the reasons a file could not be opened, where the toolkit words them.
void TestBrantle::fileReasonsFollowTheCatalogue() {
#ifdef Q_OS_WIN
    QSKIP("Windows words these reasons itself, in the language of the system");
#endif
    QTranslator translator;
    Brantle::installCatalogue(translator, QLocale(QLocale::Japanese, QLocale::Japan));
    QFile missing(m_dir.filePath(QStringLiteral("none.txt")));
    QVERIFY(!missing.open(QIODevice::ReadOnly));
    QCOMPARE(missing.errorString(), QStringLiteral("そのようなファイルやディレクトリはありません"));
}

QTEST_MAIN(TestBrantle)
#include "tst_brantle.moc"
