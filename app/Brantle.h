#ifndef BRANTLE_BRANTLE_H
#define BRANTLE_BRANTLE_H

#include "DriverPort.h"
#include "ui_Brantle.h"

#include <QColor>
#include <QLocale>
#include <QMainWindow>

#include <memory>

class AdapterSession;
class BusScanDialog;
class EepromDialog;
class RegisterDialog;
class CCyDriverDevice;
class FormProductInfo;
class TransactionLogPane;
class WatchChannel;
class WatchPane;
class QComboBox;
class QSpinBox;
class QTimer;
class QTranslator;

// The main window: two editors side by side, the Send and Auto buttons, the
// clock and adapter choices, and the status indicator.
class Brantle : public QMainWindow {
    Q_OBJECT
public:
    // `port` reaches the adapters: libusb for real ones, or the simulator.
    explicit Brantle(DriverPort &port, QWidget *parent = nullptr, Qt::WindowFlags flags = {});
    ~Brantle() override;

    static const QColor lightGreen;

    // Loads "brantle_" + the locale's name from ":/Brantle" into
    // `translator` and installs it, together with the toolkit's own catalogue
    // for the locale (owned by `translator`); without a catalogue it
    // translates nothing.
    static void installCatalogue(QTranslator &translator,
                                 const QLocale &locale = QLocale::system());

    // The folder the file commands first propose: the program's own folder,
    // unless the user may not make files there (an installed program lives
    // in /usr/bin or under Program Files); then the user's documents folder, or the home folder
    // when there is none.
    static QString fileFolder(const QString &programFolder);

    void showStatus(QString message, QColor colour, QString statusText);
    void refreshDeviceList();
    void openSelectedDevice();
    CCyDriverDevice &device();
    // Sends use the firmware image in this file instead of the program's own.
    void setFirmwareImage(const QString &path);

    // The pieces that tests look at.
    Ui::BrantleClass ui;
    QComboBox *comboBoxDevices = nullptr;
    FormProductInfo *productInfo() const { return m_productInfo; }
    TransactionLogPane *logPane() const { return m_logPane; }
    WatchPane *watchPane() const { return m_watchPane; }
    // Auto's period in milliseconds, 20 to 60,000.
    QSpinBox *spinBoxAutoPeriod = nullptr;
    BusScanDialog *scanDialog() const { return m_scanDialog; }
    EepromDialog *eepromDialog() const { return m_eepromDialog; }
    RegisterDialog *registerDialog() const { return m_registerDialog; }
    QAction *actionEeprom = nullptr;
    QAction *actionRegisters = nullptr;
    QString sendTextPath;
    QString resultTextPath;
    QString logPath;
    bool sendBlinkState = false;
    bool scrollSyncBusy = false;
    int autoTimerId = 0;

protected:
    bool event(QEvent *event) override;
#ifdef Q_OS_WIN
    // The system's device-change message (0x0219) rebuilds the device list.
    bool nativeEvent(const QByteArray &eventType, void *message, qintptr *result) override;
#endif
    // Asks before a script that was not saved is lost.
    void closeEvent(QCloseEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    // One exchange with the adapter; virtual so that tests can make it fail
    // in every way the send cycle must report.
    virtual bool transact(QByteArray &stream);
    int ensureFirmware();
    // A transaction of the EEPROM and register tools: as transact(), and
    // kept in the transaction log as a send is.
    bool toolTransact(QByteArray &stream);

private slots:
    void actionOpen_Send_Text_triggered();
    void actionOpen_Result_Text_triggered();
    void actionSave_Send_Text_triggered();
    void actionSave_Result_Text_triggered();
    void pushButtonSend_clicked();
    void pushButtonAutoSend_clicked(bool checked);
    void textEditInput_scrolled(int x, int y);
    void textEditResult_scrolled(int x, int y);
    void comboBoxDevices_currentIndexChanged(int val);
    void actionSave_Log_triggered();
    void actionScan_Bus_triggered();
    void spinBoxAutoPeriod_valueChanged(int ms);

private:
    void watchPane_channelsEdited(const QList<WatchChannel> &channels);
    void readWatchLines();
    void setResultText(const QString &text);
    void reportFailure(const QString &error);
    void selectFaultySpan(int index, int length);
    void reopenDevice(int n);
    enum class FileAction { Open, Save };
    void fileCommand(FileAction action, QString &path, MyQTextEdit *editor);

    DriverPort &m_port;
    std::unique_ptr<AdapterSession> m_session;
    FormProductInfo *m_productInfo = nullptr;
    TransactionLogPane *m_logPane = nullptr;
    WatchPane *m_watchPane = nullptr;
    QTimer *m_watchLinesTimer = nullptr; // reads the watch lines once typing pauses
    BusScanDialog *m_scanDialog = nullptr;
    EepromDialog *m_eepromDialog = nullptr;
    RegisterDialog *m_registerDialog = nullptr;
    QByteArray m_lastReply; // what the adapter answered to the last transaction
    DriverPort::Registration m_deviceNotification = 0;
};

#endif
