#ifndef BRANTLE_SIM_FX2_EMULATEDCORE_H
#define BRANTLE_SIM_FX2_EMULATEDCORE_H

#include "Fx2Core.h"
#include "Fx2Cpu.h"
#include "Fx2Peripherals.h"
#include "mcs51/Mcs51Core.h"

#include <cstdint>
#include <vector>

class I2cBus;

// The FX2 as it runs firmware: the 8051 core executing the chip's RAM, with
// the peripherals around it. Whatever the RAM holds runs: a wrong image
// misbehaves here as it would on the chip.
//
// Time is the core's cycle count at the clock CPUCS selects. Long quiet
// stretches are fast-forwarded: when the CPU keeps polling the peripherals
// and its whole state (internal RAM, SFRs, code and data RAM, endpoint
// buffers, peripheral state, timer phase) comes back exactly as it was one
// or more loop turns earlier, with no peripheral event ahead, then it will
// keep doing so until the host does something; the clock then jumps by whole
// periods of that loop. Nothing the firmware can observe differs from
// running every cycle. Loops that observe time (a timer, a byte on the bus,
// the frame counter) never repeat their state and are run cycle by cycle.
class EmulatedCore : public Fx2Core, private mcs51::Bus, private Fx2Cpu {
public:
    struct Statistics {
        uint64_t instructions = 0;  // executed since power-on
        uint64_t skippedClocks = 0; // fast-forwarded
        int fastForwards = 0;
    };

    EmulatedCore(I2cBus &bus, uint8_t *ram, uint8_t *scratch);
    ~EmulatedCore() override;

    // Fx2Core
    void powerOn(bool highSpeed) override;
    void startUp(bool highSpeed) override;
    void hold() override;
    int64_t nowNs() const override;
    void runUntil(int64_t ns) override;
    ControlOutcome beginControl(const UsbSetupPacket &setup, QByteArray &data) override;
    ControlOutcome controlOutcome(QByteArray &data) override;
    void setupToken() override;
    bool renumerated() const override;
    void usbEvent(UsbEvent event) override;
    bool acceptsOut(uint8_t endpointAddress) const override;
    void receiveOut(uint8_t endpointAddress, const QByteArray &packet) override;
    bool hasIn(uint8_t endpointAddress) const override;
    QByteArray takeIn(uint8_t endpointAddress) override;
    bool endpointHalted(uint8_t endpointAddress) const override;
    void setEndpointHalt(uint8_t endpointAddress, bool halted) override;
    void resetToggles() override;
    void setPortAInputs(uint8_t levels) override;
    uint8_t portAPins() const override;

    Fx2Peripherals &peripherals() { return peripherals_; }
    const Fx2Peripherals &peripherals() const { return peripherals_; }
    mcs51::Core &cpu() { return core_; }
    // The CPU stopped on an undefined opcode or a fetch outside the RAM.
    mcs51::Fault fault() const { return core_.fault(); }
    uint16_t faultPc() const { return core_.faultPc(); }
    Statistics statistics() const;
    // Fast-forwarding on (the default) or off, to check that it changes
    // nothing.
    void setFastForward(bool enabled) { fastForward_ = enabled; }

private:
    // mcs51::Bus: everything goes to the peripherals; reads also feed the
    // watch for a repeating state.
    uint8_t readXdata(uint16_t address) override;
    void writeXdata(uint16_t address, uint8_t value) override;
    uint8_t readSfr(uint8_t address) override;
    void writeSfr(uint8_t address, uint8_t value) override;
    // Fx2Cpu
    uint64_t clocks() const override;
    uint16_t pc() const override;
    uint8_t sfr(uint8_t address) const override;
    void setSfr(uint8_t address, uint8_t value) override;
    void setCodeOverlay(uint16_t address, int value) override;
    void stop() override;

    void jumpTo(int64_t ns);
    void watchRead();
    void snapshot(std::vector<uint8_t> &into) const;
    uint64_t quickHash() const;

    I2cBus &bus_;
    uint8_t *ram_;
    uint8_t *scratch_;
    Fx2Peripherals peripherals_;
    mcs51::Core core_;
    bool running_ = false;
    bool inRun_ = false;
    uint64_t skipped_ = 0; // clocks passed without the core executing them
    uint64_t instructionsBefore_ = 0;
    Statistics stats_;

    // The watch for a repeating state.
    bool fastForward_ = true;
    int64_t runTargetNs_ = 0;
    uint64_t lastVersion_ = 0;
    uint64_t quietSince_ = 0;  // clocks at the last peripheral change
    uint64_t quietNeeded_ = 0; // before a watch starts
    bool watching_ = false;
    uint16_t watchPc_ = 0;
    uint64_t watchClocks_ = 0;
    uint64_t watchHash_ = 0;
    std::vector<uint8_t> watchState_;
    std::vector<uint8_t> compareState_;
    uint64_t skipPeriod_ = 0; // found: the loop's period in clocks
};

#endif
