// The layout of the firmware image built from firmware/ and its place in the
// program's resources. Addresses come from the linker's map of that build.

#include "adapter_wire.h"

#include <QtTest>

#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QResource>

namespace {

constexpr int AutovectorEntries = 46;
constexpr int AutovectorEntrySize = 4;
constexpr uint8_t LongJump = 0x02;
constexpr uint8_t ReturnFromInterrupt = 0x32;
constexpr uint8_t Fill = 0xAA;

struct Area {
    QString name;
    uint32_t address = 0;
    uint32_t size = 0;
    QStringList attributes;
};

struct LinkerMap {
    QList<Area> areas;
    QMap<QString, uint32_t> symbols;
};

LinkerMap readMap(const QString &path) {
    LinkerMap map;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return map;
    // Area lines: name, address, size, "= n. bytes", attributes. Symbol
    // lines: an optional space letter ("C:", "D:"), value, name, module.
    static const QRegularExpression area(
        R"(^(\S+)\s+([0-9A-F]{8})\s+([0-9A-F]{8})\s+=\s+\d+\.\s+bytes\s+\(([^)]*)\))");
    static const QRegularExpression symbol(R"(^(?:[A-Z]:)?\s*([0-9A-F]{8})\s+(\S+))");
    while (!file.atEnd()) {
        const QString line = QString::fromLatin1(file.readLine()).trimmed();
        if (auto m = area.match(line); m.hasMatch()) {
            map.areas.append({m.captured(1), m.captured(2).toUInt(nullptr, 16),
                              m.captured(3).toUInt(nullptr, 16), m.captured(4).split(',')});
        } else if (auto m = symbol.match(line); m.hasMatch()) {
            map.symbols.insert(m.captured(2), m.captured(1).toUInt(nullptr, 16));
        }
    }
    return map;
}

uint16_t jumpTarget(const QByteArray &image, int at) {
    return uint16_t((uint8_t(image[at + 1]) << 8) | uint8_t(image[at + 2]));
}

} // namespace

class FirmwareImageTest : public QObject {
    Q_OBJECT

    QByteArray m_image;
    LinkerMap m_map;
    uint32_t m_vectorsEnd = 0;
    uint32_t m_codeStart = 0xFFFF;
    uint32_t m_codeEnd = 0;
    uint32_t m_bufferStart = 0;
    uint32_t m_bufferEnd = 0;

    bool inCode(uint32_t address) const { return address >= m_codeStart && address < m_codeEnd; }

private slots:
    void initTestCase();
    void sizeAndResetVector();
    void bufferBoundsFromTheMap();
    void xdataStaysOutOfTheSharedRam();
    void interruptVectors();
    void autovectorTable();
    void autovectorHandlers_data();
    void autovectorHandlers();
    void unoccupiedBytesAreFill();
    void oldAutopointerImage();
    void instructionSequences_data();
    void instructionSequences();
    void resourceIsTheBuiltImage();
};

void FirmwareImageTest::initTestCase() {
    QFile file(QStringLiteral(BRANTLE_FIRMWARE_IMAGE));
    QVERIFY2(file.open(QIODevice::ReadOnly), BRANTLE_FIRMWARE_IMAGE);
    m_image = file.readAll();
    m_map = readMap(QStringLiteral(BRANTLE_FIRMWARE_MAP));
    QVERIFY2(!m_map.areas.isEmpty(), "no areas found in the linker map");

    // Relocatable code areas make up the program (HOME begins with the
    // interrupt vectors); the absolute one is the autovector table.
    for (const Area &a : m_map.areas) {
        if (a.attributes.contains("CODE") && a.attributes.contains("REL") && a.size > 0) {
            if (a.name == "HOME")
                m_vectorsEnd = a.address + a.size;
            else
                m_codeStart = qMin(m_codeStart, a.address);
            m_codeEnd = qMax(m_codeEnd, a.address + a.size);
        }
        if (a.name.startsWith("CMDBUF")) {
            QVERIFY(m_map.symbols.contains("_command_buffer"));
            m_bufferStart = m_map.symbols.value("_command_buffer");
            m_bufferEnd = m_bufferStart + a.size;
        }
    }
    QVERIFY2(m_bufferEnd > m_bufferStart, "command buffer not found in the map");
    qInfo("code 0x%04X..0x%04X, command buffer 0x%04X..0x%04X, start-up 0x%04X", m_codeStart,
          m_codeEnd - 1, m_bufferStart, m_bufferEnd - 1,
          m_map.symbols.value("__sdcc_gsinit_startup"));
}

void FirmwareImageTest::sizeAndResetVector() {
    QCOMPARE(m_image.size(), WIRE_FIRMWARE_IMAGE_SIZE);
    QCOMPARE(uint8_t(m_image[0]), LongJump);
    QVERIFY(m_map.symbols.contains("__sdcc_gsinit_startup"));
    QCOMPARE(uint32_t(jumpTarget(m_image, 0)), m_map.symbols.value("__sdcc_gsinit_startup"));
    QVERIFY(inCode(jumpTarget(m_image, 0)));
}

void FirmwareImageTest::bufferBoundsFromTheMap() {
    QCOMPARE(m_bufferStart, uint32_t(WIRE_COMMAND_BUFFER_ADDRESS));
    QVERIFY(m_bufferEnd - m_bufferStart >= uint32_t(WIRE_COMMAND_BUFFER_SIZE));
    QVERIFY(m_bufferEnd <= uint32_t(WIRE_AUTOVECTOR_ADDRESS));
    // Code and data share the one RAM, and the linker keeps them apart only
    // within their own spaces.
    QVERIFY2(m_codeEnd <= m_bufferStart,
             qPrintable(QString("code ends at 0x%1").arg(m_codeEnd, 4, 16, QChar('0'))));
}

void FirmwareImageTest::xdataStaysOutOfTheSharedRam() {
    for (const Area &a : m_map.areas) {
        if (!a.attributes.contains("XDATA") || !a.attributes.contains("REL") || a.size == 0)
            continue;
        // The chip's 512 bytes of data-only RAM.
        QVERIFY2(a.address >= 0xE000 && a.address + a.size <= 0xE200, qPrintable(a.name));
    }
}

void FirmwareImageTest::interruptVectors() {
    for (int vector = 0x03; vector <= 0x63; vector += 8) {
        const uint8_t op = uint8_t(m_image[vector]);
        if (vector == 0x43) {
            QCOMPARE(op, LongJump);
            QCOMPARE(jumpTarget(m_image, vector), uint16_t(WIRE_AUTOVECTOR_ADDRESS));
        } else if (vector == 0x53) {
            QCOMPARE(op, LongJump);
            QCOMPARE(jumpTarget(m_image, vector), uint16_t(WIRE_AUTOVECTOR_ADDRESS + 0x80));
        } else if (op == LongJump) {
            QVERIFY(inCode(jumpTarget(m_image, vector)));
        } else {
            QCOMPARE(op, ReturnFromInterrupt);
        }
    }
    QVERIFY2(m_codeStart >= 0x66 && m_codeStart >= m_vectorsEnd,
             "code overlaps the interrupt vectors");
}

void FirmwareImageTest::autovectorTable() {
    QCOMPARE(m_map.symbols.value("_usb_autovector"), uint32_t(WIRE_AUTOVECTOR_ADDRESS));
    QCOMPARE(m_map.symbols.value("_fifo_autovector"), uint32_t(WIRE_AUTOVECTOR_ADDRESS + 0x80));
    for (int i = 0; i < AutovectorEntries; ++i) {
        const int at = WIRE_AUTOVECTOR_ADDRESS + i * AutovectorEntrySize;
        QCOMPARE(uint8_t(m_image[at]), LongJump);
        QVERIFY2(inCode(jumpTarget(m_image, at)), qPrintable(QString::number(i)));
        QCOMPARE(uint8_t(m_image[at + 3]), uint8_t(0));
    }
}

void FirmwareImageTest::autovectorHandlers_data() {
    QTest::addColumn<int>("offset");
    QTest::addColumn<QString>("handler");
    QTest::newRow("setup data") << 0x00 << "_isr_sudav";
    QTest::newRow("setup token") << 0x08 << "_isr_sutok";
    QTest::newRow("suspend") << 0x0C << "_isr_suspend";
    QTest::newRow("bus reset") << 0x10 << "_isr_usb_reset";
    QTest::newRow("high-speed grant") << 0x14 << "_isr_high_speed";
    QTest::newRow("start of frame, never enabled") << 0x04 << "_isr_unused";
    QTest::newRow("GPIF waveform, the last entry") << 0xB4 << "_isr_unused";
}

void FirmwareImageTest::autovectorHandlers() {
    QFETCH(int, offset);
    QFETCH(QString, handler);
    QVERIFY(m_map.symbols.contains(handler));
    QCOMPARE(uint32_t(jumpTarget(m_image, WIRE_AUTOVECTOR_ADDRESS + offset)),
             m_map.symbols.value(handler));
}

void FirmwareImageTest::unoccupiedBytesAreFill() {
    auto allFill = [&](int from, int to) {
        for (int i = from; i < to; ++i)
            if (uint8_t(m_image[i]) != Fill)
                return i;
        return -1;
    };
    // Between the vectors (3 bytes used of every 8).
    for (int vector = 0x03; vector < 0x63; vector += 8) {
        const int used = uint8_t(m_image[vector]) == LongJump ? 3 : 1;
        QCOMPARE(allFill(vector + used, vector + 8), -1);
    }
    QCOMPARE(allFill(int(m_codeEnd), WIRE_AUTOVECTOR_ADDRESS), -1);
    QCOMPARE(allFill(WIRE_AUTOVECTOR_ADDRESS + AutovectorEntries * AutovectorEntrySize,
                     WIRE_FIRMWARE_IMAGE_SIZE),
             -1);
}

// The image built with the auto-pointer data registers declared as SFRs: its
// copy loop is the one SFR-to-SFR move that copies nothing on the chip, and
// the shipped image has no such move.
void FirmwareImageTest::oldAutopointerImage() {
    QFile file(QStringLiteral(BRANTLE_OLD_AUTOPOINTER_IMAGE));
    QVERIFY2(file.open(QIODevice::ReadOnly), BRANTLE_OLD_AUTOPOINTER_IMAGE);
    const QByteArray old = file.readAll();
    QCOMPARE(old.size(), WIRE_FIRMWARE_IMAGE_SIZE);
    const QByteArray sfrMove = QByteArray::fromHex("859C9F"); // mov 0x9F,0x9C
    QVERIFY(old.contains(sfrMove));
    QVERIFY(!m_image.contains(sfrMove));
}

// Orders of instructions the chip requires, found in the built code:
// "??" stands for any byte. With a function named, the bytes must lie
// between its symbol and the next one; without, anywhere in the code.
void FirmwareImageTest::instructionSequences_data() {
    QTest::addColumn<QString>("function");
    QTest::addColumn<QString>("pattern");

    // At 400 kHz the controller may finish the STOP before a late fetch of
    // the last byte: STOP is written through @R0 (I2CS) and I2DAT fetched
    // through @R1 on the very next instruction, with interrupts off.
    QTest::newRow("last byte fetched on the instruction after STOP") << "_hw_i2c_then_stop_read"
                                                                     << "74 40 F2 E3";
    QTest::newRow("interrupts off around the STOP and the fetch") << "_hw_i2c_then_stop_read"
                                                                  << "C2 AF";
    QTest::newRow("@R0 and @R1 on I2CS and I2DAT") << "_hw_i2c_then_stop_read"
                                                   << "75 92 E6 78 78 79 79";
    QTest::newRow("next byte written as soon as DONE shows") << "_hw_i2c_then_write"
                                                             << "E2 20 E0 ??";
    // The auto-pointers' data registers are xdata registers.
    QTest::newRow("copy through XAUTODAT1 and XAUTODAT2") << "_hw_copy"
                                                          << "90 E6 7B E0 90 E6 7C F0";
    // Suspend: SUSPEND written; the CPU idled on the one instruction after
    // interrupts come back on, so that a resume already requested ends the
    // idle rather than running just before it.
    QTest::newRow("suspend writes SUSPEND") << ""
                                            << "90 E6 81 ?? F0";
    QTest::newRow("idle right after interrupts are enabled") << ""
                                                             << "D2 AF 43 87 01";
}

void FirmwareImageTest::instructionSequences() {
    QFETCH(QString, function);
    QFETCH(QString, pattern);

    uint32_t from = m_codeStart;
    uint32_t to = m_codeEnd;
    if (!function.isEmpty()) {
        QVERIFY2(m_map.symbols.contains(function), qPrintable(function));
        from = m_map.symbols.value(function);
        for (const uint32_t address : m_map.symbols)
            if (address > from && address < to && address < m_codeEnd)
                to = address;
    }
    const QStringList bytes = pattern.split(u' ');
    auto matchesAt = [&](uint32_t at) {
        for (int k = 0; k < bytes.size(); ++k) {
            if (bytes[k] != QLatin1String("??") &&
                uint8_t(m_image[int(at) + k]) != bytes[k].toUInt(nullptr, 16))
                return false;
        }
        return true;
    };
    bool found = false;
    for (uint32_t at = from; at + bytes.size() <= to && !found; ++at)
        found = matchesAt(at);
    QVERIFY2(found, qPrintable(QString("%1 not in 0x%2..0x%3")
                                   .arg(pattern)
                                   .arg(from, 4, 16, QChar('0'))
                                   .arg(to, 4, 16, QChar('0'))));
}

void FirmwareImageTest::resourceIsTheBuiltImage() {
    const QString path = QStringLiteral(":/Brantle/IoAndFx2I2cBus.bix");
    QFile resource(path);
    QVERIFY(resource.open(QIODevice::ReadOnly));
    QCOMPARE(resource.readAll(), m_image);
    QCOMPARE(QResource(path).compressionAlgorithm(), QResource::NoCompression);
}

QTEST_GUILESS_MAIN(FirmwareImageTest)
#include "tst_firmware_image.moc"
