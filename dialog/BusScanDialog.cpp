#include "BusScanDialog.h"

#include "AdapterGuidance.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

const int rows = 8;
const int columns = 16;
const QColor answeredColour(144, 238, 144);

} // namespace

BusScanDialog::BusScanDialog(BusScan::Transact transact, std::function<Target()> target,
                             QWidget *parent)
    : QDialog(parent), m_transact(std::move(transact)), m_target(std::move(target)) {
    setObjectName(QStringLiteral("BusScanDialog"));
    setWindowTitle(tr("Bus Scan"));

    labelAdapter = new QLabel(this);
    labelAdapter->setObjectName(QStringLiteral("labelAdapter"));
    labelClock = new QLabel(this);
    labelClock->setObjectName(QStringLiteral("labelClock"));
    comboBoxProbe = new QComboBox(this);
    comboBoxProbe->setObjectName(QStringLiteral("comboBoxProbe"));
    comboBoxProbe->addItem(tr("Quick write"), BusScan::QuickWrite);
    comboBoxProbe->addItem(tr("Read one byte"), BusScan::ReadByte);
    auto *form = new QFormLayout;
    form->addRow(tr("Adapter:"), labelAdapter);
    form->addRow(tr("Clock:"), labelClock);
    form->addRow(tr("Probe:"), comboBoxProbe);

    tableWidgetGrid = new QTableWidget(rows, columns, this);
    tableWidgetGrid->setObjectName(QStringLiteral("tableWidgetGrid"));
    QStringList columnLabels;
    for (int column = 0; column < columns; ++column)
        columnLabels << QString::number(column, 16);
    QStringList rowLabels;
    for (int row = 0; row < rows; ++row)
        rowLabels << QStringLiteral("%1:").arg(row * columns, 2, 16, QLatin1Char('0'));
    tableWidgetGrid->setHorizontalHeaderLabels(columnLabels);
    tableWidgetGrid->setVerticalHeaderLabels(rowLabels);
    tableWidgetGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tableWidgetGrid->setSelectionMode(QAbstractItemView::NoSelection);
    tableWidgetGrid->setFocusPolicy(Qt::NoFocus);
    tableWidgetGrid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    tableWidgetGrid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    tableWidgetGrid->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
    QFont mono(QStringLiteral("monospace"));
    mono.setStyleHint(QFont::TypeWriter);
    tableWidgetGrid->setFont(mono);
    // Cells sized from the font with room around the two digits: fitted to
    // their contents alone, the cells of a wide face (the Japanese one) touch.
    const QFontMetrics digits(mono);
    tableWidgetGrid->horizontalHeader()->setMinimumSectionSize(1);
    tableWidgetGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    tableWidgetGrid->horizontalHeader()->setDefaultSectionSize(
        digits.horizontalAdvance(QStringLiteral("000")) + 4);
    tableWidgetGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    tableWidgetGrid->verticalHeader()->setDefaultSectionSize(digits.height() + 6);
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            auto *cell = new QTableWidgetItem;
            cell->setTextAlignment(Qt::AlignCenter);
            cell->setFlags(Qt::ItemIsEnabled);
            tableWidgetGrid->setItem(row, column, cell);
        }
    }

    labelResult = new QLabel(this);
    labelResult->setObjectName(QStringLiteral("labelResult"));
    labelResult->setWordWrap(true);
    labelResult->setTextInteractionFlags(Qt::TextSelectableByMouse);

    pushButtonRescan = new QPushButton(tr("Rescan"), this);
    pushButtonRescan->setObjectName(QStringLiteral("pushButtonRescan"));
    pushButtonClose = new QPushButton(tr("Close"), this);
    pushButtonClose->setObjectName(QStringLiteral("pushButtonClose"));
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(pushButtonRescan);
    buttons->addWidget(pushButtonClose);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(tableWidgetGrid);
    layout->addWidget(labelResult);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(pushButtonRescan, &QPushButton::clicked, this, &BusScanDialog::rescan);
    connect(pushButtonClose, &QPushButton::clicked, this, &QDialog::reject);
    showGrid(BusScan::firstAddress);
}

void BusScanDialog::rescan() {
    const Target target = m_target();
    labelAdapter->setText(target.adapter.isEmpty() ? tr("none") : target.adapter);
    labelClock->setText(target.clockText);
    labelResult->setStyleSheet(QString());
    labelResult->setText(tr("Scanning..."));
    // The scan blocks the GUI thread; show that it runs before it starts.
    labelResult->repaint();

    m_answered.clear();
    int probed = 0;
    const auto counting = [&](QByteArray &stream) {
        const bool acknowledged = m_transact(stream);
        ++probed;
        return acknowledged;
    };
    const auto probe = BusScan::Probe(comboBoxProbe->currentData().toInt());
    try {
        BusScan::run(counting, probe, target.clock, &m_answered);
    } catch (const QString &error) {
        showGrid(BusScan::firstAddress + probed);
        labelResult->setStyleSheet(QStringLiteral("color: red"));
        // With no adapter listed, say what to check as well.
        labelResult->setText(target.adapter.isEmpty()
                                 ? error + QStringLiteral("\n\n") + AdapterGuidance::noAdapter()
                                 : error);
        return;
    }
    showGrid(BusScan::lastAddress + 1);
    QStringList found;
    for (int address : qAsConst(m_answered))
        found << QStringLiteral("0x%1").arg(address, 2, 16, QLatin1Char('0'));
    labelResult->setText(found.isEmpty() ? tr("No address answered.")
                                         : tr("Answered: %1").arg(found.join(QLatin1String(", "))));
}

// Addresses below `probedUpTo` were probed; the others stay blank.
void BusScanDialog::showGrid(int probedUpTo) {
    for (int address = 0; address < rows * columns; ++address) {
        QTableWidgetItem *cell = tableWidgetGrid->item(address / columns, address % columns);
        const bool answered = m_answered.contains(address);
        QString text;
        if (address >= BusScan::firstAddress && address < probedUpTo &&
            address <= BusScan::lastAddress)
            text = answered ? QStringLiteral("%1").arg(address, 2, 16, QLatin1Char('0'))
                            : QStringLiteral("--");
        cell->setText(text);
        cell->setBackground(answered ? QBrush(answeredColour) : QBrush());
        QFont font = cell->font();
        font.setBold(answered);
        cell->setFont(font);
    }
}
