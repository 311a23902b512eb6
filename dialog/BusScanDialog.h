#ifndef BRANTLE_BUSSCANDIALOG_H
#define BRANTLE_BUSSCANDIALOG_H

#include "BusScan.h"

#include <QDialog>

#include <functional>

class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;

// Shows which addresses answer on the bus, as a grid of 8 rows of 16
// addresses with the answering ones highlighted. It scans through the main
// window's adapter and clock, read afresh for every scan, and touches
// nothing else of the window.
class BusScanDialog : public QDialog {
    Q_OBJECT
public:
    // Where a scan goes: the adapter's name as listed, and the clock choice
    // (its text, and its index: 0 for 100 kHz, 1 for 400 kHz).
    struct Target {
        QString adapter;
        QString clockText;
        int clock = 1;
    };

    BusScanDialog(BusScan::Transact transact, std::function<Target()> target,
                  QWidget *parent = nullptr);

    // Probes every address with the chosen probe and shows the outcome.
    void rescan();
    const QVector<int> &answered() const { return m_answered; }

    QComboBox *comboBoxProbe;
    QTableWidget *tableWidgetGrid;
    QPushButton *pushButtonRescan;
    QPushButton *pushButtonClose;
    QLabel *labelAdapter;
    QLabel *labelClock;
    QLabel *labelResult;

private:
    void showGrid(int probedUpTo);

    BusScan::Transact m_transact;
    std::function<Target()> m_target;
    QVector<int> m_answered;
};

#endif
