#ifndef BRANTLE_TRANSACTIONLOGPANE_H
#define BRANTLE_TRANSACTIONLOGPANE_H

#include "TransactionLog.h"

#include <QDockWidget>

class QAction;
class QPushButton;
class QTableView;
class QToolButton;

// The dock that lists every send of the session: time, outcome and bytes
// received, newest last. It follows the newest send while the user has not
// scrolled away from the end.
class TransactionLogPane : public QDockWidget {
    Q_OBJECT
public:
    // `saveAction` is the window's "Save Log..." command, offered here too.
    TransactionLogPane(QAction *saveAction, QWidget *parent = nullptr);

    TransactionLog &log() { return m_log; }
    void append(TransactionRecord record);

    QTableView *tableViewLog;
    QToolButton *toolButtonSaveLog;
    QPushButton *pushButtonClearLog;

private:
    // The outcome column's width for `outcome`, within a limit.
    int outcomeWidth(const QString &outcome) const;

    TransactionLog m_log;
};

#endif
