// Control requests that reach the firmware, compiled for the host and run
// against the fake FX2's control endpoint.

#include "FakeFx2.h"
#include "ScriptedBus.h"

#include "usb_control.h"

#include <QtTest>

class FirmwareControlTest : public QObject {
    Q_OBJECT

private slots:
    void init() { usb_bus_reset(); }
    void requests_data();
    void requests();
    void busResetForgetsHostSettings();
};

void FirmwareControlTest::requests_data() {
    // Setup packets in order; the outcome of the last one is checked.
    QTest::addColumn<QByteArrayList>("setups");
    QTest::addColumn<bool>("stalled");
    QTest::addColumn<QByteArray>("sent");

    auto setup = [](const char *hex) { return QByteArray::fromHex(hex); };
    const QByteArray none;

    QTest::newRow("inquiry answers 01")
        << QByteArrayList{setup("C0 00 0000 0000 0100")} << false << setup("01");
    QTest::newRow("inquiry as host-to-device stalls")
        << QByteArrayList{setup("40 00 0000 0000 0100")} << true << none;
    QTest::newRow("other vendor request stalls")
        << QByteArrayList{setup("C0 01 0000 0000 0100")} << true << none;
    QTest::newRow("class request stalls")
        << QByteArrayList{setup("A1 01 0000 0000 0100")} << true << none;
    QTest::newRow("descriptor request is left to the chip")
        << QByteArrayList{setup("80 06 0001 0000 1200")} << true << none;
    QTest::newRow("device status")
        << QByteArrayList{setup("80 00 0000 0000 0200")} << false << setup("00 00");
    QTest::newRow("device status with remote wake-up")
        << QByteArrayList{setup("00 03 0100 0000 0000"), setup("80 00 0000 0000 0200")} << false
        << setup("02 00");
    QTest::newRow("remote wake-up cleared again")
        << QByteArrayList{setup("00 03 0100 0000 0000"), setup("00 01 0100 0000 0000"),
                          setup("80 00 0000 0000 0200")}
        << false << setup("00 00");
    QTest::newRow("status cut to the host's length")
        << QByteArrayList{setup("80 00 0000 0000 0100")} << false << setup("00");
    QTest::newRow("halted EP8 IN")
        << QByteArrayList{setup("02 03 0000 8800 0000"), setup("82 00 0000 8800 0200")} << false
        << setup("01 00");
    QTest::newRow("halt cleared on EP4 OUT")
        << QByteArrayList{setup("02 03 0000 0400 0000"), setup("02 01 0000 0400 0000"),
                          setup("82 00 0000 0400 0200")}
        << false << setup("00 00");
    QTest::newRow("status of a missing endpoint stalls")
        << QByteArrayList{setup("82 00 0000 8300 0200")} << true << none;
    QTest::newRow("halting EP0 by request stalls")
        << QByteArrayList{setup("02 03 0000 0000 0000")} << true << none;
    QTest::newRow("configuration kept")
        << QByteArrayList{setup("00 09 0100 0000 0000"), setup("80 08 0000 0000 0100")} << false
        << setup("01");
    QTest::newRow("alternate setting kept")
        << QByteArrayList{setup("01 0B 0100 0000 0000"), setup("81 0A 0000 0000 0100")} << false
        << setup("01");
}

void FirmwareControlTest::requests() {
    QFETCH(QByteArrayList, setups);
    QFETCH(bool, stalled);
    QFETCH(QByteArray, sent);

    ScriptedBus bus;
    FakeFx2 chip(bus);
    for (const QByteArray &packet : setups) {
        chip.clearEp0Outcome();
        chip.setSetupPacket(packet);
        usb_handle_setup();
        QVERIFY2(chip.ep0Handshake(),
                 "every control transfer must be let through its status stage");
    }
    QCOMPARE(chip.ep0Stalled(), stalled);
    QCOMPARE(chip.ep0Sent().toHex(' '), sent.toHex(' '));
}

void FirmwareControlTest::busResetForgetsHostSettings() {
    ScriptedBus bus;
    FakeFx2 chip(bus);
    chip.setSetupPacket(QByteArray::fromHex("00 03 0100 0000 0000"));
    usb_handle_setup();
    QVERIFY(usb_remote_wakeup_enabled());
    chip.setSetupPacket(QByteArray::fromHex("00 09 0100 0000 0000"));
    usb_handle_setup();
    usb_bus_reset();
    QVERIFY(!usb_remote_wakeup_enabled());
    chip.setSetupPacket(QByteArray::fromHex("80 08 0000 0000 0100"));
    usb_handle_setup();
    QCOMPARE(chip.ep0Sent().toHex(), QByteArray("00"));
}

QTEST_GUILESS_MAIN(FirmwareControlTest)
#include "tst_firmware_control.moc"
