#ifndef BRANTLE_TRANSACTIONLOG_H
#define BRANTLE_TRANSACTIONLOG_H

#include "TransactionRecord.h"

#include <QAbstractTableModel>

#include <deque>

// The sends of this session, newest last, as a table of time, outcome and
// bytes received, then a column for each channel watched in any of them. Only the last `capacity`
// are kept: with Auto on, a send every 500 ms would otherwise grow without end. The texts are
// translated in the context "TransactionLog".
class TransactionLog : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { TimeColumn, OutcomeColumn, ReplyColumn, ColumnCount };
    static constexpr int defaultCapacity = 10000;

    explicit TransactionLog(int capacity = defaultCapacity, QObject *parent = nullptr);

    void append(TransactionRecord record);
    void clear();
    int capacity() const { return m_capacity; }
    const TransactionRecord &record(int row) const { return m_records[size_t(row)]; }
    // The titles of the channel columns, in the order they first appeared.
    const QStringList &channels() const { return m_channels; }

    // The whole log as CSV, header first.
    QByteArray csv() const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    int m_capacity;
    std::deque<TransactionRecord> m_records;
    QStringList m_channels;
};

#endif
