#include "TransactionLog.h"

#include "TransactionCsv.h"

TransactionLog::TransactionLog(int capacity, QObject *parent)
    : QAbstractTableModel(parent), m_capacity(qMax(1, capacity)) {}

void TransactionLog::append(TransactionRecord record) {
    // Auto send repeats one script: share the repeated texts rather than
    // keeping thousands of equal copies.
    if (!m_records.empty()) {
        const TransactionRecord &last = m_records.back();
        if (record.stream == last.stream)
            record.stream = last.stream;
        if (record.adapter == last.adapter)
            record.adapter = last.adapter;
        if (record.outcome == last.outcome)
            record.outcome = last.outcome;
        if (record.channels == last.channels)
            record.channels = last.channels;
    }
    for (const QString &channel : std::as_const(record.channels)) {
        if (m_channels.contains(channel))
            continue;
        const int column = ColumnCount + int(m_channels.size());
        beginInsertColumns(QModelIndex(), column, column);
        m_channels.append(channel);
        endInsertColumns();
    }
    if (int(m_records.size()) >= m_capacity) {
        beginRemoveRows(QModelIndex(), 0, 0);
        m_records.pop_front();
        endRemoveRows();
    }
    const int row = int(m_records.size());
    beginInsertRows(QModelIndex(), row, row);
    m_records.push_back(std::move(record));
    endInsertRows();
}

void TransactionLog::clear() {
    beginResetModel();
    m_records.clear();
    m_channels.clear();
    endResetModel();
}

QByteArray TransactionLog::csv() const {
    QByteArray text = TransactionCsv::header(m_channels);
    for (const TransactionRecord &record : m_records)
        text += TransactionCsv::row(record, m_channels);
    return text;
}

int TransactionLog::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_records.size());
}

int TransactionLog::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : ColumnCount + int(m_channels.size());
}

QVariant TransactionLog::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return QVariant();
    const TransactionRecord &r = record(index.row());
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case TimeColumn:
            return r.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
        case OutcomeColumn:
            return r.outcome;
        case ReplyColumn:
            return TransactionCsv::hex(r.reply);
        }
        if (index.column() >= ColumnCount) {
            const qsizetype i = r.channels.indexOf(m_channels.value(index.column() - ColumnCount));
            return i >= 0 && i < r.values.size() ? TransactionCsv::value(r.values.at(i))
                                                 : QString();
        }
        break;
    case Qt::TextAlignmentRole:
        if (index.column() >= ColumnCount)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        break;
    case Qt::ToolTipRole:
        return tr("%1, %2 kHz\nSent: %3")
            .arg(r.adapter.isEmpty() ? tr("no adapter") : r.adapter)
            .arg(r.clockKhz)
            .arg(TransactionCsv::hex(r.stream));
    }
    return QVariant();
}

QVariant TransactionLog::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
        return QVariant();
    switch (section) {
    case TimeColumn:
        return tr("Time");
    case OutcomeColumn:
        return tr("Outcome");
    case ReplyColumn:
        return tr("Bytes received");
    }
    return m_channels.value(section - ColumnCount);
}
