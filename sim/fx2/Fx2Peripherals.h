#ifndef BRANTLE_SIM_FX2_FX2PERIPHERALS_H
#define BRANTLE_SIM_FX2_FX2PERIPHERALS_H

#include "CpuClock.h"
#include "Fx2Cpu.h"
#include "Fx2Endpoints.h"
#include "I2cController.h"
#include "UsbStack.h"
#include "mcs51/Mcs51Core.h"

#include <QByteArray>

#include <array>
#include <cstdint>
#include <vector>

class I2cBus;

// Everything of the EZ-USB FX2 around its 8051 that the firmware reaches
// through registers: CPUCS and the clock, the endpoint buffers and their
// registers, endpoint zero with the setup data, the USB interrupt with its
// autovector, the auto-pointers, the ports, the I2C controller and the USB
// control registers. It is the core's Bus: the core hands it every access to
// the register page, the endpoint buffers, and the SFRs it claims.
//
// The host's side comes in through the USB functions below; the chip model
// calls them between runs of the core. Time is the CPU's cycle count,
// converted by the clock that CPUCS sets.
//
// An access to an address the model does not implement is recorded (reads
// answer 0xFF), so tests can insist that none happened.
class Fx2Peripherals : public mcs51::Bus {
public:
    struct UnknownAccess {
        uint16_t address = 0;
        bool sfr = false;
        bool write = false;
        uint8_t value = 0;
        uint16_t pc = 0;
    };
    enum class ControlOutcome { Pending, Answered, Stalled };
    static constexpr int UnknownAccessesKept = 64;
    static constexpr uint8_t RevisionId = 0x04;

    // `ram`: the 16 KiB of code and data; `scratch`: the 512 bytes at 0xE000.
    Fx2Peripherals(I2cBus &bus, uint8_t *ram, uint8_t *scratch);

    void attach(Fx2Cpu &cpu) { cpu_ = &cpu; }
    // The SFRs the core must hand to this Bus: ours, and every address that
    // neither the core nor the chip implements (so that its use is seen).
    static std::vector<uint8_t> claimedSfrs();
    static bool coreSfr(uint8_t address);

    // Power-on state of every register, the endpoints and the I2C controller.
    void powerOn(bool highSpeed);
    void setHighSpeed(bool highSpeed) { highSpeed_ = highSpeed; }
    // The CPU leaves reset at chip time `nowNs`, its cycle count at 0; the
    // endpoint buffers start again.
    void cpuStarted(int64_t nowNs);
    int64_t nowNs() const;
    const CpuClock &clock() const { return clock_; }

    // mcs51::Bus
    uint8_t readXdata(uint16_t address) override;
    void writeXdata(uint16_t address, uint8_t value) override;
    uint8_t readSfr(uint8_t address) override;
    void writeSfr(uint8_t address, uint8_t value) override;

    // Completes what is due by now (I2C bytes, start-of-frame) and raises
    // the interrupt requests that go with it.
    void sync();
    // The next time something happens without the CPU doing anything;
    // INT64_MAX when nothing will.
    int64_t nextEventNs() const;
    // Changes whenever the peripherals' state changes or the firmware reads
    // something whose value depends on time other than through the events
    // nextEventNs tells: until the next event, a register read twice with no
    // new version between reads the same.
    uint64_t stateVersion() const { return version_; }
    // Appends every byte of state the CPU can reach here besides the
    // registers (which stateVersion covers): the endpoint buffers.
    void appendBufferState(std::vector<uint8_t> &state) const;
    // True once after something the host can see has changed.
    bool takeHostChange();
    // SUSPEND was written on a suspended bus: when the CPU idles (PCON.0)
    // the oscillator stops, timers included, until the bus resumes.
    bool cpuSuspended() const { return suspended_; }

    // USB, host side.
    void setupToken();
    void setupPacket(const UsbSetupPacket &setup, const QByteArray &outData);
    ControlOutcome controlOutcome(QByteArray *inData) const;
    bool renumerated() const;
    bool acceptsOut(uint8_t endpointAddress) const;
    void receiveOut(uint8_t endpointAddress, const QByteArray &packet);
    bool hasIn(uint8_t endpointAddress) const;
    QByteArray takeIn(uint8_t endpointAddress);
    bool endpointStalled(uint8_t endpointAddress) const;
    // CLEAR_FEATURE(ENDPOINT_HALT) and SET_INTERFACE as the chip serves them:
    // the halt ends and the data toggle starts again at DATA0.
    void clearHalt(uint8_t endpointAddress);
    void setHalt(uint8_t endpointAddress);
    void resetToggles();
    void setUsbAddress(uint8_t address) { address_ = address; }
    void busReset();
    void busSuspend();
    void busResume();
    // A wake-up pin (0: WAKEUP, 1: PA3/WU2) goes active.
    void wakeUpPin(int pin);

    // Port A as seen from outside: levels driven onto the pins that are
    // inputs, and the pins' levels.
    void setPortAInputs(uint8_t levels) { portInputs_[0] = levels; }
    uint8_t portAPins() const { return portPins(0); }
    uint8_t portAOutputEnable() const { return portOe_[0]; }

    const std::vector<UnknownAccess> &unknownAccesses() const { return unknown_; }
    int unknownAccessCount() const { return unknownCount_; }
    const I2cController &i2c() const { return i2c_; }
    BulkEndpoint &endpoint(int number);
    int autoPointerDisabledAccesses() const { return autoPointerOff_; }

private:
    uint8_t readRegister(uint16_t address);
    void writeRegister(uint16_t address, uint8_t value);
    uint8_t readMemory(uint16_t address);
    void writeMemory(uint16_t address, uint8_t value);
    uint8_t autoData(int pointer, bool write, uint8_t value);
    void recordUnknown(uint16_t address, bool sfr, bool write, uint8_t value);
    uint8_t portPins(int port) const;

    BulkEndpoint *bulk(uint8_t endpointAddress);
    const BulkEndpoint *bulk(uint8_t endpointAddress) const;
    uint8_t endpointStatus() const;
    uint8_t endpointCs(const BulkEndpoint &ep) const;

    void ep0ByteCountWritten();
    void ep0Descriptor(uint16_t address);
    void checkControlDone();

    void raiseUsb(uint8_t bits);
    void raiseEndpoint(uint8_t bits);
    void updateInterrupts(bool raise);
    int int2Source() const;
    void setCpuSfrBits(uint8_t address, uint8_t bits);
    void hostVisible();
    void resume();
    void setSofPending();

    uint8_t *ram_;
    uint8_t *scratch_;
    Fx2Cpu *cpu_ = nullptr;
    CpuClock clock_;
    I2cController i2c_;
    std::array<BulkEndpoint, 4> eps_{BulkEndpoint(2), BulkEndpoint(4), BulkEndpoint(6),
                                     BulkEndpoint(8)};
    uint64_t version_ = 0;
    bool highSpeed_ = true;
    bool hostChange_ = false;

    uint8_t cpucs_ = 0;
    std::array<uint8_t, 0x100> plain_{}; // simple read/write registers of page 0xE6
    uint8_t usbirq_ = 0;
    uint8_t epirq_ = 0;
    int lastSource_ = -1; // the byte last substituted at 0x45 (-1: none)
    int lastAv4_ = -1;
    bool sofEnabled_ = false;
    int64_t nextSofNs_ = 0;

    // Endpoint zero.
    UsbSetupPacket setup_;
    std::array<uint8_t, 8> setupData_{};
    std::array<uint8_t, 64> ep0Buffer_{};
    bool ep0Active_ = false;
    bool ep0DataDone_ = false;
    bool hsnak_ = false;
    bool ep0Stall_ = false;
    uint8_t ep0Bch_ = 0;
    uint8_t ep0Bcl_ = 0;
    QByteArray ep0Out_;
    int ep0OutPos_ = 0;
    QByteArray ep0In_;
    uint8_t sudptrh_ = 0;
    uint8_t sudptrl_ = 0;
    uint8_t sudptrctl_ = 0;
    bool ep0Toggle_ = false;

    // Endpoint one.
    std::array<uint8_t, 64> ep1OutBuffer_{};
    std::array<uint8_t, 64> ep1InBuffer_{};
    bool ep1OutArmed_ = false;
    uint8_t ep1OutCount_ = 0;
    bool ep1InBusy_ = false;
    uint8_t ep1InCount_ = 0;
    bool ep1OutStall_ = false;
    bool ep1InStall_ = false;
    std::array<bool, 2> ep1Toggle_{};

    // USB control.
    uint8_t usbcs_ = 0;
    uint8_t wakeupcs_ = 0;
    uint8_t togctl_ = 0;
    uint8_t address_ = 0;
    bool busSuspended_ = false;
    bool suspended_ = false;

    // Auto-pointers and ports.
    std::array<uint16_t, 2> autoPointer_{};
    uint8_t autoPointerSetup_ = 0;
    int autoPointerOff_ = 0;
    std::array<uint8_t, 5> portLatch_{};
    std::array<uint8_t, 5> portOe_{};
    std::array<uint8_t, 5> portInputs_{};

    std::vector<UnknownAccess> unknown_;
    int unknownCount_ = 0;
};

#endif
