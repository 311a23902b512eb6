#include "Fx2Chip.h"
#include "ReferenceCore.h"
#include "SimTestUtil.h"

#include "adapter_wire.h"

#include <QtTest>

namespace {
UsbTransferResult load(Fx2Chip &chip, int address, QByteArray bytes) {
    UsbSetupPacket setup{0x40, WIRE_REQUEST_FIRMWARE_LOAD, uint16_t(address), 0,
                         uint16_t(bytes.size())};
    return chip.control(setup, reinterpret_cast<uint8_t *>(bytes.data()));
}

QByteArray readMemory(Fx2Chip &chip, int address, int length) {
    QByteArray bytes(length, '\0');
    UsbSetupPacket setup{0xC0, WIRE_REQUEST_FIRMWARE_LOAD, uint16_t(address), 0, uint16_t(length)};
    const UsbTransferResult r = chip.control(setup, reinterpret_cast<uint8_t *>(bytes.data()));
    return r.status == UsbTransferStatus::Completed ? bytes.left(r.bytes) : QByteArray();
}

void writeCpucs(Fx2Chip &chip, int value) {
    QCOMPARE(load(chip, WIRE_CPUCS_ADDRESS, QByteArray(1, char(value))).status,
             UsbTransferStatus::Completed);
}

// The host's download: hold, four chunks, release.
void download(Fx2Chip &chip, const QByteArray &image) {
    writeCpucs(chip, 1);
    for (int pos = 0; pos < image.size(); pos += WIRE_FIRMWARE_CHUNK_SIZE)
        QCOMPARE(load(chip, pos, image.mid(pos, WIRE_FIRMWARE_CHUNK_SIZE)).bytes,
                 std::min(WIRE_FIRMWARE_CHUNK_SIZE, int(image.size()) - pos));
    writeCpucs(chip, 0);
}

UsbTransferResult inquire(Fx2Chip &chip, uint8_t *answer) {
    return chip.control(UsbSetupPacket{0xC0, WIRE_REQUEST_INQUIRY, 0, 0, 1}, answer);
}

// A core that answers every request it gets after `delayNs` of its clock,
// with the request's bRequest, and records what reached it.
class RecordingCore : public Fx2Core {
public:
    bool renum = false;
    int64_t delayNs = 0;
    int64_t now = 0;
    int64_t answerAt = -1;
    uint8_t lastRequest = 0;
    QStringList reached;

    void startUp(bool) override {}
    int64_t nowNs() const override { return now; }
    void runUntil(int64_t ns) override { now = (answerAt > now && answerAt < ns) ? answerAt : ns; }
    ControlOutcome beginControl(const UsbSetupPacket &setup, QByteArray &data) override {
        reached << QString::asprintf("%02X %02X", setup.bmRequestType, setup.bRequest);
        lastRequest = setup.bRequest;
        answerAt = now + delayNs;
        return controlOutcome(data);
    }
    ControlOutcome controlOutcome(QByteArray &data) override {
        if (now < answerAt)
            return ControlOutcome::Pending;
        data = QByteArray(1, char(lastRequest));
        return ControlOutcome::Answered;
    }
    bool renumerated() const override { return renum; }
    bool acceptsOut(uint8_t) const override { return false; }
    void receiveOut(uint8_t, const QByteArray &) override {}
    bool hasIn(uint8_t) const override { return false; }
    QByteArray takeIn(uint8_t) override { return QByteArray(); }
};

QByteArray getDescriptor(Fx2Chip &chip, int type, int index, int length = 1024) {
    QByteArray bytes(length, '\0');
    const UsbTransferResult r =
        chip.control(UsbSetupPacket{0x80, 0x06, uint16_t(type << 8 | index), 0, uint16_t(length)},
                     reinterpret_cast<uint8_t *>(bytes.data()));
    return r.status == UsbTransferStatus::Completed ? bytes.left(r.bytes) : QByteArray();
}
} // namespace

class TestFx2Chip : public QObject {
    Q_OBJECT

private slots:
    void deviceDescriptorHasTheChipsIdentity() {
        Fx2Chip chip;
        const QByteArray d = getDescriptor(chip, 1, 0);
        QCOMPARE(d.size(), 18);
        QCOMPARE(hexText(d.mid(8, 4)), QString("B4 04 13 86"));
        const QByteArray first8 = getDescriptor(chip, 1, 0, 8);
        QCOMPARE(first8, d.left(8));
    }

    void configurationLayout_data() {
        QTest::addColumn<bool>("highSpeed");
        QTest::addColumn<int>("bulkSize");
        QTest::newRow("high speed") << true << 512;
        QTest::newRow("full speed") << false << 64;
    }
    void configurationLayout() {
        QFETCH(bool, highSpeed);
        QFETCH(int, bulkSize);
        Fx2Chip chip;
        chip.setHighSpeed(highSpeed);
        const QByteArray head = getDescriptor(chip, 2, 0, 9);
        const int total = uint8_t(head[2]) | uint8_t(head[3]) << 8;
        const QByteArray d = getDescriptor(chip, 2, 0, total);
        QCOMPARE(d.size(), total);
        // Walk it: interface descriptors 0..7 of interface 0, and the
        // endpoints of alternate setting 1 in order.
        QList<int> alts;
        QStringList alt1;
        int currentAlt = -1;
        for (int pos = 0; pos + 1 < d.size() && d[pos] > 0; pos += uint8_t(d[pos])) {
            if (d[pos + 1] == 4) {
                QCOMPARE(int(d[pos + 2]), 0);
                currentAlt = d[pos + 3];
                alts << currentAlt;
            } else if (d[pos + 1] == 5 && currentAlt == 1) {
                const int size = uint8_t(d[pos + 4]) | uint8_t(d[pos + 5]) << 8;
                alt1 << QStringLiteral("%1/%2/%3")
                            .arg(uint8_t(d[pos + 2]), 2, 16, QLatin1Char('0'))
                            .arg(int(d[pos + 3]))
                            .arg(size);
            }
        }
        QCOMPARE(alts, (QList<int>{0, 1, 2, 3, 4, 5, 6, 7}));
        const QString big = QString::number(bulkSize);
        QCOMPARE(alt1, (QStringList{"01/2/64", "81/2/64", "02/2/" + big, "04/2/" + big,
                                    "86/2/" + big, "88/2/" + big}));
        QCOMPARE(chip.endpoint(0x04).maxPacket, 0); // setting 0: zero bandwidth
    }

    void productStringForTheDeviceList() {
        Fx2Chip chip;
        chip.setProductName(QStringLiteral("Bench adapter"));
        QCOMPARE(hexText(getDescriptor(chip, 3, 0)), QString("04 03 09 04"));
        const QByteArray s = getDescriptor(chip, 3, 2);
        QCOMPARE(int(uint8_t(s[0])), s.size());
        QCOMPARE(QString::fromUtf16(reinterpret_cast<const char16_t *>(s.constData() + 2),
                                    (s.size() - 2) / 2),
                 QStringLiteral("Bench adapter"));
        QVERIFY(getDescriptor(chip, 3, 7).isEmpty());
    }

    void interfaceRequests() {
        Fx2Chip chip;
        uint8_t alt = 0xEE;
        const UsbSetupPacket get{0x81, 0x0A, 0, 0, 1};
        QCOMPARE(chip.control(get, &alt).status, UsbTransferStatus::Completed);
        QCOMPARE(alt, uint8_t(0));
        QCOMPARE(chip.control(UsbSetupPacket{0x01, 0x0B, 1, 0, 0}, nullptr).status,
                 UsbTransferStatus::Completed);
        QCOMPARE(chip.control(get, &alt).bytes, 1);
        QCOMPARE(alt, uint8_t(1));
        QCOMPARE(chip.endpoint(0x04).maxPacket, 512);
        QCOMPARE(chip.control(UsbSetupPacket{0x01, 0x0B, 8, 0, 0}, nullptr).status,
                 UsbTransferStatus::Stalled);
        QCOMPARE(chip.control(UsbSetupPacket{0x01, 0x0B, 1, 1, 0}, nullptr).status,
                 UsbTransferStatus::Stalled);
        QCOMPARE(chip.altSetting(), 1);
    }

    // Under RENUM = 0 the chip's USB core serves the standard requests and
    // the load request; vendor and class requests go to the firmware. With
    // RENUM = 1 only SET_ADDRESS and the load request stay with the chip.
    void requestsThatReachTheFirmware_data() {
        QTest::addColumn<bool>("renum");
        QTest::addColumn<int>("requestType");
        QTest::addColumn<int>("request");
        QTest::addColumn<bool>("reaches");
        for (const bool renum : {false, true}) {
            const char *mode = renum ? "RENUM=1" : "RENUM=0";
            QTest::addRow("%s: inquiry", mode) << renum << 0xC0 << 0x00 << true;
            QTest::addRow("%s: other vendor OUT", mode) << renum << 0x40 << 0x55 << true;
            QTest::addRow("%s: class request", mode) << renum << 0xA1 << 0x01 << true;
            QTest::addRow("%s: load request", mode) << renum << 0xC0 << 0xA0 << false;
            QTest::addRow("%s: get descriptor", mode) << renum << 0x80 << 0x06 << renum;
            QTest::addRow("%s: get status", mode) << renum << 0x80 << 0x00 << renum;
            QTest::addRow("%s: get interface", mode) << renum << 0x81 << 0x0A << renum;
            QTest::addRow("%s: set address", mode) << renum << 0x00 << 0x05 << false;
        }
    }
    void requestsThatReachTheFirmware() {
        QFETCH(bool, renum);
        QFETCH(int, requestType);
        QFETCH(int, request);
        QFETCH(bool, reaches);
        Fx2Chip chip;
        auto owned = std::make_unique<RecordingCore>();
        RecordingCore *core = owned.get();
        core->renum = renum;
        chip.setCore(std::move(owned));
        writeCpucs(chip, 0);
        QVERIFY(chip.running());
        uint8_t buffer[8] = {};
        const bool in = requestType & 0x80;
        const UsbTransferResult r = chip.control(
            UsbSetupPacket{uint8_t(requestType), uint8_t(request), 0x0100, 0, uint16_t(in ? 8 : 0)},
            buffer);
        QCOMPARE(core->reached.size(), reaches ? 1 : 0);
        if (reaches) {
            QCOMPARE(r.status, UsbTransferStatus::Completed);
            if (in)
                QCOMPARE(int(buffer[0]), request);
        }
    }

    // A request the firmware serves takes the time the firmware needs; one
    // nobody serves (CPU held) is NAKed until the host's time-out.
    void controlTransfersTakeTheirTime_data() {
        QTest::addColumn<bool>("release");
        QTest::addColumn<qint64>("delayNs");
        QTest::addColumn<qint64>("timeoutNs");
        QTest::addColumn<int>("status");
        QTest::addColumn<qint64>("spentNs");
        QTest::newRow("answered at once") << true << qint64(0) << qint64(1000000)
                                          << int(UsbTransferStatus::Completed) << qint64(0);
        QTest::newRow("answered after 40 us") << true << qint64(40000) << qint64(1000000)
                                              << int(UsbTransferStatus::Completed) << qint64(40000);
        QTest::newRow("answered too late") << true << qint64(4000000) << qint64(1000000)
                                           << int(UsbTransferStatus::Cancelled) << qint64(1000000);
        QTest::newRow("CPU held") << false << qint64(0) << qint64(1000000)
                                  << int(UsbTransferStatus::Cancelled) << qint64(1000000);
    }
    void controlTransfersTakeTheirTime() {
        QFETCH(bool, release);
        QFETCH(qint64, delayNs);
        QFETCH(qint64, timeoutNs);
        QFETCH(int, status);
        QFETCH(qint64, spentNs);
        Fx2Chip chip;
        auto core = std::make_unique<RecordingCore>();
        core->delayNs = delayNs;
        chip.setCore(std::move(core));
        if (release)
            writeCpucs(chip, 0);
        chip.runUntil(123456);
        const int64_t before = chip.nowNs();
        QCOMPARE(before, qint64(123456));
        uint8_t answer = 0;
        const UsbTransferResult r =
            chip.control(UsbSetupPacket{0xC0, 0x00, 0, 0, 1}, &answer, timeoutNs);
        QCOMPARE(int(r.status), status);
        QCOMPARE(chip.nowNs() - before, spentNs);
    }

    void firmwareRunsOnlyWhenRecognised_data() {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<bool>("runs");
        QTest::newRow("registered image") << "download" << true;
        QTest::newRow("one byte differs") << "corrupt" << false;
        QTest::newRow("released without download") << "release" << false;
        QTest::newRow("loaded without holding the running CPU") << "nohold" << false;
        QTest::newRow("held again after running") << "hold" << false;
        QTest::newRow("second download") << "twice" << true;
        QTest::newRow("short last chunk missing") << "short" << false;
    }
    void firmwareRunsOnlyWhenRecognised() {
        QFETCH(QString, scenario);
        QFETCH(bool, runs);
        const QByteArray image = testFirmwareImage();
        Fx2Chip chip;
        chip.setCore(std::make_unique<ReferenceCore>(chip.bus()));
        chip.setAdapterFirmware(image);
        QVERIFY(chip.cpuHeld());
        if (scenario == "download" || scenario == "hold" || scenario == "twice") {
            download(chip, image);
        } else if (scenario == "corrupt") {
            QByteArray bad = image;
            bad[0x2345] = char(bad[0x2345] ^ 1);
            download(chip, bad);
        } else if (scenario == "release") {
            writeCpucs(chip, 0);
        } else if (scenario == "nohold") {
            writeCpucs(chip, 0);
            for (int pos = 0; pos < image.size(); pos += WIRE_FIRMWARE_CHUNK_SIZE)
                load(chip, pos, image.mid(pos, WIRE_FIRMWARE_CHUNK_SIZE));
            writeCpucs(chip, 0);
        } else if (scenario == "short") {
            download(chip, image.left(image.size() - 1));
        }
        if (scenario == "hold")
            writeCpucs(chip, 1);
        if (scenario == "twice")
            download(chip, image);

        QCOMPARE(chip.running(), runs);
        uint8_t answer = 0;
        const UsbTransferResult r = inquire(chip, &answer);
        // Code the reference model does not know answers nothing: the request
        // is NAKed until the host gives up.
        QCOMPARE(r.status, runs ? UsbTransferStatus::Completed : UsbTransferStatus::Cancelled);
        if (runs)
            QCOMPARE(answer, uint8_t(WIRE_INQUIRY_ANSWER));
        QCOMPARE(chip.acceptsOut(0x04), runs);
    }

    void loadRequestReadsBack() {
        const QByteArray image = testFirmwareImage();
        Fx2Chip chip;
        // Nothing may run that could change the RAM it reads back.
        chip.setCore(std::make_unique<ReferenceCore>(chip.bus()));
        download(chip, image);
        QCOMPARE(readMemory(chip, 0x0000, 4096), image.left(4096));
        QCOMPARE(readMemory(chip, 0x3FF0, 16), image.right(16));
        QCOMPARE(hexText(readMemory(chip, WIRE_CPUCS_ADDRESS, 1)), QString("00"));
        writeCpucs(chip, 1);
        QCOMPARE(hexText(readMemory(chip, WIRE_CPUCS_ADDRESS, 1)), QString("01"));
        // Past the RAM nothing is stored; the scratch RAM at 0xE000 is.
        load(chip, 0x4000, hex("AA"));
        QCOMPARE(hexText(readMemory(chip, 0x4000, 1)), QString("00"));
        load(chip, 0xE010, hex("AA BB"));
        QCOMPARE(hexText(readMemory(chip, 0xE010, 2)), QString("AA BB"));
    }

    void powerCycleForgetsTheFirmware() {
        Fx2Chip chip;
        chip.setAdapterFirmware(shippedFirmwareImage());
        chip.bootWithFirmware();
        chip.setAltSetting(1);
        QVERIFY(chip.running());
        chip.powerOn();
        QVERIFY(!chip.running());
        QVERIFY(chip.cpuHeld());
        QCOMPARE(chip.altSetting(), 0);
        QCOMPARE(readMemory(chip, 0, 16), QByteArray(16, '\0'));
    }

    void endpointDataReachesTheCoreOnlyWhenRunning() {
        Fx2Chip chip;
        chip.setCore(std::make_unique<ReferenceCore>(chip.bus()));
        chip.setAdapterFirmware(testFirmwareImage());
        chip.receiveOut(0x04, hex("0A 00 01 00 00 01 00 14"));
        QVERIFY(!chip.hasIn(0x88));
        chip.bootWithFirmware();
        chip.receiveOut(0x04, hex("0A 00 01 00 00 01 00 14 00 01"));
        QVERIFY(chip.hasIn(0x88));
        QCOMPARE(hexText(chip.takeIn(0x88)), QString("00"));
    }

    void standardRequestsAnswered_data() {
        QTest::addColumn<int>("requestType");
        QTest::addColumn<int>("request");
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("answered");
        QTest::newRow("get status") << 0x80 << 0x00 << 0 << true;
        QTest::newRow("get configuration") << 0x80 << 0x08 << 0 << true;
        QTest::newRow("set configuration 1") << 0x00 << 0x09 << 1 << true;
        QTest::newRow("set configuration 2") << 0x00 << 0x09 << 2 << false;
        QTest::newRow("device qualifier") << 0x80 << 0x06 << 0x0600 << true;
        QTest::newRow("unknown descriptor") << 0x80 << 0x06 << 0x2100 << false;
        QTest::newRow("vendor request without firmware") << 0x40 << 0x55 << 0 << false;
    }
    void standardRequestsAnswered() {
        QFETCH(int, requestType);
        QFETCH(int, request);
        QFETCH(int, value);
        QFETCH(bool, answered);
        Fx2Chip chip;
        uint8_t buffer[64] = {};
        const bool in = requestType & 0x80;
        const UsbTransferResult r =
            chip.control(UsbSetupPacket{uint8_t(requestType), uint8_t(request), uint16_t(value), 0,
                                        uint16_t(in ? 64 : 0)},
                         buffer);
        QCOMPARE(r.status == UsbTransferStatus::Completed, answered);
    }
};

int runFx2ChipTests(int argc, char **argv) {
    TestFx2Chip test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_Fx2Chip.moc"
