#ifndef BRANTLE_SIM_FX2_FX2CPU_H
#define BRANTLE_SIM_FX2_FX2CPU_H

#include <cstdint>

// What the FX2's peripherals need of the 8051 beside them: its cycle count
// (their sense of time), the interrupt flags that live in the core's own
// SFRs and the autovector substitution. The emulated chip passes its core;
// tests of the peripherals pass a stand-in.
class Fx2Cpu {
public:
    virtual ~Fx2Cpu() = default;
    // CLKOUT cycles since the CPU left reset; during a register access the
    // cycles up to the end of the accessing instruction.
    virtual uint64_t clocks() const = 0;
    virtual uint16_t pc() const = 0;
    virtual uint8_t sfr(uint8_t address) const = 0;
    virtual void setSfr(uint8_t address, uint8_t value) = 0;
    virtual void setCodeOverlay(uint16_t address, int value) = 0;
    // Ends the current run after this instruction: something the host can
    // see has changed.
    virtual void stop() = 0;
};

#endif
