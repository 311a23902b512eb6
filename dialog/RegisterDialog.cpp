#include "RegisterDialog.h"

#include "EepromPart.h"
#include "HexSpinBox.h"
#include "RegisterAccess.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

const QColor RegisterDialog::changedColour(255, 200, 120);

namespace {

const int columns = 16;

} // namespace

RegisterDialog::RegisterDialog(BusStream::Transact transact, std::function<int()> clock,
                               QWidget *parent)
    : QDialog(parent), m_transact(std::move(transact)), m_clock(std::move(clock)) {
    setObjectName(QStringLiteral("RegisterDialog"));
    setWindowTitle(tr("Registers"));

    spinBoxAddress = hexSpinBox(0x08, 0x77, 0x48, this);
    spinBoxAddress->setObjectName(QStringLiteral("spinBoxAddress"));
    checkBoxReg16 = new QCheckBox(tr("16-bit register &addresses"), this);
    checkBoxReg16->setObjectName(QStringLiteral("checkBoxReg16"));
    spinBoxRegister = hexSpinBox(0, 0xff, 0, this);
    spinBoxRegister->setObjectName(QStringLiteral("spinBoxRegister"));
    comboBoxWidth = new QComboBox(this);
    comboBoxWidth->setObjectName(QStringLiteral("comboBoxWidth"));
    comboBoxWidth->addItem(tr("8-bit value"));
    comboBoxWidth->addItem(tr("16-bit value"));
    comboBoxOrder = new QComboBox(this);
    comboBoxOrder->setObjectName(QStringLiteral("comboBoxOrder"));
    comboBoxOrder->addItem(tr("High byte first"));
    comboBoxOrder->addItem(tr("Low byte first"));
    lineEditValue = new QLineEdit(this);
    lineEditValue->setObjectName(QStringLiteral("lineEditValue"));
    lineEditMask = new QLineEdit(this);
    lineEditMask->setObjectName(QStringLiteral("lineEditMask"));
    lineEditMask->setPlaceholderText(tr("all bits"));
    pushButtonGet = new QPushButton(tr("&Get"), this);
    pushButtonGet->setObjectName(QStringLiteral("pushButtonGet"));
    pushButtonSet = new QPushButton(tr("&Set"), this);
    pushButtonSet->setObjectName(QStringLiteral("pushButtonSet"));

    auto *addressRow = new QHBoxLayout;
    addressRow->addWidget(spinBoxAddress);
    addressRow->addWidget(checkBoxReg16);
    auto *widthRow = new QHBoxLayout;
    widthRow->addWidget(comboBoxWidth);
    widthRow->addWidget(comboBoxOrder);
    auto *valueRow = new QHBoxLayout;
    valueRow->addWidget(lineEditValue);
    valueRow->addWidget(pushButtonGet);
    valueRow->addWidget(pushButtonSet);

    spinBoxFirst = hexSpinBox(0, 0xff, 0, this);
    spinBoxFirst->setObjectName(QStringLiteral("spinBoxFirst"));
    spinBoxLast = hexSpinBox(0, 0xff, 0xff, this);
    spinBoxLast->setObjectName(QStringLiteral("spinBoxLast"));
    pushButtonDump = new QPushButton(tr("D&ump"), this);
    pushButtonDump->setObjectName(QStringLiteral("pushButtonDump"));
    auto *dumpRow = new QHBoxLayout;
    dumpRow->addWidget(spinBoxFirst);
    dumpRow->addWidget(new QLabel(tr("to"), this));
    dumpRow->addWidget(spinBoxLast);
    dumpRow->addWidget(pushButtonDump);
    dumpRow->addStretch();

    // Rows of several fields: the label's key goes to the first of them.
    auto *form = new QFormLayout;
    const auto row = [this, form](const QString &text, QWidget *buddy, QLayout *fields) {
        auto *label = new QLabel(text, this);
        label->setBuddy(buddy);
        form->addRow(label, fields);
    };
    row(tr("&Device address:"), spinBoxAddress, addressRow);
    form->addRow(tr("&Register:"), spinBoxRegister);
    row(tr("&Width:"), comboBoxWidth, widthRow);
    row(tr("&Value:"), lineEditValue, valueRow);
    form->addRow(tr("&Mask (Set):"), lineEditMask);
    row(tr("Dump &from:"), spinBoxFirst, dumpRow);

    tableWidgetDump = new QTableWidget(0, columns + 1, this);
    tableWidgetDump->setObjectName(QStringLiteral("tableWidgetDump"));
    QStringList columnLabels;
    for (int column = 0; column < columns; ++column)
        columnLabels << QString::number(column, 16);
    columnLabels << QStringLiteral("0123456789abcdef");
    tableWidgetDump->setHorizontalHeaderLabels(columnLabels);
    tableWidgetDump->setEditTriggers(QAbstractItemView::NoEditTriggers);
    QFont mono(QStringLiteral("monospace"));
    mono.setStyleHint(QFont::TypeWriter);
    tableWidgetDump->setFont(mono);
    tableWidgetDump->horizontalHeader()->setFont(mono);
    const QFontMetrics digits(mono);
    tableWidgetDump->horizontalHeader()->setMinimumSectionSize(1);
    tableWidgetDump->horizontalHeader()->setDefaultSectionSize(
        digits.horizontalAdvance(QStringLiteral("000")) + 4);
    tableWidgetDump->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    tableWidgetDump->horizontalHeader()->setSectionResizeMode(columns,
                                                              QHeaderView::ResizeToContents);
    tableWidgetDump->verticalHeader()->setDefaultSectionSize(digits.height() + 6);
    tableWidgetDump->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);

    labelResult = new QLabel(this);
    labelResult->setObjectName(QStringLiteral("labelResult"));
    labelResult->setWordWrap(true);
    labelResult->setTextInteractionFlags(Qt::TextSelectableByMouse);

    pushButtonClose = new QPushButton(tr("Close"), this);
    pushButtonClose->setObjectName(QStringLiteral("pushButtonClose"));
    auto *closing = new QHBoxLayout;
    closing->addStretch();
    closing->addWidget(pushButtonClose);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(tableWidgetDump, 1);
    layout->addWidget(labelResult);
    layout->addLayout(closing);
    resize(760, 500);

    connect(checkBoxReg16, &QCheckBox::toggled, this, &RegisterDialog::reg16Changed);
    connect(comboBoxWidth, &QComboBox::currentIndexChanged, this,
            [this](int index) { comboBoxOrder->setEnabled(index == 1); });
    comboBoxOrder->setEnabled(false);
    connect(pushButtonGet, &QPushButton::clicked, this, &RegisterDialog::get);
    connect(pushButtonSet, &QPushButton::clicked, this, &RegisterDialog::set);
    connect(pushButtonDump, &QPushButton::clicked, this, &RegisterDialog::dump);
    connect(pushButtonClose, &QPushButton::clicked, this, &QDialog::reject);
}

void RegisterDialog::reg16Changed(bool reg16) {
    const int top = reg16 ? 0xffff : 0xff;
    for (QSpinBox *box : {spinBoxRegister, spinBoxFirst, spinBoxLast})
        box->setMaximum(top);
}

void RegisterDialog::showResult(const QString &text, bool good) {
    labelResult->setStyleSheet(good ? QString() : QStringLiteral("color: red"));
    labelResult->setText(text);
}

namespace {

RegisterAccess::Options options(const RegisterDialog &dialog, bool word) {
    RegisterAccess::Options o;
    o.reg16 = dialog.checkBoxReg16->isChecked();
    o.word = word;
    o.littleEndian = dialog.comboBoxOrder->currentIndex() == 1;
    return o;
}

} // namespace

bool RegisterDialog::get() {
    RegisterAccess access(spinBoxAddress->value(), m_clock(),
                          options(*this, comboBoxWidth->currentIndex() == 1), m_transact);
    const RegisterAccess::Result result = access.get(spinBoxRegister->value());
    if (result.status != RegisterAccess::Ok) {
        showResult(result.message, false);
        return false;
    }
    lineEditValue->setText(access.format(result.value));
    showResult(tr("Register 0x%1 holds %2.")
                   .arg(spinBoxRegister->value(), 2, 16, QLatin1Char('0'))
                   .arg(access.format(result.value)),
               true);
    return true;
}

bool RegisterDialog::set() {
    const bool word = comboBoxWidth->currentIndex() == 1;
    const qint64 top = word ? 0xffff : 0xff;
    qint64 value = 0;
    if (!parseNumber(lineEditValue->text().trimmed(), 0, top, &value)) {
        showResult(tr("The value must be a number from 0 to 0x%1, not \"%2\".")
                       .arg(top, 0, 16)
                       .arg(lineEditValue->text()),
                   false);
        return false;
    }
    qint64 mask = -1;
    const QString maskText = lineEditMask->text().trimmed();
    if (!maskText.isEmpty() && !parseNumber(maskText, 0, top, &mask)) {
        showResult(tr("The mask must be a number from 0 to 0x%1, not \"%2\".")
                       .arg(top, 0, 16)
                       .arg(lineEditMask->text()),
                   false);
        return false;
    }
    RegisterAccess access(spinBoxAddress->value(), m_clock(), options(*this, word), m_transact);
    const RegisterAccess::Result result =
        access.set(spinBoxRegister->value(), int(value), int(mask));
    if (result.status != RegisterAccess::Ok) {
        showResult(result.message, false);
        return false;
    }
    showResult(tr("Register 0x%1 set to %2.")
                   .arg(spinBoxRegister->value(), 2, 16, QLatin1Char('0'))
                   .arg(access.format(result.written)),
               true);
    return true;
}

bool RegisterDialog::dump() {
    const int first = spinBoxFirst->value();
    const int last = spinBoxLast->value();
    if (last < first || last - first >= DumpLimit) {
        showResult(tr("Dump from 0x%1 to 0x%2: the last register must follow the first, and "
                      "one dump takes at most %3 registers.")
                       .arg(first, 2, 16, QLatin1Char('0'))
                       .arg(last, 2, 16, QLatin1Char('0'))
                       .arg(DumpLimit),
                   false);
        return false;
    }
    const bool reg16 = checkBoxReg16->isChecked();
    const int address = spinBoxAddress->value();
    RegisterAccess access(address, m_clock(), options(*this, false), m_transact);
    const RegisterAccess::Dump result = access.dump(first, last);
    if (result.status == RegisterAccess::DeviceError) {
        showResult(result.message, false);
        return false;
    }
    // A change is only a change against a dump of the same part.
    const bool compare = m_previousAddress == address && m_previousReg16 == reg16;
    const auto previousValue = [&](int reg) {
        const int i = reg - m_previousFirst;
        return compare && i >= 0 && i < m_previous.size() ? m_previous.at(i) : -2;
    };

    const int firstRow = first / columns;
    const int rows = last / columns - firstRow + 1;
    tableWidgetDump->clearContents();
    tableWidgetDump->setRowCount(rows);
    QStringList rowLabels;
    int changed = 0;
    for (int row = 0; row < rows; ++row) {
        const int base = (firstRow + row) * columns;
        rowLabels << QStringLiteral("%1:").arg(base, reg16 ? 4 : 2, 16, QLatin1Char('0'));
        QString ascii;
        for (int column = 0; column < columns; ++column) {
            const int reg = base + column;
            auto *cell = new QTableWidgetItem;
            cell->setTextAlignment(Qt::AlignCenter);
            cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            if (reg < first || reg > last) {
                ascii += QLatin1Char(' ');
            } else {
                const int value = result.values.value(reg - first, -1);
                cell->setText(value < 0 ? QStringLiteral("XX")
                                        : QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')));
                ascii += value >= 0x20 && value < 0x7f ? QChar(value) : QChar(u'.');
                const int before = previousValue(reg);
                if (before != -2 && before != value) {
                    cell->setBackground(changedColour);
                    ++changed;
                }
            }
            tableWidgetDump->setItem(row, column, cell);
        }
        auto *text = new QTableWidgetItem(ascii);
        text->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        tableWidgetDump->setItem(row, columns, text);
    }
    tableWidgetDump->setVerticalHeaderLabels(rowLabels);

    m_previousFirst = first;
    m_previous = result.values;
    m_previousReg16 = reg16;
    m_previousAddress = address;
    if (result.status == RegisterAccess::NoAck) {
        showResult(result.message, false);
        return false;
    }
    showResult(compare ? tr("Dumped %1 registers; %2 changed since the previous dump.")
                             .arg(result.values.size())
                             .arg(changed)
                       : tr("Dumped %1 registers.").arg(result.values.size()),
               true);
    return true;
}
