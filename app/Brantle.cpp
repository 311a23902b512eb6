#include "Brantle.h"

#include "AdapterGuidance.h"
#include "AdapterSession.h"
#include "Brantle2.h"
#include "BrantleVersion.h"
#include "BusScanDialog.h"
#include "CCyDriverDevice.h"
#include "EepromDialog.h"
#include "FileSaver.h"
#include "FormProductInfo.h"
#include "RegisterDialog.h"
#include "ScanStream.h"
#include "TransactionLogPane.h"
#include "WatchChannel.h"
#include "WatchPane.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QRegularExpression>
#include <QScrollBar>
#include <QShortcut>
#include <QSpinBox>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTime>
#include <QTimer>
#include <QTimerEvent>
#include <QTranslator>

#include <optional>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

const QColor Brantle::lightGreen(144, 238, 144, 255);

namespace {

const int autoSendIntervalMs = 500;
const int autoSendShortestMs = 20;
const int autoSendLongestMs = 60000;

void paintAllGroups(QPalette &palette, QPalette::ColorRole role, const QBrush &brush) {
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        palette.setBrush(group, role, brush);
}

// A device-side failure: its text begins with "Error: " in English or in the
// catalogue's translation.
bool isDeviceError(const QString &text) {
    if (text.startsWith(QLatin1String("Error: ")))
        return true;
    const QString prefix = sharedPrefix(
        {Brantle::tr("Error: Device not found."), Brantle::tr("Error: Fail to CPUCS=1."),
         Brantle::tr("Error: Error has occured in firmware in USB device"),
         Brantle::tr("Error: 0x00 of the escape code is used alone. ")});
    return !prefix.isEmpty() && text.startsWith(prefix);
}

// A script error in text form, English or translated: the translated wrapper
// becomes the pattern, with its three fields captured.
QRegularExpressionMatch matchParseError(const QString &text) {
    static const QRegularExpression english(
        QStringLiteral("^Parse Error: Index=([0-9]+), Length=([0-9]+), (.*)"),
        QRegularExpression::DotMatchesEverythingOption);
    QRegularExpressionMatch match = english.match(text);
    if (match.hasMatch())
        return match;
    QString pattern =
        QRegularExpression::escape(Brantle2::tr("Parse Error: Index=%1, Length=%2, %3"));
    pattern.replace(QRegularExpression::escape(QStringLiteral("%1")), QLatin1String("([0-9]+)"));
    pattern.replace(QRegularExpression::escape(QStringLiteral("%2")), QLatin1String("([0-9]+)"));
    pattern.replace(QRegularExpression::escape(QStringLiteral("%3")), QLatin1String("(.*)"));
    return QRegularExpression(u'^' + pattern, QRegularExpression::DotMatchesEverythingOption)
        .match(text);
}

} // namespace

Brantle::Brantle(DriverPort &port, QWidget *parent, Qt::WindowFlags flags)
    : QMainWindow(parent, flags), m_port(port) {
    QCoreApplication::setApplicationName(QStringLiteral("Brantle"));
    QCoreApplication::setApplicationVersion(QStringLiteral(BRANTLE_VERSION));
    QCoreApplication::setOrganizationName(QStringLiteral("Orvane Corporation"));
    QCoreApplication::setOrganizationDomain(QString());

    ui.setupUi(this);

    // The result pane looks like a disabled field while it stays editable.
    QPalette resultPalette = ui.textEditResult->palette();
    paintAllGroups(
        resultPalette, QPalette::Base,
        QBrush(resultPalette.color(QPalette::Disabled, QPalette::Base), Qt::SolidPattern));
    ui.textEditResult->setPalette(resultPalette);

    setWindowTitle(QCoreApplication::applicationName() + u'-' +
                   QCoreApplication::applicationVersion());

    ui.comboBoxClock->addItem(QStringLiteral("100KHz"));
    ui.comboBoxClock->addItem(QStringLiteral("400KHz"));
    ui.comboBoxClock->setCurrentIndex(1);

    showStatus(QStringLiteral("Ready."), lightGreen, QString());

#ifdef Q_OS_WIN
    // Windows tells windows of device changes: this one, by message, when
    // the port reaches the vendor's driver (nativeEvent handles it).
    m_deviceNotification =
        m_port.registerWindowNotification(quintptr(winId()), DriverPort::adapterInterfaceClass());
#endif
    if (!m_deviceNotification)
        m_deviceNotification = m_port.registerClassNotification(
            DriverPort::adapterInterfaceClass(),
            [this](const DriverPort::DeviceChange &) { refreshDeviceList(); });
    m_session = std::make_unique<AdapterSession>(m_port);

    m_productInfo = new FormProductInfo(this);

    auto *selector = new QWidget(this);
    selector->setGeometry(40, 100, 415, 21);
    auto *selectorLayout = new QHBoxLayout(selector);
    selectorLayout->setSpacing(2);
    selectorLayout->setContentsMargins(2, 2, 2, 2);
    auto *devicesLabel = new QLabel(tr("Devices"), selector);
    devicesLabel->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    selectorLayout->addWidget(devicesLabel);
    comboBoxDevices = new QComboBox(selector);
    comboBoxDevices->setObjectName(QStringLiteral("comboBoxDevices"));
    comboBoxDevices->setMinimumSize(350, 0);
    selectorLayout->addWidget(comboBoxDevices);
    connect(comboBoxDevices, &QComboBox::currentIndexChanged, this,
            &Brantle::comboBoxDevices_currentIndexChanged);
    ui.mainToolBar->addWidget(selector);

    m_logPane = new TransactionLogPane(ui.actionSave_Log, this);
    addDockWidget(Qt::BottomDockWidgetArea, m_logPane);
    m_logPane->hide();
    ui.menu_View->addAction(m_logPane->toggleViewAction());
    m_watchPane = new WatchPane(this);
    addDockWidget(Qt::BottomDockWidgetArea, m_watchPane);
    m_watchPane->hide();
    ui.menu_View->addAction(m_watchPane->toggleViewAction());
    connect(m_watchPane, &WatchPane::channelsEdited, this, &Brantle::watchPane_channelsEdited);
    m_watchLinesTimer = new QTimer(this);
    m_watchLinesTimer->setSingleShot(true);
    m_watchLinesTimer->setInterval(300);
    connect(m_watchLinesTimer, &QTimer::timeout, this, &Brantle::readWatchLines);
    connect(ui.textEditInput, &QTextEdit::textChanged, m_watchLinesTimer,
            qOverload<>(&QTimer::start));

    spinBoxAutoPeriod = new QSpinBox(ui.centralWidget);
    spinBoxAutoPeriod->setObjectName(QStringLiteral("spinBoxAutoPeriod"));
    spinBoxAutoPeriod->setRange(autoSendShortestMs, autoSendLongestMs);
    spinBoxAutoPeriod->setSingleStep(10);
    spinBoxAutoPeriod->setValue(autoSendIntervalMs);
    spinBoxAutoPeriod->setSuffix(tr(" ms"));
    spinBoxAutoPeriod->setToolTip(tr("Auto sends once in this period (20 ms to 60 s)."));
    spinBoxAutoPeriod->setAccelerated(true);
    const int autoAt = ui.verticalLayout->indexOf(ui.pushButtonAutoSend);
    ui.verticalLayout->insertWidget(autoAt < 0 ? ui.verticalLayout->count() : autoAt + 1,
                                    spinBoxAutoPeriod);
    connect(spinBoxAutoPeriod, &QSpinBox::valueChanged, this,
            &Brantle::spinBoxAutoPeriod_valueChanged);
    ui.menu_View->addAction(ui.mainToolBar->toggleViewAction());
    m_scanDialog =
        new BusScanDialog([this](QByteArray &stream) { return transact(stream); },
                          [this] {
                              return BusScanDialog::Target{comboBoxDevices->currentText(),
                                                           ui.comboBoxClock->currentText(),
                                                           ui.comboBoxClock->currentIndex()};
                          },
                          this);
    const auto tool = [this](QByteArray &stream) { return toolTransact(stream); };
    const auto clock = [this] { return ui.comboBoxClock->currentIndex(); };
    m_eepromDialog = new EepromDialog(tool, clock, this);
    m_registerDialog = new RegisterDialog(tool, clock, this);
    actionEeprom = ui.menu_Tools->addAction(tr("&EEPROM..."));
    actionEeprom->setObjectName(QStringLiteral("actionEeprom"));
    connect(actionEeprom, &QAction::triggered, m_eepromDialog, [this] {
        m_eepromDialog->show();
        m_eepromDialog->raise();
        m_eepromDialog->activateWindow();
    });
    actionRegisters = ui.menu_Tools->addAction(tr("&Registers..."));
    actionRegisters->setObjectName(QStringLiteral("actionRegisters"));
    connect(actionRegisters, &QAction::triggered, m_registerDialog, [this] {
        m_registerDialog->show();
        m_registerDialog->raise();
        m_registerDialog->activateWindow();
    });

    refreshDeviceList();

    const QString folder = fileFolder(QCoreApplication::applicationDirPath());
    sendTextPath = folder + QStringLiteral("/Brantle_input.txt");
    resultTextPath = folder + QStringLiteral("/Brantle_result.txt");
    logPath = QFileInfo(sendTextPath).absolutePath() + QStringLiteral("/Brantle_log.csv");

    connect(ui.actionOpen_Send_Text, &QAction::triggered, this,
            &Brantle::actionOpen_Send_Text_triggered);
    connect(ui.actionOpen_Result_Text, &QAction::triggered, this,
            &Brantle::actionOpen_Result_Text_triggered);
    connect(ui.actionSave_Send_Text, &QAction::triggered, this,
            &Brantle::actionSave_Send_Text_triggered);
    connect(ui.actionSave_Result_Text, &QAction::triggered, this,
            &Brantle::actionSave_Result_Text_triggered);
    connect(ui.pushButtonSend, &QPushButton::clicked, this, &Brantle::pushButtonSend_clicked);
    connect(ui.pushButtonAutoSend, &QPushButton::clicked, this,
            &Brantle::pushButtonAutoSend_clicked);
    connect(ui.textEditInput, &MyQTextEdit::scrolled, this, &Brantle::textEditInput_scrolled);
    connect(ui.textEditResult, &MyQTextEdit::scrolled, this, &Brantle::textEditResult_scrolled);
    connect(ui.actionAbout_Qt, &QAction::triggered, qApp, &QApplication::aboutQt);
    connect(ui.action_Product_Info, &QAction::triggered, m_productInfo, &QWidget::show);
    connect(ui.actionSave_Log, &QAction::triggered, this, &Brantle::actionSave_Log_triggered);
    connect(ui.actionScan_Bus, &QAction::triggered, this, &Brantle::actionScan_Bus_triggered);

    // The keys such tools use: Ctrl+Return runs what was typed, and the file
    // commands of the script pane and Quit have the platform's shortcuts.
    ui.pushButtonSend->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Return));
    auto *sendOnKeypad = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Enter), this);
    connect(sendOnKeypad, &QShortcut::activated, ui.pushButtonSend, &QPushButton::animateClick);
    ui.pushButtonSend->setToolTip(
        tr("Send the script (%1)")
            .arg(ui.pushButtonSend->shortcut().toString(QKeySequence::NativeText)));
    ui.actionOpen_Send_Text->setShortcut(QKeySequence::Open);
    ui.actionSave_Send_Text->setShortcut(QKeySequence::Save);
    ui.menu_File->addSeparator();
    QAction *quit = ui.menu_File->addAction(tr("&Quit"));
    quit->setObjectName(QStringLiteral("actionQuit"));
    quit->setShortcut(QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);
    connect(quit, &QAction::triggered, this, &QWidget::close);
    // The script as the form sets it is nobody's work yet.
    ui.textEditInput->document()->setModified(false);

    autoTimerId = 0;
}

Brantle::~Brantle() {
    if (autoTimerId != 0) {
        killTimer(autoTimerId);
        autoTimerId = 0;
    }
    if (m_deviceNotification)
        m_port.unregisterNotification(m_deviceNotification);
    try {
        m_session->device().close();
    } catch (...) {
        // Nothing is left to tell at exit.
    }
}

void Brantle::installCatalogue(QTranslator &translator, const QLocale &locale) {
    // The toolkit's own texts (standard buttons, file dialogs, the reasons a
    // file could not be opened) come from its catalogue in the system's
    // translations folder. It lives as long as the program's translator.
    auto *toolkit = new QTranslator(&translator);
    if (toolkit->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(toolkit);
    (void)translator.load(QStringLiteral("brantle_") + locale.name(), QStringLiteral(":/Brantle"));
    QCoreApplication::installTranslator(&translator);
}

QString Brantle::fileFolder(const QString &programFolder) {
    if (FileSaver::folderTakesNewFile(programFolder))
        return programFolder;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty() && QFileInfo(documents).isDir())
        return documents;
    return QDir::homePath();
}

CCyDriverDevice &Brantle::device() {
    return m_session->device();
}

void Brantle::showStatus(QString message, QColor colour, QString statusText) {
    ui.labelInfo->setText(QDate::currentDate().toString(QStringLiteral("yyyy.MM.dd.")) +
                          QTime::currentTime().toString(QStringLiteral("hh:mm:ss")) + u'\n' +
                          message);
    QPalette palette = ui.labelInfo->palette();
    palette.setColor(QPalette::Window, colour);
    ui.labelInfo->setPalette(palette);
    ui.labelInfo->update();
    statusBar()->showMessage(statusText);
}

void Brantle::setFirmwareImage(const QString &path) {
    m_session->setFirmwareImage(path);
}

bool Brantle::transact(QByteArray &stream) {
    return m_session->transact(stream, &m_lastReply);
}

bool Brantle::toolTransact(QByteArray &stream) {
    TransactionRecord record;
    record.time = QDateTime::currentDateTime();
    record.adapter = comboBoxDevices->currentText();
    record.clockKhz = ui.comboBoxClock->currentIndex() == 0 ? 100 : 400;
    record.stream = stream;
    m_lastReply.clear();
    try {
        const bool acknowledged = transact(stream);
        record.outcome = acknowledged ? TransactionRecord::ok() : TransactionRecord::noAck();
        record.reply = m_lastReply;
        m_logPane->append(std::move(record));
        return acknowledged;
    } catch (const QString &error) {
        record.outcome = error;
        record.reply = m_lastReply;
        m_logPane->append(std::move(record));
        throw;
    }
}

int Brantle::ensureFirmware() {
    return m_session->ensureFirmware();
}

void Brantle::pushButtonSend_clicked() {
    TransactionRecord record;
    record.time = QDateTime::currentDateTime();
    record.adapter = comboBoxDevices->currentText();
    record.clockKhz = ui.comboBoxClock->currentIndex() == 0 ? 100 : 400;
    m_lastReply.clear();
    std::optional<bool> acknowledged;
    QList<WatchChannel> channels;
    int readCount = -1;

    showStatus(QStringLiteral("Processing..."), Qt::yellow, QString());
    setResultText(QString());
    // The transaction blocks the GUI thread (a long wait, a time-out): paint
    // the indicator and the emptied result now, or the previous outcome and
    // answer stay on screen meanwhile.
    ui.labelInfo->repaint();
    ui.textEditResult->viewport()->repaint();
    try {
        QString text = ui.textEditInput->toPlainText();
        Brantle2 converter;
        converter.clock = ui.comboBoxClock->currentIndex();
        QByteArray stream;
        // A malformed watch line is a script error: no send with it.
        channels = WatchLines::parse(text);
        converter.convert(text, Brantle2::Compile, stream);
        if (!channels.isEmpty()) {
            QByteArray counted = stream;
            scanStream(counted, false, &readCount, nullptr);
            WatchLines::checkReadCount(channels, readCount);
        }
        record.stream = stream;
        acknowledged = transact(stream);
        converter.convert(text, Brantle2::Render, stream);
        setResultText(text);
        if (*acknowledged)
            showStatus(QStringLiteral("OK."), lightGreen, QString());
        else
            showStatus(QStringLiteral("NoAck"), Qt::red, QString());
    } catch (const ScriptParseError &e) {
        selectFaultySpan(e.index, e.length);
        showStatus(QStringLiteral("Parse Error"), Qt::red, Brantle2::messagePrefix() + e.message);
    } catch (const QString &e) {
        reportFailure(e);
    } catch (...) {
        showStatus(QStringLiteral("Unexpected Error"), Qt::red, tr("Unexpected error occured."));
    }
    // A failure was explained in the status bar; the log keeps the same text.
    if (acknowledged && statusBar()->currentMessage().isEmpty())
        record.outcome = *acknowledged ? TransactionRecord::ok() : TransactionRecord::noAck();
    else
        record.outcome = statusBar()->currentMessage();
    record.reply = m_lastReply;
    if (!channels.isEmpty()) {
        // Only an acknowledged send read what the channels decode; any other
        // leaves a gap.
        const bool read = record.outcome == TransactionRecord::ok();
        record.channels = WatchLines::titles(channels);
        record.values = WatchLines::values(
            channels, read ? WatchLines::readBytes(m_lastReply, readCount) : QByteArray());
        m_watchPane->addSample(record.time, record.channels, record.values);
    }
    m_logPane->append(std::move(record));
}

void Brantle::setResultText(const QString &text) {
    // Replacing the text scrolls the result to the top left. That scroll must
    // not reach the script pane, which stays where the user left it; the
    // result then follows the script so that the panes line up.
    const bool wasBusy = scrollSyncBusy;
    scrollSyncBusy = true;
    ui.textEditResult->setPlainText(text);
    scrollSyncBusy = wasBusy;
    textEditInput_scrolled(ui.textEditInput->horizontalScrollBar()->value(),
                           ui.textEditInput->verticalScrollBar()->value());
}

bool Brantle::event(QEvent *event) {
    // The status bar explains the last outcome until the next send. Menu
    // entries send (empty) status tips while hovered; they would wipe it.
    if (event->type() == QEvent::StatusTip)
        return true;
    return QMainWindow::event(event);
}

#ifdef Q_OS_WIN
bool Brantle::nativeEvent(const QByteArray &eventType, void *message, qintptr *result) {
    if (eventType != "windows_generic_MSG" && eventType != "windows_dispatcher_MSG")
        return QMainWindow::nativeEvent(eventType, message, result);
    // Whatever came or went: the list is rebuilt from what is present now.
    if (static_cast<const MSG *>(message)->message != WM_DEVICECHANGE)
        return false;
    // Ports without notifications of their own (libusb) catch up first, so
    // that a removed adapter's handle is known to be gone.
    m_port.systemDeviceChange();
    refreshDeviceList();
    return true;
}
#endif

void Brantle::reportFailure(const QString &error) {
    if (isDeviceError(error)) {
        showStatus(QStringLiteral("Error"), Qt::red, error);
        return;
    }
    const QRegularExpressionMatch parse = matchParseError(error);
    if (parse.hasMatch()) {
        bool indexOk = false;
        bool lengthOk = false;
        const int index = parse.captured(1).toInt(&indexOk, 10);
        const int length = parse.captured(2).toInt(&lengthOk, 10);
        if (indexOk && lengthOk)
            selectFaultySpan(index, length);
        showStatus(QStringLiteral("Parse Error"), Qt::red,
                   Brantle2::messagePrefix() + parse.captured(3));
        return;
    }
    showStatus(QStringLiteral("Unexpected Error"), Qt::red, error);
}

void Brantle::selectFaultySpan(int index, int length) {
    ui.textEditInput->setFocus();
    QTextCursor cursor = ui.textEditInput->textCursor();
    cursor.setPosition(index);
    cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor, length);
    ui.textEditInput->setTextCursor(cursor);
}

void Brantle::pushButtonAutoSend_clicked(bool checked) {
    if (checked) {
        // A send that outlasts the period delays the next tick; ticks are
        // not queued, so sends then follow back to back.
        if (autoTimerId == 0)
            autoTimerId = startTimer(spinBoxAutoPeriod->value(), Qt::PreciseTimer);
        return;
    }
    if (autoTimerId != 0) {
        killTimer(autoTimerId);
        autoTimerId = 0;
    }
    ui.pushButtonSend->setPalette(ui.pushButtonAutoSend->palette());
}

void Brantle::spinBoxAutoPeriod_valueChanged(int ms) {
    if (autoTimerId == 0)
        return;
    killTimer(autoTimerId);
    autoTimerId = startTimer(ms, Qt::PreciseTimer);
}

void Brantle::readWatchLines() {
    try {
        m_watchPane->setChannels(WatchLines::parse(ui.textEditInput->toPlainText()));
    } catch (const ScriptParseError &e) {
        m_watchPane->setChannels({}, Brantle2::messagePrefix() + e.message);
    }
}

void Brantle::watchPane_channelsEdited(const QList<WatchChannel> &channels) {
    // Only the lines that changed are replaced, in one undoable step; the
    // rest of the script, the cursor and the view stay where they were.
    const QString before = ui.textEditInput->toPlainText();
    const QString after = WatchLines::replace(before, channels);
    int head = 0;
    const int shorter = int(qMin(before.size(), after.size()));
    while (head < shorter && before.at(head) == after.at(head))
        ++head;
    int tail = 0;
    while (tail < shorter - head &&
           before.at(before.size() - 1 - tail) == after.at(after.size() - 1 - tail))
        ++tail;
    QTextCursor cursor(ui.textEditInput->document());
    cursor.setPosition(head);
    cursor.setPosition(int(before.size()) - tail, QTextCursor::KeepAnchor);
    cursor.insertText(after.mid(head, after.size() - head - tail));
}

void Brantle::timerEvent(QTimerEvent *event) {
    if (event->timerId() != autoTimerId)
        return;
    // An EEPROM operation lets events through between its pages; a send in
    // the middle of it would interleave with its transactions.
    if (m_eepromDialog->running())
        return;
    pushButtonSend_clicked();
    QPalette palette = ui.pushButtonSend->palette();
    palette.setColor(QPalette::ButtonText, sendBlinkState ? Qt::blue : Qt::red);
    ui.pushButtonSend->setPalette(palette);
    sendBlinkState = !sendBlinkState;
}

void Brantle::textEditInput_scrolled(int x, int y) {
    if (scrollSyncBusy)
        return;
    scrollSyncBusy = true;
    ui.textEditResult->horizontalScrollBar()->setValue(x);
    ui.textEditResult->verticalScrollBar()->setValue(y);
    scrollSyncBusy = false;
}

void Brantle::textEditResult_scrolled(int x, int y) {
    if (scrollSyncBusy)
        return;
    scrollSyncBusy = true;
    ui.textEditInput->horizontalScrollBar()->setValue(x);
    ui.textEditInput->verticalScrollBar()->setValue(y);
    scrollSyncBusy = false;
}

void Brantle::fileCommand(FileAction action, QString &path, MyQTextEdit *editor) {
    const QString filter = tr("Text files (*.txt)");
    const QString chosen = action == FileAction::Open
                               ? QFileDialog::getOpenFileName(this, QString(), path, filter)
                               : QFileDialog::getSaveFileName(this, QString(), path, filter);
    if (chosen.isEmpty())
        return;
    path = chosen;
    QCoreApplication::processEvents();
    if (action == FileAction::Open)
        editor->loadFile(chosen);
    else
        editor->saveFile(chosen);
}

void Brantle::actionOpen_Send_Text_triggered() {
    fileCommand(FileAction::Open, sendTextPath, ui.textEditInput);
}

void Brantle::actionOpen_Result_Text_triggered() {
    fileCommand(FileAction::Open, resultTextPath, ui.textEditResult);
}

void Brantle::actionSave_Send_Text_triggered() {
    fileCommand(FileAction::Save, sendTextPath, ui.textEditInput);
}

void Brantle::closeEvent(QCloseEvent *event) {
    // A script typed since it was last opened or saved exists nowhere else.
    if (!ui.textEditInput->document()->isModified()) {
        event->accept();
        return;
    }
    const QMessageBox::StandardButton answer = QMessageBox::warning(
        this, tr("Close"),
        tr("The script has changed since it was last opened or saved. Save it before closing?"),
        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
    if (answer == QMessageBox::Save)
        actionSave_Send_Text_triggered();
    // Saving that was cancelled or failed keeps the window open.
    if (answer == QMessageBox::Discard ||
        (answer == QMessageBox::Save && !ui.textEditInput->document()->isModified()))
        event->accept();
    else
        event->ignore();
}

void Brantle::actionSave_Result_Text_triggered() {
    fileCommand(FileAction::Save, resultTextPath, ui.textEditResult);
}

void Brantle::actionSave_Log_triggered() {
    const QString chosen =
        QFileDialog::getSaveFileName(this, QString(), logPath, tr("CSV files (*.csv)"));
    if (chosen.isEmpty())
        return;
    logPath = chosen;
    QString error;
    if (!FileSaver::save(chosen, m_logPane->log().csv(), &error))
        QMessageBox::critical(this, tr("Save Log"), tr("Cannot save the log: %1").arg(error),
                              QMessageBox::Ok);
}

void Brantle::actionScan_Bus_triggered() {
    m_scanDialog->show();
    m_scanDialog->raise();
    m_scanDialog->activateWindow();
    m_scanDialog->rescan();
}

void Brantle::reopenDevice(int n) {
    // Closing can fail in the driver (it raises a plain text); the window
    // reports that and goes on rather than letting the text end the program.
    try {
        device().close();
        device().open(uint8_t(n));
    } catch (const char *error) {
        showStatus(QStringLiteral("Error"), Qt::red, QString::fromLatin1(error));
    }
}

void Brantle::refreshDeviceList() {
    const QString saved = comboBoxDevices->currentText();
    comboBoxDevices->clear();
    for (int i = 0; i < device().deviceCount(); ++i) {
        reopenDevice(i);
        comboBoxDevices->addItem(
            AdapterSession::listName(device().friendlyName(), device().address()));
    }
    QPalette palette = comboBoxDevices->palette();
    if (comboBoxDevices->count() == 0) {
        comboBoxDevices->setCurrentIndex(-1);
        // Styles that paint a closed combo box as a button ignore its Base
        // colour; the button face turns red too so the warning is seen.
        paintAllGroups(palette, QPalette::Base, QBrush(Qt::red, Qt::SolidPattern));
        paintAllGroups(palette, QPalette::Button, QBrush(Qt::red, Qt::SolidPattern));
        comboBoxDevices->setPalette(palette);
        // The red list says that nothing was found; hovering it says why
        // that may be and what to do.
        comboBoxDevices->setToolTip(AdapterGuidance::noAdapter());
        comboBoxDevices->setStatusTip(AdapterGuidance::noAdapter());
        // The status bar keeps its specified text.
        showStatus(QStringLiteral("No Device Found"), Qt::red, tr("Error: Device not found."));
    } else {
        comboBoxDevices->setToolTip(QString());
        comboBoxDevices->setStatusTip(QString());
        const QPalette standard = QApplication::palette(comboBoxDevices);
        paintAllGroups(palette, QPalette::Base, QBrush(Qt::white, Qt::SolidPattern));
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            palette.setBrush(group, QPalette::Button, standard.brush(group, QPalette::Button));
        comboBoxDevices->setPalette(palette);
        comboBoxDevices->setToolTip(QString());
        comboBoxDevices->setStatusTip(QString());
        showStatus(QStringLiteral("Ready."), lightGreen, QString());
        const int found =
            saved.isEmpty()
                ? -1
                : comboBoxDevices->findText(saved, Qt::MatchExactly | Qt::MatchCaseSensitive);
        comboBoxDevices->setCurrentIndex(found < 0 ? 0 : found);
    }
    openSelectedDevice();
}

void Brantle::openSelectedDevice() {
    if (comboBoxDevices->count() > 0) {
        reopenDevice(comboBoxDevices->currentIndex());
        // An adapter the user may not open is listed but useless; say why
        // (usually a missing udev rule) rather than fail later at Send.
        const QString problem = m_port.lastOpenError();
        if (!device().hasHandle() && !problem.isEmpty())
            showStatus(QStringLiteral("Error"), Qt::red, problem);
    } else {
        try {
            device().release();
        } catch (const char *error) {
            showStatus(QStringLiteral("Error"), Qt::red, QString::fromLatin1(error));
        }
    }
}

void Brantle::comboBoxDevices_currentIndexChanged(int) {
    openSelectedDevice();
}
