#ifndef BRANTLE_SIM_MCS51_MCS51CORE_H
#define BRANTLE_SIM_MCS51_MCS51CORE_H

#include <cstdint>

// An 8051 core with the EZ-USB FX2's timing: four clocks per instruction
// cycle and the FX2's cycle count per instruction (MOVX: 2 cycles plus
// CKCON's stretch; the hardware call into an interrupt: 4, as LCALL). The
// core holds the internal RAM, the 8051 SFRs and the FX2's additions to them
// (second data pointer, MPAGE, EXIF, EICON, EIE, EIP), the timers and the
// interrupt logic. Everything else the program reaches (the chip's registers
// in the external data space, the SFRs of ports, auto-pointers and
// endpoints) lies behind a Bus.
namespace mcs51 {

class Bus {
public:
    virtual ~Bus() = default;
    // MOVX to an address whose page is not mapped to memory.
    virtual uint8_t readXdata(uint16_t address) = 0;
    virtual void writeXdata(uint16_t address, uint8_t value) = 0;
    // SFRs claimed with Core::claimSfr. A read-modify-write instruction
    // (ANL, ORL, XRL, INC, DEC, DJNZ, CPL/CLR/SETB/MOV of a bit, and JBC when
    // the bit is set) reads the register and then writes it back.
    virtual uint8_t readSfr(uint8_t address) = 0;
    virtual void writeSfr(uint8_t address, uint8_t value) = 0;
};

// The interrupt sources in the FX2's natural priority order (highest
// first); the value is the index into that order.
enum class Interrupt : uint8_t {
    Resume,  // 0x33, EICON.4 (RESI), enabled by EICON.5 (ERESI); always the highest level
    Int0,    // 0x03, TCON.1
    Timer0,  // 0x0B, TCON.5
    Int1,    // 0x13, TCON.3
    Timer1,  // 0x1B, TCON.7
    Serial0, // 0x23, SCON0.0 / SCON0.1
    Timer2,  // 0x2B, T2CON.7 / T2CON.6
    Serial1, // 0x3B, SCON1.0 / SCON1.1
    Usb,     // INT2 at 0x43, EXIF.4, enabled by EIE.0
    I2c,     // INT3 at 0x4B, EXIF.5, EIE.1
    Int4,    // 0x53, EXIF.6, EIE.2
    Int5,    // 0x5B, EXIF.7, EIE.3
    Int6,    // 0x63, EICON.3, EIE.4
};
constexpr uint16_t interruptVector(Interrupt source) {
    constexpr uint16_t vectors[] = {0x33, 0x03, 0x0B, 0x13, 0x1B, 0x23, 0x2B,
                                    0x3B, 0x43, 0x4B, 0x53, 0x5B, 0x63};
    return vectors[uint8_t(source)];
}

enum class Fault {
    None,
    UndefinedOpcode, // 0xA5
    CodeOutOfRange,  // an instruction fetched beyond the code memory
};

struct CoreState;

// Everything that decides what the core does from a point in an instruction
// on, short of time and of what lies behind the Bus: the internal RAM, the
// SFRs (the timers' counts aside), the instruction executing and the
// interrupt levels in service, with a count of the effects a comparison of
// those cannot see (writes to external data, the SFR writes handed to the
// Bus, reads of a timer's count, changes to a timer's set-up or the code).
struct StateMark {
    uint8_t iram[256];
    uint8_t sfrs[128];
    uint16_t pc;
    uint16_t instructionPc;
    uint8_t inService;
    bool irqBlocked;
    bool idle;
    uint64_t effects;
    uint64_t clocks;
    uint64_t instructions;
};

class Core {
public:
    explicit Core(Bus &bus);
    ~Core();
    Core(const Core &) = delete;
    Core &operator=(const Core &) = delete;

    // Code space: instructions are fetched from [0, size); a fetch beyond is
    // a fault. On the FX2 code and data share one RAM, so this is usually the
    // memory that also backs xdata pages 0x00..0x3F.
    void setCodeMemory(const uint8_t *memory, uint32_t size);
    // MOVX to page `page` (address bits 15..8) goes straight to these 256
    // bytes; null hands the page back to the Bus.
    void mapXdataPage(uint8_t page, uint8_t *memory);
    // Code fetches of `address` see `value` instead of memory (the FX2's
    // autovectoring substitutes the low address byte of the jumps at 0x43
    // and 0x53); a negative value removes the substitution. Costs nothing on
    // fetches of other addresses.
    void setCodeOverlay(uint16_t address, int value);
    // Reads and writes of this SFR go to the Bus instead of the core.
    void claimSfr(uint8_t address);

    // The state after a reset of the CPU: PC 0, SP 7, SFRs at their reset
    // values, internal RAM kept. clocks() and instructions() start again at 0.
    void reset();

    // Executes instructions until clocks() >= clockLimit, a fault, or a call
    // of stop() from a Bus callback (the current instruction completes
    // first). In idle mode (PCON.0) the clock runs on to the limit or to the
    // next interrupt, with the timers counting.
    void run(uint64_t clockLimit);
    // One instruction, or the entry into an interrupt; in idle mode the
    // clock advances to the next event or by one instruction cycle.
    void step();
    void stop();

    // CLKOUT cycles since reset. During a Bus callback: the cycles up to the
    // end of the instruction being executed.
    uint64_t clocks() const;
    uint64_t instructions() const;
    Fault fault() const;
    uint16_t faultPc() const;
    bool idle() const;

    uint16_t pc() const;
    void setPc(uint16_t pc);
    uint8_t iram(uint8_t address) const;
    void setIram(uint8_t address, uint8_t value);
    // The core's own SFRs (not the claimed ones), without side effects.
    // setSfr is how peripherals raise interrupt requests: e.g. EXIF bit 4
    // for the USB interrupt (INT2), EICON bit 4 for resume.
    uint8_t sfr(uint8_t address) const;
    void setSfr(uint8_t address, uint8_t value);
    // Sets the request flag of `source` (what the peripheral's hardware does);
    // the firmware clears the flags of the FX2's own sources itself.
    void raiseInterrupt(Interrupt source);

    // A loop that polls the Bus: mark the state at a read, and when the core
    // reaches the same state at a later read, every turn from there on is the
    // same turn again for as long as the Bus answers the same and no timer
    // sets a flag (nextTimerEvent). skipAhead then moves the clock and the
    // instruction count on by whole turns as if they had run; the timers
    // count through them. Both are meant for Bus callbacks.
    void mark(StateMark &mark) const;
    bool sameState(const StateMark &mark) const;
    void skipAhead(uint64_t clocks, uint64_t instructions);
    // The first clock at which a running timer sets an overflow flag that is
    // clear now.
    uint64_t nextTimerEvent() const;

    // Reads and writes of SFR addresses that neither the core implements nor
    // a claim covers: how many there were since construction (reset() keeps
    // the count) and the address of the last one. Such a register reads back
    // what was last written to it (0 after reset).
    uint64_t unknownSfrAccesses() const;
    uint8_t lastUnknownSfr() const;

private:
    CoreState *s_;
};

} // namespace mcs51

#endif
