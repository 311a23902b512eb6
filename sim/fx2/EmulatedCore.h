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
//
// Polling with an event ahead (the I2C controller's next byte or STOP) is
// skipped too: when the CPU reads a register and, at the next read by the
// same instruction with the register and the peripherals unchanged, its own
// state (internal RAM, SFRs, the instruction, with no write to external data
// between) is what it was, the turn from one read to the other repeats until
// the peripherals' next event, the next timer flag or the end of the run.
// The clock and the instruction count move on by all the whole turns that
// end before then, as if they had run; the rest runs instruction by
// instruction, so the firmware sees every event at the very cycle it would.
class EmulatedCore : public Fx2Core, private mcs51::Bus, private Fx2Cpu {
public:
    struct Statistics {
        uint64_t instructions = 0;  // executed since power-on
        uint64_t clocks = 0;        // CLKOUT cycles since the CPU last left reset
        uint64_t skippedClocks = 0; // fast-forwarded
        int fastForwards = 0;
        // Polling turns skipped, counted in `instructions` as executed.
        uint64_t skippedPollInstructions = 0;
        uint64_t skippedPollClocks = 0;
        int pollSkips = 0;
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
    // Skipping the turns of a polling loop on (the default) or off, likewise.
    void setSkipPolling(bool enabled) {
        skipPolling_ = enabled;
        pollMarked_ = false;
    }

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
    void pollRead(uint16_t address, bool sfr, uint8_t value);
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

    // The watch for a polling loop: the state at the last read that may
    // start a turn.
    bool skipPolling_ = true;
    uint64_t runLimit_ = 0; // the run's end, in the core's clocks
    uint64_t lastReadVersion_ = 0;
    bool pollMarked_ = false;
    uint16_t pollAddress_ = 0;
    bool pollSfr_ = false;
    uint8_t pollValue_ = 0;
    uint64_t pollVersion_ = 0;
    int64_t pollEventNs_ = 0; // the peripherals' next event, as at the mark
    int64_t lastTurnNs_ = 0;  // of the last loop found
    int pollReadsSinceMark_ = 0;
    int pollMisses_ = 0;  // marks in a row that did not come back
    int pollBackOff_ = 0; // reads to let pass before the next mark
    mcs51::StateMark pollMark_{};
};

#endif
