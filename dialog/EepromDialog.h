#ifndef BRANTLE_EEPROMDIALOG_H
#define BRANTLE_EEPROMDIALOG_H

#include "BusStream.h"
#include "EepromPart.h"

#include <QDialog>

#include <functional>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;

// Reads, writes and verifies a 24-series EEPROM through the main window's
// adapter and clock. An operation runs on the GUI thread; between pages it
// lets events through so that Cancel can be pressed, and the dialog is modal
// so that nothing else reaches the adapter meanwhile.
class EepromDialog : public QDialog {
    Q_OBJECT
public:
    // `clock`: the clock choice when the operation starts (0 for 100 kHz, 1
    // for 400 kHz).
    EepromDialog(BusStream::Transact transact, std::function<int()> clock,
                 QWidget *parent = nullptr);

    // What the buttons do once a file is chosen; false when refused or failed.
    bool readTo(const QString &fileName);
    bool writeFrom(const QString &fileName);
    bool verifyAgainst(const QString &fileName);
    bool running() const { return m_running; }

    QComboBox *comboBoxPart;
    QSpinBox *spinBoxCustomSize;
    QComboBox *comboBoxCustomAddressBytes;
    QSpinBox *spinBoxCustomPage;
    QSpinBox *spinBoxAddress;
    QLineEdit *lineEditOffset;
    QLineEdit *lineEditLength;
    QCheckBox *checkBoxVerify;
    QPushButton *pushButtonRead;
    QPushButton *pushButtonWrite;
    QPushButton *pushButtonVerify;
    QProgressBar *progressBar;
    QPushButton *pushButtonCancel;
    QPushButton *pushButtonClose;
    QPlainTextEdit *textResult;

public slots:
    void reject() override;

private:
    bool part(EepromPart *part, QString *error) const;
    bool offset(const EepromPart &part, qint64 *value, QString *error) const;
    void begin(const QString &what);
    void end();
    // The buttons for a job under way, or for none.
    void setRunning(bool running);
    void showResult(const QString &text, bool good);
    bool progress(qint64 done, qint64 total);
    bool runFile(const QString &fileName, bool writing);
    void chooseAndRun(bool save, const std::function<bool(const QString &)> &run);

    BusStream::Transact m_transact;
    std::function<int()> m_clock;
    bool m_running = false;
    bool m_cancel = false;
};

#endif
