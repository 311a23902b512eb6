#include "WatchPane.h"

#include "Brantle2.h"
#include "ValuePlot.h"

#include <QComboBox>
#include <QEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

enum Column {
    NameColumn,
    LastColumn,
    BytesColumn,
    SignedColumn,
    OrderColumn,
    ShiftColumn,
    ScaleColumn,
    OffsetColumn,
    UnitColumn,
    ColumnCount
};

const qint64 longestWindowMs = 3600 * 1000;
const int refreshMs = 100;

const QColor traceColours[] = {QColor(0x1f, 0x77, 0xb4), QColor(0xd6, 0x27, 0x28),
                               QColor(0x2c, 0xa0, 0x2c), QColor(0xff, 0x7f, 0x0e),
                               QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b),
                               QColor(0xe3, 0x77, 0xc2), QColor(0x17, 0xbe, 0xcf)};

QString cellText(const QTableWidget *table, int row, int column) {
    const QTableWidgetItem *item = table->item(row, column);
    return item ? item->text().trimmed() : QString();
}

} // namespace

WatchPane::WatchPane(QWidget *parent) : QDockWidget(tr("Watch"), parent) {
    setObjectName(QStringLiteral("dockWidgetWatch"));
    auto *content = new QWidget(this);

    tableWidgetChannels = new QTableWidget(0, ColumnCount, content);
    tableWidgetChannels->setObjectName(QStringLiteral("tableWidgetChannels"));
    tableWidgetChannels->setHorizontalHeaderLabels({tr("Name"), tr("Last value"), tr("Bytes"),
                                                    tr("Signed"), tr("Order"), tr("Shift"),
                                                    tr("Scale"), tr("Offset"), tr("Unit")});
    tableWidgetChannels->verticalHeader()->hide();
    tableWidgetChannels->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    tableWidgetChannels->horizontalHeader()->setStretchLastSection(false);
    tableWidgetChannels->setSelectionBehavior(QAbstractItemView::SelectRows);
    connect(tableWidgetChannels, &QTableWidget::itemChanged, this, [this] {
        if (!m_filling)
            tableEdited();
    });

    valuePlot = new ValuePlot(content);
    valuePlot->setObjectName(QStringLiteral("valuePlotWatch"));

    comboBoxWindow = new QComboBox(content);
    comboBoxWindow->setObjectName(QStringLiteral("comboBoxWindow"));
    const struct {
        int seconds;
        QString text;
    } windows[] = {{10, tr("10 s")},    {30, tr("30 s")},     {60, tr("1 min")}, {300, tr("5 min")},
                   {600, tr("10 min")}, {1800, tr("30 min")}, {3600, tr("1 h")}};
    for (const auto &w : windows)
        comboBoxWindow->addItem(w.text, w.seconds);
    comboBoxWindow->setCurrentIndex(2);
    connect(comboBoxWindow, &QComboBox::currentIndexChanged, this,
            [this](int index) { setWindowSeconds(comboBoxWindow->itemData(index).toInt()); });

    pushButtonPause = new QPushButton(tr("Pause"), content);
    pushButtonPause->setObjectName(QStringLiteral("pushButtonPause"));
    pushButtonPause->setCheckable(true);
    connect(pushButtonPause, &QPushButton::toggled, this, [this](bool paused) {
        pushButtonPause->setText(paused ? tr("Resume") : tr("Pause"));
        // A redraw already due would show values taken after the pause.
        if (paused)
            m_refresh.stop();
        else
            refresh();
    });
    pushButtonClear = new QPushButton(tr("Clear"), content);
    pushButtonClear->setObjectName(QStringLiteral("pushButtonClearWatch"));
    connect(pushButtonClear, &QPushButton::clicked, this, &WatchPane::clear);
    pushButtonSavePlot = new QPushButton(tr("Save Plot..."), content);
    pushButtonSavePlot->setObjectName(QStringLiteral("pushButtonSavePlot"));
    connect(pushButtonSavePlot, &QPushButton::clicked, this, &WatchPane::savePlotClicked);
    pushButtonAdd = new QPushButton(tr("Add"), content);
    pushButtonAdd->setObjectName(QStringLiteral("pushButtonAddChannel"));
    connect(pushButtonAdd, &QPushButton::clicked, this, [this] {
        WatchChannel channel;
        int n = int(m_channels.size()) + 1;
        auto taken = [&](const QString &name) {
            return std::any_of(m_channels.begin(), m_channels.end(),
                               [&](const WatchChannel &c) { return c.name == name; });
        };
        while (taken(QStringLiteral("value%1").arg(n)))
            ++n;
        channel.name = QStringLiteral("value%1").arg(n);
        QList<WatchChannel> channels = m_channels;
        channels.append(channel);
        setChannels(channels);
        emit channelsEdited(m_channels);
    });
    pushButtonRemove = new QPushButton(tr("Remove"), content);
    pushButtonRemove->setObjectName(QStringLiteral("pushButtonRemoveChannel"));
    connect(pushButtonRemove, &QPushButton::clicked, this, [this] {
        QList<int> rows;
        for (const QModelIndex &index : tableWidgetChannels->selectionModel()->selectedRows())
            rows.append(index.row());
        if (rows.isEmpty())
            return;
        std::sort(rows.rbegin(), rows.rend());
        QList<WatchChannel> channels = m_channels;
        for (const int row : rows)
            if (row < channels.size())
                channels.removeAt(row);
        setChannels(channels);
        emit channelsEdited(m_channels);
    });
    labelProblem = new QLabel(content);
    labelProblem->setObjectName(QStringLiteral("labelWatchProblem"));
    labelProblem->setStyleSheet(QStringLiteral("color: #c00000"));
    labelProblem->setWordWrap(true);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(pushButtonAdd);
    buttons->addWidget(pushButtonRemove);
    buttons->addSpacing(12);
    buttons->addWidget(new QLabel(tr("Window"), content));
    buttons->addWidget(comboBoxWindow);
    buttons->addWidget(pushButtonPause);
    buttons->addWidget(pushButtonClear);
    buttons->addWidget(pushButtonSavePlot);
    buttons->addStretch();

    auto *splitter = new QSplitter(Qt::Horizontal, content);
    splitter->addWidget(tableWidgetChannels);
    splitter->addWidget(valuePlot);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({360, 640});
    auto *layout = new QVBoxLayout(content);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    layout->addWidget(splitter, 1);
    layout->addWidget(labelProblem);
    layout->addLayout(buttons);
    setWidget(content);
    labelProblem->hide();

    m_refresh.setSingleShot(true);
    m_refresh.setInterval(refreshMs);
    connect(&m_refresh, &QTimer::timeout, this, &WatchPane::refresh);
    valuePlot->installEventFilter(this);
}

bool WatchPane::eventFilter(QObject *watched, QEvent *event) {
    // The values are thinned to the plot's width: a plot that grew (the pane
    // shown, the splitter dragged) needs them thinned again.
    if (watched == valuePlot && event->type() == QEvent::Resize)
        scheduleRefresh();
    return QDockWidget::eventFilter(watched, event);
}

void WatchPane::setChannels(const QList<WatchChannel> &channels, const QString &problem) {
    labelProblem->setText(problem);
    labelProblem->setVisible(!problem.isEmpty());
    if (!problem.isEmpty() || channels == m_channels)
        return;
    m_channels = channels;
    fillTable();
}

void WatchPane::fillTable() {
    m_filling = true;
    tableWidgetChannels->setRowCount(int(m_channels.size()));
    for (int row = 0; row < m_channels.size(); ++row)
        setRow(row, m_channels.at(row));
    m_filling = false;
}

void WatchPane::setRow(int row, const WatchChannel &c) {
    auto set = [&](int column, const QString &text) {
        auto *item = new QTableWidgetItem(text);
        if (column == ShiftColumn || column == ScaleColumn || column == OffsetColumn ||
            column == LastColumn)
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        tableWidgetChannels->setItem(row, column, item);
        return item;
    };
    set(NameColumn, c.name);
    set(BytesColumn, c.firstByte == c.lastByte
                         ? QString::number(c.firstByte)
                         : QStringLiteral("%1-%2").arg(c.firstByte).arg(c.lastByte));
    QTableWidgetItem *sign = set(SignedColumn, QString());
    sign->setFlags((sign->flags() | Qt::ItemIsUserCheckable) & ~Qt::ItemIsEditable);
    sign->setCheckState(c.isSigned ? Qt::Checked : Qt::Unchecked);
    set(OrderColumn,
        c.order == WatchChannel::LittleEndian ? QStringLiteral("le") : QStringLiteral("be"));
    set(ShiftColumn, QString::number(c.shift));
    set(ScaleColumn, WatchLines::formatNumber(c.scale));
    set(OffsetColumn, WatchLines::formatNumber(c.offset));
    set(UnitColumn, c.unit);
    QTableWidgetItem *last = set(LastColumn, lastText(c.title()));
    last->setFlags(last->flags() & ~Qt::ItemIsEditable);
}

void WatchPane::tableEdited() {
    // The table's rows as watch lines, read back by the script's own parser:
    // the same checks and messages as for lines typed into the script.
    QString lines;
    for (int row = 0; row < tableWidgetChannels->rowCount(); ++row) {
        const QTableWidgetItem *sign = tableWidgetChannels->item(row, SignedColumn);
        QString line = QStringLiteral("// watch: name=%1 bytes=%2 order=%3 shift=%4 scale=%5 "
                                      "offset=%6")
                           .arg(cellText(tableWidgetChannels, row, NameColumn),
                                cellText(tableWidgetChannels, row, BytesColumn),
                                cellText(tableWidgetChannels, row, OrderColumn),
                                cellText(tableWidgetChannels, row, ShiftColumn),
                                cellText(tableWidgetChannels, row, ScaleColumn),
                                cellText(tableWidgetChannels, row, OffsetColumn));
        if (sign && sign->checkState() == Qt::Checked)
            line += QLatin1String(" signed");
        const QString unit = cellText(tableWidgetChannels, row, UnitColumn);
        if (!unit.isEmpty())
            line += QLatin1String(" unit=") + unit;
        lines += line + u'\n';
    }
    try {
        const QList<WatchChannel> channels = WatchLines::parse(lines);
        labelProblem->hide();
        if (channels == m_channels)
            return;
        m_channels = channels;
        emit channelsEdited(m_channels);
    } catch (const ScriptParseError &e) {
        const int row = int(lines.left(e.index).count(u'\n'));
        labelProblem->setText(tr("Row %1: %2").arg(row + 1).arg(e.message));
        labelProblem->show();
    }
}

WatchPane::Trace &WatchPane::trace(const QString &title) {
    for (Trace &t : m_traces)
        if (t.title == title)
            return t;
    m_traces.push_back(Trace());
    Trace &t = m_traces.back();
    t.title = title;
    for (const WatchChannel &c : std::as_const(m_channels))
        if (c.title() == title)
            t.unit = c.unit;
    return t;
}

QString WatchPane::lastText(const QString &title) const {
    for (const Trace &t : m_traces)
        if (t.title == title && !t.points.empty())
            return std::isnan(t.points.back().y()) ? tr("(none)")
                                                   : WatchLines::formatNumber(t.points.back().y());
    return QString();
}

void WatchPane::addSample(const QDateTime &time, const QStringList &titles,
                          const QList<double> &values) {
    const qint64 ms = time.toMSecsSinceEpoch();
    m_newestMs = qMax(m_newestMs, ms);
    for (int i = 0; i < titles.size() && i < values.size(); ++i) {
        Trace &t = trace(titles.at(i));
        t.points.emplace_back(double(ms), values.at(i));
        while (!t.points.empty() && t.points.front().x() < double(m_newestMs - longestWindowMs))
            t.points.pop_front();
    }
    m_filling = true;
    for (int row = 0; row < m_channels.size(); ++row)
        if (QTableWidgetItem *item = tableWidgetChannels->item(row, LastColumn))
            item->setText(lastText(m_channels.at(row).title()));
    m_filling = false;
    scheduleRefresh();
}

void WatchPane::scheduleRefresh() {
    // A pixel column of a long window spans seconds: redrawing it ten times
    // a second would show nothing new. A window of N seconds across about a
    // thousand pixels moves by a pixel every N milliseconds.
    // (Setting the interval restarts a running timer: samples coming faster
    // than it would then hold the redraw off for ever.)
    if (!isPaused() && !m_refresh.isActive())
        m_refresh.start(qMax(refreshMs, m_windowSeconds));
}

void WatchPane::clear() {
    for (Trace &t : m_traces)
        t.points.clear();
    m_filling = true;
    for (int row = 0; row < tableWidgetChannels->rowCount(); ++row)
        if (QTableWidgetItem *item = tableWidgetChannels->item(row, LastColumn))
            item->setText(QString());
    m_filling = false;
    refresh();
}

void WatchPane::setWindowSeconds(int seconds) {
    m_windowSeconds = qBound(10, seconds, 3600);
    const int index = comboBoxWindow->findData(m_windowSeconds);
    if (index >= 0 && index != comboBoxWindow->currentIndex())
        comboBoxWindow->setCurrentIndex(index);
    refresh();
}

bool WatchPane::isPaused() const {
    return pushButtonPause->isChecked();
}

void WatchPane::refresh() {
    const qint64 endMs = m_newestMs > 0 ? m_newestMs : QDateTime::currentMSecsSinceEpoch();
    const qint64 startMs = endMs - qint64(m_windowSeconds) * 1000;
    const double columns = qMax(100, valuePlot->plotRect().width());
    const double bucketMs = double(endMs - startMs) / columns;
    std::vector<ValuePlot::Series> drawn;
    drawn.reserve(m_traces.size());

    for (size_t n = 0; n < m_traces.size(); ++n) {
        Trace &t = m_traces[n];
        // The visible points, split at the gaps, thinned to the lowest and
        // highest of each pixel column: the line looks the same, and drawing
        // costs the same whether the window holds 500 points or 180,000.
        std::vector<QList<QPointF>> pieces(1);
        auto from = std::lower_bound(t.points.begin(), t.points.end(), double(startMs),
                                     [](const QPointF &p, double x) { return p.x() < x; });
        qint64 bucket = -1;
        QPointF low, high;
        auto flush = [&] {
            if (bucket < 0)
                return;
            QList<QPointF> &piece = pieces.back();
            if (low.x() <= high.x()) {
                piece.append(low);
                if (high != low)
                    piece.append(high);
            } else {
                piece.append(high);
                piece.append(low);
            }
            bucket = -1;
        };
        for (auto it = from; it != t.points.end(); ++it) {
            if (std::isnan(it->y())) {
                flush();
                if (!pieces.back().isEmpty())
                    pieces.emplace_back();
                continue;
            }
            const qint64 b = qint64((it->x() - double(startMs)) / bucketMs);
            if (b != bucket) {
                flush();
                bucket = b;
                low = high = *it;
            } else {
                if (it->y() < low.y())
                    low = *it;
                if (it->y() > high.y())
                    high = *it;
            }
        }
        flush();
        if (pieces.back().isEmpty())
            pieces.pop_back();

        ValuePlot::Series series;
        series.name = t.title;
        series.unit = t.unit;
        series.colour = traceColours[n % std::size(traceColours)];
        series.segments = std::move(pieces);
        drawn.push_back(std::move(series));
    }
    valuePlot->setData(std::move(drawn), startMs, endMs);
}

int WatchPane::drawnPoints(const QString &title) const {
    int count = 0;
    for (const ValuePlot::Series &s : valuePlot->series())
        if (s.name == title)
            for (const QList<QPointF> &piece : s.segments)
                count += int(piece.size());
    return count;
}

int WatchPane::drawnPieces(const QString &title) const {
    int count = 0;
    for (const ValuePlot::Series &s : valuePlot->series())
        if (s.name == title)
            for (const QList<QPointF> &piece : s.segments)
                count += !piece.isEmpty();
    return count;
}

bool WatchPane::savePlot(const QString &path) const {
    return valuePlot->grab().save(path, "PNG");
}

void WatchPane::savePlotClicked() {
    const QString path =
        QFileDialog::getSaveFileName(this, tr("Save Plot"), QString(), tr("PNG images (*.png)"));
    if (path.isEmpty())
        return;
    if (!savePlot(path))
        QMessageBox::critical(this, tr("Save Plot"), tr("Cannot save the plot to %1.").arg(path),
                              QMessageBox::Ok);
}
