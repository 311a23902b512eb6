#ifndef BRANTLE_REGISTERDIALOG_H
#define BRANTLE_REGISTERDIALOG_H

#include "BusStream.h"

#include <QDialog>
#include <QVector>

#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;

// Gets, sets and dumps the registers of a part through the main window's
// adapter and clock. A dump fills a grid of 16 registers a row with an ASCII
// column; the registers whose value changed since the previous dump are
// highlighted.
class RegisterDialog : public QDialog {
    Q_OBJECT
public:
    RegisterDialog(BusStream::Transact transact, std::function<int()> clock,
                   QWidget *parent = nullptr);

    static const QColor changedColour;

    bool get();
    bool set();
    bool dump();

    QSpinBox *spinBoxAddress;
    QCheckBox *checkBoxReg16;
    QSpinBox *spinBoxRegister;
    QComboBox *comboBoxWidth;
    QComboBox *comboBoxOrder;
    QLineEdit *lineEditValue;
    QLineEdit *lineEditMask;
    QPushButton *pushButtonGet;
    QPushButton *pushButtonSet;
    QSpinBox *spinBoxFirst;
    QSpinBox *spinBoxLast;
    QPushButton *pushButtonDump;
    QTableWidget *tableWidgetDump;
    QLabel *labelResult;
    QPushButton *pushButtonClose;

    // The maximum of registers one dump takes.
    static constexpr int DumpLimit = 4096;

private:
    void showResult(const QString &text, bool good);
    void reg16Changed(bool reg16);

    BusStream::Transact m_transact;
    std::function<int()> m_clock;
    // The previous dump, to tell what changed: its first register, its
    // values (-1 where the part did not answer) and the register width.
    int m_previousFirst = 0;
    QVector<int> m_previous;
    bool m_previousReg16 = false;
    int m_previousAddress = -1;
};

#endif
