// Every register address and bit mask the firmware declares, held against
// the chip's own tables: a register declared in the wrong space or at the
// wrong address compiles and links, and fails only on the chip.

#include "Fx2RegisterReference.h"

#include <QtTest>

#include <QFile>
#include <QRegularExpression>

namespace {

struct Declaration {
    QString kind; // "sfr", "sbit", "xdata", "bit"
    QString name;
    QString group; // bit masks: the register (family) part of the name
    uint32_t value = 0;
    int size = 1;
};

QList<Declaration> readHeader(const QString &path) {
    QList<Declaration> found;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return found;
    const QString text = QString::fromLatin1(file.readAll());
    static const QRegularExpression sfr(R"(__sfr\s+__at\s*\((0x[0-9A-Fa-f]+)\)\s+(\w+)\s*;)");
    static const QRegularExpression sbit(R"(__sbit\s+__at\s*\((0x[0-9A-Fa-f]+)\)\s+(\w+)\s*;)");
    static const QRegularExpression xreg(R"(FX2_XREG\((\w+),\s*(0x[0-9A-Fa-f]+)\)\s*;)");
    static const QRegularExpression xarray(
        R"(__xdata\s+__at\s*\((0x[0-9A-Fa-f]+)\)\s+volatile\s+uint8_t\s+(\w+)\[(\d+)\]\s*;)");
    static const QRegularExpression mask(R"(#define\s+([A-Z0-9]+)_(\w+)\s+(0x[0-9A-Fa-f]+)\s*$)",
                                         QRegularExpression::MultilineOption);
    for (auto it = sfr.globalMatch(text); it.hasNext();) {
        const auto m = it.next();
        found.append({"sfr", m.captured(2), {}, m.captured(1).toUInt(nullptr, 16), 1});
    }
    for (auto it = sbit.globalMatch(text); it.hasNext();) {
        const auto m = it.next();
        found.append({"sbit", m.captured(2), {}, m.captured(1).toUInt(nullptr, 16), 1});
    }
    for (auto it = xreg.globalMatch(text); it.hasNext();) {
        const auto m = it.next();
        found.append({"xdata", m.captured(1), {}, m.captured(2).toUInt(nullptr, 16), 1});
    }
    for (auto it = xarray.globalMatch(text); it.hasNext();) {
        const auto m = it.next();
        found.append(
            {"xdata", m.captured(2), {}, m.captured(1).toUInt(nullptr, 16), m.captured(3).toInt()});
    }
    for (auto it = mask.globalMatch(text); it.hasNext();) {
        const auto m = it.next();
        found.append({"bit", m.captured(2), m.captured(1), m.captured(3).toUInt(nullptr, 16), 1});
    }
    return found;
}

} // namespace

class FirmwareRegistersTest : public QObject {
    Q_OBJECT

    QList<Declaration> m_declarations;

private slots:
    void initTestCase();
    void declaration_data();
    void declaration();
    void headerReadCompletely();
};

void FirmwareRegistersTest::initTestCase() {
    m_declarations = readHeader(QStringLiteral(BRANTLE_FX2_REGISTERS));
}

void FirmwareRegistersTest::declaration_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("group");
    QTest::addColumn<uint>("value");
    QTest::addColumn<int>("size");
    for (const Declaration &d : m_declarations) {
        const QString row = d.group.isEmpty() ? d.name : d.group + u'_' + d.name;
        QTest::newRow(qPrintable(row)) << d.kind << d.name << d.group << uint(d.value) << d.size;
    }
}

void FirmwareRegistersTest::declaration() {
    QFETCH(QString, kind);
    QFETCH(QString, name);
    QFETCH(QString, group);
    QFETCH(uint, value);
    QFETCH(int, size);

    const QByteArray n = name.toLatin1();
    if (kind == "bit") {
        const fx2ref::Bit *bit = fx2ref::findBit(group.toLatin1().constData(), n.constData());
        QVERIFY2(bit, "no such bit of that register in the chip's tables");
        QCOMPARE(value, uint(bit->mask));
        return;
    }
    if (kind == "sbit") {
        const fx2ref::SfrBit *bit = fx2ref::findSfrBit(n.constData());
        QVERIFY2(bit, "no such SFR bit in the chip's tables");
        QCOMPARE(value, uint(bit->address));
        return;
    }
    const fx2ref::Register *reg = fx2ref::findRegister(n.constData());
    QVERIFY2(reg, "no such register in the chip's tables");
    const fx2ref::Space space = kind == "sfr" ? fx2ref::Space::Sfr : fx2ref::Space::Xdata;
    QVERIFY2(reg->space == space, reg->space == fx2ref::Space::Sfr
                                      ? "the chip has it among the SFRs"
                                      : "the chip has it in the xdata space");
    QCOMPARE(value, uint(reg->address));
    QVERIFY2(size <= reg->size, "declared larger than the chip's buffer");
}

// The table above is only as good as the parse: the registers the firmware
// cannot do without must all have been found.
void FirmwareRegistersTest::headerReadCompletely() {
    QStringList names;
    for (const Declaration &d : m_declarations)
        names << (d.group.isEmpty() ? d.name : d.group + u'_' + d.name);
    for (const char *needed :
         {"CPUCS",     "I2CS",        "I2DAT",        "I2CTL",      "XAUTODAT1",    "XAUTODAT2",
          "AUTOPTRH1", "AUTOPTRL2",   "AUTOPTRSETUP", "EP2468STAT", "EP4BCL",       "EP8BCH",
          "EP0CS",     "SETUPDAT",    "EP4FIFOBUF",   "SUSPEND",    "MPAGE",        "TF0",
          "EA",        "I2CS_LASTRD", "I2CS_STOP",    "EPBCL_SKIP", "USBINT_SUDAV", "EICON_RESI"})
        QVERIFY2(names.contains(QLatin1String(needed)), needed);
    QVERIFY(m_declarations.size() >= 80);
}

QTEST_GUILESS_MAIN(FirmwareRegistersTest)
#include "tst_firmware_registers.moc"
