#ifndef BRANTLE_SIM_FX2CHIP_H
#define BRANTLE_SIM_FX2CHIP_H

#include "Fx2Core.h"
#include "I2cBus.h"
#include "UsbStack.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

class EmulatedCore;

// An EZ-USB FX2 on the bus: its USB core with the chip's default identity
// and descriptors, the built-in load request 0xA0 that reads and writes RAM
// and CPUCS, the standard requests, and behind it what runs once the host
// releases the CPU (the emulated 8051 with the FX2's peripherals, or a core
// a test sets).
//
// Which requests reach the firmware: the chip's reference tells, in its
// chapter on enumeration and ReNumeration, that with USBCS.RENUM = 0 (as at
// power-on) the default USB device in the chip's core handles the device
// requests, and that the firmware load request 0xA0 is the core's at all
// times; with RENUM = 1 the core passes every request except SET_ADDRESS
// (and 0xA0) to the firmware through the SUDAV interrupt. Here that means:
// under RENUM = 0 the chip answers the standard requests (descriptors,
// status, features, configuration, interface) itself, and every vendor or
// class request other than 0xA0 goes to the firmware (SETUPDAT, SUDAV, the
// answer in EP0BUF, the handshake through HSNAK). While the CPU is held in
// reset nobody answers those: the chip NAKs them until the host gives up.
//
// The chip has a clock of its own (nowNs); runUntil moves it forward, running
// the CPU if it is released.
class Fx2Chip {
public:
    static constexpr uint16_t DefaultVendorId = 0x04B4;
    static constexpr uint16_t DefaultProductId = 0x8613;
    static constexpr int RamSize = 16384;
    static constexpr int ScratchSize = 512;
    static constexpr int AltSettingCount = 8;
    static constexpr int EndpointCount = 6;
    static constexpr int64_t DefaultControlTimeoutNs = 10'000'000'000;

    enum EndpointType { Control = 0, Isochronous = 1, Bulk = 2, Interrupt = 3 };
    struct Endpoint {
        uint8_t address = 0;
        EndpointType type = Bulk;
        int maxPacket = 0; // 0: not usable on this setting
    };

    Fx2Chip();
    ~Fx2Chip();

    // The adapter board's I2C bus; attach slaves here.
    I2cBus &bus() { return bus_; }
    // What runs once the CPU is released.
    Fx2Core &core() { return *core_; }
    void setCore(std::unique_ptr<Fx2Core> core);
    // The emulated 8051 with the FX2's peripherals, executing the RAM.
    void useEmulatedCore();
    // The emulated CPU with the FX2's peripherals when that is what runs (as
    // by default), else null.
    EmulatedCore *emulatedCore();

    // The image bootWithFirmware loads, and the one a core that models the
    // firmware (see Fx2Core::modelsFirmware) stands for.
    void setAdapterFirmware(const QByteArray &image) { firmware_ = image; }
    const QByteArray &adapterFirmware() const { return firmware_; }

    // Set before plugging; a chip enumerates at full speed on a 1.1 port.
    void setHighSpeed(bool highSpeed) { highSpeed_ = highSpeed; }
    bool highSpeed() const { return highSpeed_; }
    void setProductName(const QString &name) { productName_ = name; }
    // Describe only the first `count` endpoints of each alternate setting, as
    // a board with a cut-down descriptor set would.
    void setDescribedEndpointCount(int count) {
        describedEndpoints_ = qBound(0, count, int(EndpointCount));
    }
    QString productName() const { return productName_; }
    QString manufacturerName() const { return manufacturerName_; }
    uint16_t vendorId() const { return DefaultVendorId; }
    uint16_t productId() const { return DefaultProductId; }

    // Power: a fresh chip holds its CPU in reset with RAM cleared and
    // alternate setting 0. Its clock runs on.
    void powerOn();
    // Loads the registered firmware and releases the CPU, as if a host had
    // downloaded it earlier: the chip's clock moves on by StartUpNs, so that
    // the firmware has set itself up.
    void bootWithFirmware();
    static constexpr int64_t StartUpNs = 2'000'000;

    int64_t nowNs() const;
    // Runs the chip until its clock reaches `ns`; with `done`, stops as soon
    // as that is true (it is asked whenever something the host can see has
    // changed). Returns whether `done` became true.
    bool runUntil(int64_t ns, const std::function<bool()> &done = {});

    // Endpoint 0 in steps: the SETUP with its OUT data stage (`data` holds
    // wLength bytes), then, once controlPending() is false, the outcome, with
    // the IN data stage copied to `data` (up to wLength bytes).
    void beginControl(const UsbSetupPacket &setup, const uint8_t *data);
    bool controlPending();
    UsbTransferResult controlResult(uint8_t *data) const;
    // The whole control transfer, running the chip up to `timeoutNs` for the
    // answer; one that does not come is Cancelled, as by a host's time-out.
    UsbTransferResult control(const UsbSetupPacket &setup, uint8_t *data,
                              int64_t timeoutNs = DefaultControlTimeoutNs);

    int altSetting() const { return altSetting_; }
    bool setAltSetting(int alternateSetting);
    // The endpoint as the current alternate setting describes it.
    Endpoint endpoint(uint8_t address) const;
    Endpoint endpointOf(int alternateSetting, int index) const;

    bool cpuHeld() const { return cpuHeld_; }
    // The CPU is released and what runs behind it is at work.
    bool running() const { return running_; }
    QByteArray ram() const;

    // Endpoint data, as the host controller exchanges it packet by packet.
    bool acceptsOut(uint8_t endpointAddress) const;
    void receiveOut(uint8_t endpointAddress, const QByteArray &packet);
    bool hasIn(uint8_t endpointAddress) const;
    QByteArray takeIn(uint8_t endpointAddress);
    bool endpointHalted(uint8_t endpointAddress) const;

    // The USB bus as the host drives it.
    void busReset();
    void busSuspend();
    void busResume();

    // Port A as seen from outside the chip.
    void setPortAInputs(uint8_t levels);
    uint8_t portAPins() const;

    QByteArray deviceDescriptor() const;
    QByteArray configurationDescriptor(bool otherSpeed = false) const;
    QByteArray stringDescriptor(int index) const;

private:
    struct ControlState {
        UsbSetupPacket setup;
        bool pending = false;
        UsbTransferResult result;
        QByteArray answer;
    };

    bool standardRequest(const UsbSetupPacket &setup, QByteArray &answer);
    bool loadRequest(const UsbSetupPacket &setup, QByteArray &answer, const QByteArray &outData);
    void finishControl(bool ok, const QByteArray &answer);
    void writeCpucs(uint8_t value);
    bool recognised() const;

    I2cBus bus_;
    std::array<uint8_t, RamSize> ram_{};
    std::array<uint8_t, ScratchSize> scratch_{}; // the 512 bytes at 0xE000
    std::unique_ptr<Fx2Core> core_;
    QByteArray firmware_;
    bool highSpeed_ = true;
    bool cpuHeld_ = true;
    bool running_ = false;
    int64_t heldNs_ = 0; // the clock while nothing runs
    int altSetting_ = 0;
    int configuration_ = 1;
    int describedEndpoints_ = EndpointCount;
    ControlState control_;
    QString productName_;
    QString manufacturerName_;
};

#endif
