#include "TransactionLogPane.h"

#include <QCoreApplication>
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
    // Wide enough for the usual outcomes in the language shown (a
    // translated error is twice as wide as the English one); a wider
    // outcome widens the column when it comes.
    tableViewLog->setColumnWidth(
        TransactionLog::OutcomeColumn,
        qMax(tableViewLog->fontMetrics().horizontalAdvance(QLatin1Char('M')) * 14,
             outcomeWidth(QCoreApplication::translate("Brantle", "Error: Device not found."))));

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

int TransactionLogPane::outcomeWidth(const QString &outcome) const {
    const int most = tableViewLog->fontMetrics().horizontalAdvance(QLatin1Char('M')) * 48;
    return qMin(tableViewLog->fontMetrics().horizontalAdvance(outcome) + 16, most);
}

void TransactionLogPane::append(TransactionRecord record) {
    const QScrollBar *bar = tableViewLog->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    const int width = outcomeWidth(record.outcome);
    if (width > tableViewLog->columnWidth(TransactionLog::OutcomeColumn))
        tableViewLog->setColumnWidth(TransactionLog::OutcomeColumn, width);
    m_log.append(std::move(record));
    if (atEnd)
        tableViewLog->scrollToBottom();
}
