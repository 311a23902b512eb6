#include "TransactionLogPane.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// A table that asks for a few rows only, so that the dock, when shown, takes
// little from the editors; the user can drag it taller.
class CompactTable : public QTableView {
public:
    using QTableView::QTableView;
    QSize sizeHint() const override {
        const int rows = 5;
        return QSize(QTableView::sizeHint().width(),
                     horizontalHeader()->sizeHint().height() +
                         rows * verticalHeader()->defaultSectionSize() + 2 * frameWidth());
    }
};

} // namespace

TransactionLogPane::TransactionLogPane(QAction *saveAction, QWidget *parent)
    : QDockWidget(tr("Transaction Log"), parent) {
    setObjectName(QStringLiteral("dockWidgetLog"));
    auto *content = new QWidget(this);

    tableViewLog = new CompactTable(content);
    tableViewLog->setObjectName(QStringLiteral("tableViewLog"));
    tableViewLog->setModel(&m_log);
    tableViewLog->setSelectionBehavior(QAbstractItemView::SelectRows);
    tableViewLog->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tableViewLog->setWordWrap(false);
    tableViewLog->verticalHeader()->hide();
    // A fixed row height keeps appending cheap with thousands of rows.
    tableViewLog->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    tableViewLog->verticalHeader()->setDefaultSectionSize(tableViewLog->fontMetrics().height() + 4);
    tableViewLog->horizontalHeader()->setStretchLastSection(true);
    tableViewLog->setColumnWidth(
        TransactionLog::TimeColumn,
        tableViewLog->fontMetrics().horizontalAdvance(QStringLiteral("0000-00-00 00:00:00.000")) +
            16);
    tableViewLog->setColumnWidth(TransactionLog::OutcomeColumn,
                                 tableViewLog->fontMetrics().horizontalAdvance(QLatin1Char('M')) *
                                     14);

    toolButtonSaveLog = new QToolButton(content);
    toolButtonSaveLog->setObjectName(QStringLiteral("toolButtonSaveLog"));
    toolButtonSaveLog->setDefaultAction(saveAction);
    pushButtonClearLog = new QPushButton(tr("Clear"), content);
    pushButtonClearLog->setObjectName(QStringLiteral("pushButtonClearLog"));
    connect(pushButtonClearLog, &QPushButton::clicked, &m_log, &TransactionLog::clear);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(toolButtonSaveLog);
    buttons->addWidget(pushButtonClearLog);
    buttons->addStretch();
    auto *layout = new QVBoxLayout(content);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    layout->addWidget(tableViewLog);
    layout->addLayout(buttons);
    setWidget(content);
}

void TransactionLogPane::append(TransactionRecord record) {
    const QScrollBar *bar = tableViewLog->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    m_log.append(std::move(record));
    if (atEnd)
        tableViewLog->scrollToBottom();
}
