#ifndef BRANTLE_SIM_MCS51_MCS51CORE_H
#define BRANTLE_SIM_MCS51_MCS51CORE_H

#include <cstdint>

// An 8051 core with the EZ-USB FX2's timing: four clocks per instruction
// cycle and the FX2's cycle count per instruction. The core holds the
// internal RAM, the 8051 SFRs and the FX2's additions to them (second data
// pointer, MPAGE, EXIF, EICON, EIE, EIP), the timers and the interrupt
// logic. Everything else the program reaches (the chip's registers in the
// external data space, the SFRs of ports, auto-pointers and endpoints) lies
// behind a Bus.
namespace mcs51 {

class Bus {
public:
    virtual ~Bus() = default;
    // MOVX to an address whose page is not mapped to memory.
    virtual uint8_t readXdata(uint16_t address) = 0;
    virtual void writeXdata(uint16_t address, uint8_t value) = 0;
    // SFRs claimed with Core::claimSfr. A read-modify-write instruction
    // (ANL, ORL, XRL, INC, DEC, DJNZ, CPL/CLR/SETB/MOV of a bit, JBC) reads
    // the register and then writes it back.
    virtual uint8_t readSfr(uint8_t address) = 0;
    virtual void writeSfr(uint8_t address, uint8_t value) = 0;
};

enum class Fault {
    None,
    UndefinedOpcode, // 0xA5
    CodeOutOfRange,  // an instruction fetched beyond the code memory
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

private:
    struct State;
    State *s_;
};

} // namespace mcs51

#endif
