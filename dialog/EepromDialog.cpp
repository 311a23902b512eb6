#include "EepromDialog.h"

#include "EepromProgrammer.h"
#include "HexSpinBox.h"
#include "MemoryImage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

QString byteRange(qint64 from, qint64 to) {
    return EepromDialog::tr("%1 (%2 bytes)").arg(EepromProgrammer::range(from, to)).arg(to - from);
}

QString differenceLines(const QVector<EepromProgrammer::Difference> &differences, int *shown) {
    QString text;
    for (const auto &d : differences) {
        if ((*shown)++ >= EepromProgrammer::ShownDifferences)
            break;
        text += EepromDialog::tr("0x%1: file 0x%2, part 0x%3\n")
                    .arg(d.address, 4, 16, QLatin1Char('0'))
                    .arg(d.file, 2, 16, QLatin1Char('0'))
                    .arg(d.part, 2, 16, QLatin1Char('0'));
    }
    return text;
}

} // namespace

EepromDialog::EepromDialog(BusStream::Transact transact, std::function<int()> clock,
                           QWidget *parent)
    : QDialog(parent), m_transact(std::move(transact)), m_clock(std::move(clock)) {
    setObjectName(QStringLiteral("EepromDialog"));
    setWindowTitle(tr("EEPROM"));
    setModal(true);

    comboBoxPart = new QComboBox(this);
    comboBoxPart->setObjectName(QStringLiteral("comboBoxPart"));
    for (const EepromPart &p : EepromPart::table())
        comboBoxPart->addItem(tr("%1 (%2 bytes, page %3)").arg(p.name).arg(p.size).arg(p.pageSize),
                              p.name);
    comboBoxPart->addItem(tr("Custom"), QString());
    comboBoxPart->setCurrentIndex(qMax(0, comboBoxPart->findData(QStringLiteral("24C64"))));

    spinBoxCustomSize = new QSpinBox(this);
    spinBoxCustomSize->setObjectName(QStringLiteral("spinBoxCustomSize"));
    spinBoxCustomSize->setRange(1, 0x80000);
    spinBoxCustomSize->setValue(8192);
    spinBoxCustomSize->setSuffix(tr(" bytes"));
    comboBoxCustomAddressBytes = new QComboBox(this);
    comboBoxCustomAddressBytes->setObjectName(QStringLiteral("comboBoxCustomAddressBytes"));
    comboBoxCustomAddressBytes->addItem(tr("1 address byte"), 1);
    comboBoxCustomAddressBytes->addItem(tr("2 address bytes"), 2);
    comboBoxCustomAddressBytes->setCurrentIndex(1);
    spinBoxCustomPage = new QSpinBox(this);
    spinBoxCustomPage->setObjectName(QStringLiteral("spinBoxCustomPage"));
    spinBoxCustomPage->setRange(1, 256);
    spinBoxCustomPage->setValue(32);
    spinBoxCustomPage->setSuffix(tr(" bytes"));
    auto *custom = new QHBoxLayout;
    custom->addWidget(spinBoxCustomSize);
    custom->addWidget(comboBoxCustomAddressBytes);
    custom->addWidget(spinBoxCustomPage);

    spinBoxAddress = hexSpinBox(0x08, 0x77, 0x50, this);
    spinBoxAddress->setObjectName(QStringLiteral("spinBoxAddress"));
    lineEditOffset = new QLineEdit(QStringLiteral("0"), this);
    lineEditOffset->setObjectName(QStringLiteral("lineEditOffset"));
    lineEditLength = new QLineEdit(this);
    lineEditLength->setObjectName(QStringLiteral("lineEditLength"));
    lineEditLength->setPlaceholderText(tr("to the end"));

    auto *form = new QFormLayout;
    form->addRow(tr("&Part:"), comboBoxPart);
    form->addRow(tr("Custom (size, address, page):"), custom);
    form->addRow(tr("&Device address:"), spinBoxAddress);
    form->addRow(tr("&Offset:"), lineEditOffset);
    form->addRow(tr("&Length (read):"), lineEditLength);

    pushButtonRead = new QPushButton(tr("&Read to File..."), this);
    pushButtonRead->setObjectName(QStringLiteral("pushButtonRead"));
    pushButtonWrite = new QPushButton(tr("&Write from File..."), this);
    pushButtonWrite->setObjectName(QStringLiteral("pushButtonWrite"));
    pushButtonVerify = new QPushButton(tr("&Verify against File..."), this);
    pushButtonVerify->setObjectName(QStringLiteral("pushButtonVerify"));
    checkBoxVerify = new QCheckBox(tr("Read &back after writing"), this);
    checkBoxVerify->setObjectName(QStringLiteral("checkBoxVerify"));
    checkBoxVerify->setChecked(true);
    auto *actions = new QHBoxLayout;
    actions->addWidget(pushButtonRead);
    actions->addWidget(pushButtonWrite);
    actions->addWidget(pushButtonVerify);

    progressBar = new QProgressBar(this);
    progressBar->setObjectName(QStringLiteral("progressBar"));
    progressBar->setRange(0, 1);
    progressBar->setValue(0);
    pushButtonCancel = new QPushButton(tr("Cancel"), this);
    pushButtonCancel->setObjectName(QStringLiteral("pushButtonCancel"));
    pushButtonCancel->setEnabled(false);
    auto *running = new QHBoxLayout;
    running->addWidget(progressBar, 1);
    running->addWidget(pushButtonCancel);

    textResult = new QPlainTextEdit(this);
    textResult->setObjectName(QStringLiteral("textResult"));
    textResult->setReadOnly(true);
    QFont mono(QStringLiteral("monospace"));
    mono.setStyleHint(QFont::TypeWriter);
    textResult->setFont(mono);

    pushButtonClose = new QPushButton(tr("Close"), this);
    pushButtonClose->setObjectName(QStringLiteral("pushButtonClose"));
    auto *closing = new QHBoxLayout;
    closing->addStretch();
    closing->addWidget(pushButtonClose);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(actions);
    layout->addWidget(checkBoxVerify);
    layout->addLayout(running);
    layout->addWidget(textResult, 1);
    layout->addLayout(closing);
    resize(560, 460);

    const auto customChosen = [this] {
        const bool custom = comboBoxPart->currentData().toString().isEmpty();
        spinBoxCustomSize->setEnabled(custom);
        comboBoxCustomAddressBytes->setEnabled(custom);
        spinBoxCustomPage->setEnabled(custom);
    };
    connect(comboBoxPart, &QComboBox::currentIndexChanged, this, customChosen);
    customChosen();
    connect(pushButtonRead, &QPushButton::clicked, this,
            [this] { chooseAndRun(true, [this](const QString &f) { return readTo(f); }); });
    connect(pushButtonWrite, &QPushButton::clicked, this,
            [this] { chooseAndRun(false, [this](const QString &f) { return writeFrom(f); }); });
    connect(pushButtonVerify, &QPushButton::clicked, this,
            [this] { chooseAndRun(false, [this](const QString &f) { return verifyAgainst(f); }); });
    connect(pushButtonCancel, &QPushButton::clicked, this, [this] { m_cancel = true; });
    connect(pushButtonClose, &QPushButton::clicked, this, &EepromDialog::reject);
}

void EepromDialog::reject() {
    // Closing while an operation runs would leave it writing behind a hidden
    // dialog: stop it at the next page instead.
    if (m_running) {
        m_cancel = true;
        return;
    }
    QDialog::reject();
}

void EepromDialog::chooseAndRun(bool save, const std::function<bool(const QString &)> &run) {
    const QString filter = tr("Raw binary (*.bin);;Intel HEX (*.hex);;All files (*)");
    const QString file =
        save ? QFileDialog::getSaveFileName(this, tr("Read to File"), QString(), filter)
             : QFileDialog::getOpenFileName(this, tr("Choose File"), QString(), filter);
    if (!file.isEmpty())
        run(file);
}

bool EepromDialog::part(EepromPart *chosen, QString *error) const {
    const QString name = comboBoxPart->currentData().toString();
    const QString text = name.isEmpty()
                             ? QStringLiteral("custom:%1:%2:%3")
                                   .arg(spinBoxCustomSize->value())
                                   .arg(comboBoxCustomAddressBytes->currentData().toInt())
                                   .arg(spinBoxCustomPage->value())
                             : name;
    return EepromPart::parse(text, chosen, error) &&
           chosen->checkAddress(spinBoxAddress->value(), error);
}

bool EepromDialog::offset(const EepromPart &chosen, qint64 *value, QString *error) const {
    if (parseNumber(lineEditOffset->text().trimmed(), 0, chosen.size, value))
        return true;
    *error = tr("The offset must be a number from 0 to %1, not \"%2\".")
                 .arg(chosen.size)
                 .arg(lineEditOffset->text());
    return false;
}

void EepromDialog::begin(const QString &what) {
    m_cancel = false;
    setRunning(true);
    progressBar->setRange(0, 1);
    progressBar->setValue(0);
    textResult->setStyleSheet(QString());
    textResult->setPlainText(what);
    repaint();
}

void EepromDialog::end() {
    setRunning(false);
}

void EepromDialog::setRunning(bool running) {
    m_running = running;
    for (QWidget *w :
         {static_cast<QWidget *>(pushButtonRead), static_cast<QWidget *>(pushButtonWrite),
          static_cast<QWidget *>(pushButtonVerify), static_cast<QWidget *>(pushButtonClose)})
        w->setEnabled(!running);
    pushButtonCancel->setEnabled(running);
}

void EepromDialog::showResult(const QString &text, bool good) {
    textResult->setStyleSheet(good ? QString() : QStringLiteral("color: red"));
    textResult->setPlainText(text);
}

bool EepromDialog::progress(qint64 done, qint64 total) {
    // The bar counts in kilobytes past 2 GB; no part is that large, but the
    // range is an int.
    const int scale = total > 0x7fffffff ? 1024 : 1;
    progressBar->setRange(0, int(qMax<qint64>(1, total / scale)));
    progressBar->setValue(int(done / scale));
    // The operation runs on this thread: let Cancel (and painting) through.
    // The dialog is modal, so no other window can start a transaction.
    QCoreApplication::processEvents();
    return !m_cancel;
}

bool EepromDialog::readTo(const QString &fileName) {
    EepromPart chosen;
    QString error;
    qint64 from = 0;
    if (!part(&chosen, &error) || !offset(chosen, &from, &error)) {
        showResult(error, false);
        return false;
    }
    qint64 length = chosen.size - from;
    const QString lengthText = lineEditLength->text().trimmed();
    if (!lengthText.isEmpty() && !parseNumber(lengthText, 1, chosen.size, &length)) {
        showResult(tr("The length must be a number from 1 to %1, not \"%2\".")
                       .arg(chosen.size)
                       .arg(lengthText),
                   false);
        return false;
    }
    QElapsedTimer timer;
    timer.start();
    EepromProgrammer programmer(chosen, spinBoxAddress->value(), m_clock(), m_transact,
                                [&timer] { return timer.nsecsElapsed(); });
    if (length <= 0 || !programmer.checkFits(from, length, &error)) {
        showResult(error.isEmpty() ? tr("Nothing to read from offset %1.").arg(from) : error,
                   false);
        return false;
    }
    programmer.setProgress([this](qint64 done, qint64 total) { return progress(done, total); });
    begin(tr("Reading..."));
    const EepromProgrammer::Result result = programmer.read(from, length);
    end();
    if (result.status != EepromProgrammer::Ok) {
        showResult(result.status == EepromProgrammer::Cancelled
                       ? tr("Cancelled; no file was written.")
                       : result.message,
                   false);
        return false;
    }
    QSaveFile file(fileName);
    const QByteArray bytes =
        MemoryImage::isHexName(fileName) ? MemoryImage::toHex(from, result.data) : result.data;
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        showResult(tr("Cannot write %1: %2").arg(fileName, file.errorString()), false);
        return false;
    }
    showResult(tr("Read %1 from the %2 at %3 into %4.")
                   .arg(byteRange(from, from + length), chosen.name,
                        chosen.addressRange(spinBoxAddress->value()), fileName),
               true);
    return true;
}

bool EepromDialog::writeFrom(const QString &fileName) {
    return runFile(fileName, true);
}

bool EepromDialog::verifyAgainst(const QString &fileName) {
    return runFile(fileName, false);
}

bool EepromDialog::runFile(const QString &fileName, bool writing) {
    EepromPart chosen;
    QString error;
    qint64 from = 0;
    if (!part(&chosen, &error) || !offset(chosen, &from, &error)) {
        showResult(error, false);
        return false;
    }
    MemoryImage image;
    if (!MemoryImage::load(fileName, &image, &error)) {
        showResult(tr("%1: %2").arg(fileName, error), false);
        return false;
    }
    if (image.byteCount() == 0) {
        showResult(tr("%1 holds no data.").arg(fileName), false);
        return false;
    }
    const int address = spinBoxAddress->value();
    const QString where = tr("the %1 at %2").arg(chosen.name, chosen.addressRange(address));
    QElapsedTimer timer;
    timer.start();
    EepromProgrammer programmer(chosen, address, m_clock(), m_transact,
                                [&timer] { return timer.nsecsElapsed(); });
    if (!programmer.checkFits(from, image, &error)) {
        showResult(tr("%1: %2; nothing was written.").arg(fileName, error), false);
        return false;
    }
    programmer.setProgress([this](qint64 done, qint64 total) { return progress(done, total); });

    if (!writing) {
        begin(tr("Verifying..."));
        qint64 differences = 0;
        int shown = 0;
        QString lines;
        for (const MemoryImage::Run &run : image.runs()) {
            const EepromProgrammer::Result result =
                programmer.verify(from + run.address, run.bytes);
            if (result.status != EepromProgrammer::Ok &&
                result.status != EepromProgrammer::Differs) {
                end();
                showResult(result.status == EepromProgrammer::Cancelled ? tr("Cancelled.")
                                                                        : result.message,
                           false);
                return false;
            }
            lines += differenceLines(result.differences, &shown);
            differences += result.differenceCount;
        }
        end();
        if (differences > 0) {
            showResult(
                lines +
                    tr("%1 bytes differ between %2 and %3.").arg(differences).arg(fileName, where),
                false);
            return false;
        }
        showResult(tr("%1 bytes of %2 match %3.").arg(image.byteCount()).arg(fileName, where),
                   true);
        return true;
    }

    const bool verify = checkBoxVerify->isChecked();
    begin(tr("Writing..."));
    QStringList done;
    for (const MemoryImage::Run &run : image.runs()) {
        const EepromProgrammer::Result result =
            programmer.write(from + run.address, run.bytes, verify);
        if (result.status == EepromProgrammer::Ok) {
            done << byteRange(result.writtenFrom, result.writtenTo);
            continue;
        }
        end();
        QString text =
            result.status == EepromProgrammer::Cancelled ? tr("Cancelled.") : result.message;
        text += QLatin1Char('\n');
        int shown = 0;
        text += differenceLines(result.differences, &shown);
        if (result.differenceCount > shown)
            text += tr("%1 bytes differ in all.\n").arg(result.differenceCount);
        QString unread;
        if (result.writtenTo > result.writtenFrom) {
            if (!verify)
                done << tr("%1 (not read back)")
                            .arg(byteRange(result.writtenFrom, result.writtenTo));
            else if (!result.verified)
                unread = byteRange(result.writtenFrom, result.writtenTo);
            else if (result.verifiedTo > result.writtenFrom)
                done << byteRange(result.writtenFrom, result.verifiedTo);
        }
        if (!done.isEmpty())
            text += (verify ? tr("Written and verified: %1.") : tr("Written: %1."))
                        .arg(done.join(QStringLiteral(", ")));
        else if (unread.isEmpty())
            text += tr("Nothing was written and verified.");
        if (!unread.isEmpty())
            text += (done.isEmpty() ? QString() : QStringLiteral("\n")) +
                    tr("Written, but the read-back failed: %1.").arg(unread);
        if (result.status == EepromProgrammer::Differs && result.verifiedTo < result.writtenTo)
            text += QLatin1Char('\n') + tr("From 0x%1 on, the part does not hold what was written.")
                                            .arg(result.verifiedTo, 4, 16, QLatin1Char('0'));
        showResult(text, false);
        return false;
    }
    end();
    showResult((verify ? tr("Wrote and verified %1 of %2.") : tr("Wrote %1 of %2 (not read back)."))
                   .arg(done.join(QStringLiteral(", ")), where),
               true);
    return true;
}
