#ifndef BRANTLE_SIM_FX2CHIP_H
#define BRANTLE_SIM_FX2CHIP_H

#include "Fx2Core.h"
#include "I2cBus.h"
#include "UsbStack.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>

class ReferenceCore;

// The USB side of an EZ-USB FX2 without firmware of its own: the chip's
// default identity and descriptors, the built-in load request 0xA0 that
// reads and writes RAM and CPUCS, and the standard requests. Whatever runs on
// the 8051 is a pluggable core. It runs only when the RAM holds the image
// registered as the adapter firmware and the CPU was released after it was
// loaded; anything else counts as unknown code, which answers nothing.
class Fx2Chip {
public:
    static constexpr uint16_t DefaultVendorId = 0x04B4;
    static constexpr uint16_t DefaultProductId = 0x8613;
    static constexpr int RamSize = 16384;
    static constexpr int AltSettingCount = 8;
    static constexpr int EndpointCount = 6;

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
    // The core that runs when the firmware is recognised (the reference core
    // unless replaced).
    Fx2Core &core() { return *core_; }
    void setCore(std::unique_ptr<Fx2Core> core);
    // The reference core when that is what the chip runs (port A levels,
    // status), else null.
    ReferenceCore *referenceCore();

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
    // alternate setting 0.
    void powerOn();
    // Loads the registered firmware and releases the CPU, as if a host had
    // downloaded it earlier.
    void bootWithFirmware();

    // Endpoint 0. `data` holds wLength bytes (OUT) or receives up to wLength
    // bytes (IN).
    UsbTransferResult control(const UsbSetupPacket &setup, uint8_t *data);

    int altSetting() const { return altSetting_; }
    bool setAltSetting(int alternateSetting);
    // The endpoint as the current alternate setting describes it.
    Endpoint endpoint(uint8_t address) const;
    Endpoint endpointOf(int alternateSetting, int index) const;

    bool cpuHeld() const { return cpuHeld_; }
    bool running() const { return running_; }
    const QByteArray &ram() const { return ram_; }

    // Endpoint data, as the host controller exchanges it packet by packet.
    bool acceptsOut(uint8_t endpointAddress) const;
    void receiveOut(uint8_t endpointAddress, const QByteArray &packet);
    bool hasIn(uint8_t endpointAddress) const;
    QByteArray takeIn(uint8_t endpointAddress);

    QByteArray deviceDescriptor() const;
    QByteArray configurationDescriptor(bool otherSpeed = false) const;
    QByteArray stringDescriptor(int index) const;

private:
    bool standardRequest(const UsbSetupPacket &setup, QByteArray &answer,
                         const QByteArray &outData);
    bool loadRequest(const UsbSetupPacket &setup, QByteArray &answer, const QByteArray &outData);
    void writeCpucs(uint8_t value);

    I2cBus bus_;
    std::unique_ptr<Fx2Core> core_;
    QByteArray firmware_;
    QByteArray ram_;
    QByteArray scratch_; // the 512 bytes at 0xE000
    bool highSpeed_ = true;
    bool cpuHeld_ = true;
    bool running_ = false;
    int altSetting_ = 0;
    int configuration_ = 1;
    int describedEndpoints_ = EndpointCount;
    QString productName_;
    QString manufacturerName_;
};

#endif
