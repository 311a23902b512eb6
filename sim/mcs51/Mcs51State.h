#ifndef BRANTLE_SIM_MCS51_MCS51STATE_H
#define BRANTLE_SIM_MCS51_MCS51STATE_H

#include "Mcs51Core.h"

#include <array>
#include <cstdint>
#include <map>

// The core's state and the SFR, timer and interrupt logic behind the
// instruction loop. Private to the mcs51 library.
namespace mcs51 {

// SFR addresses the core implements.
namespace sfr {
constexpr uint8_t SP = 0x81, DPL = 0x82, DPH = 0x83, DPL1 = 0x84, DPH1 = 0x85, DPS = 0x86,
                  PCON = 0x87, TCON = 0x88, TMOD = 0x89, TL0 = 0x8A, TL1 = 0x8B, TH0 = 0x8C,
                  TH1 = 0x8D, CKCON = 0x8E, EXIF = 0x91, MPAGE = 0x92, SCON0 = 0x98, SBUF0 = 0x99,
                  IE = 0xA8, IP = 0xB8, SCON1 = 0xC0, SBUF1 = 0xC1, T2CON = 0xC8, RCAP2L = 0xCA,
                  RCAP2H = 0xCB, TL2 = 0xCC, TH2 = 0xCD, PSW = 0xD0, EICON = 0xD8, ACC = 0xE0,
                  EIE = 0xE8, B = 0xF0, EIP = 0xF8;
}

constexpr uint64_t kNever = ~uint64_t(0);

struct CoreState {
    explicit CoreState(Bus &b) : bus(b) {}

    // How a read or write of an SFR address is served.
    enum Kind : uint8_t { Plain, Special, Unknown, Claimed };

    Bus &bus;
    uint8_t iram[256] = {};
    uint8_t sfrs[128] = {}; // indexed by address - 0x80
    Kind kind[128] = {};
    uint16_t pc = 0;
    uint16_t instructionPc = 0; // of the instruction reading through the Bus
    uint64_t clocks = 0;
    uint64_t instructions = 0;

    const uint8_t *code = nullptr;
    uint32_t codeSize = 0;
    // Instruction fetches go through this table so that a page carrying a
    // code overlay can be served from a patched copy.
    const uint8_t *fetchPage[256] = {};
    std::map<uint16_t, uint8_t> overlays;
    std::map<uint8_t, std::array<uint8_t, 256>> patchedPages;

    uint8_t *xdataMapped[256] = {}; // as mapped by the owner
    uint8_t *xdataRead[256] = {};
    // Null also for mapped pages that alias a patched code page: their writes
    // must reach the patched copy as well.
    uint8_t *xdataWrite[256] = {};

    Fault fault = Fault::None;
    uint16_t faultPc = 0;
    uint8_t stretch = 1;    // CKCON.2-0
    uint8_t dptrLow = 0x02; // sfrs index of the selected DPL (DPH follows)

    // Interrupts. inService holds one bit per level: 0 low, 1 high, 2 the
    // resume interrupt's own level.
    uint8_t inService = 0;
    bool irqReady = false;   // an enabled request outranks the level in service
    bool irqBlocked = false; // the last instruction was RETI or wrote IE/IP/EIE/EIP
    bool stopRequested = false;
    bool idle = false;
    bool rescheduled = false; // nextTimerEvent has moved
    bool attention = false;   // any of the above, or a fault: leave the fast path

    // Timers are brought up to date lazily: on access of their registers, on a
    // change of their configuration, and at nextTimerEvent, the first clock at
    // which a running timer sets an overflow flag that is clear now.
    uint64_t timerSync = 0;
    uint64_t nextTimerEvent = kNever;

    // Effects a comparison of RAM and SFRs cannot see (see StateMark).
    uint64_t effects = 0;

    uint64_t unknownAccesses = 0;
    uint8_t lastUnknown = 0;

    uint8_t &reg(uint8_t address) { return sfrs[address - 0x80]; }
    uint8_t reg(uint8_t address) const { return sfrs[address - 0x80]; }

    void resetSfrs();
    void rebuildFetchTables();

    uint8_t readSfr(uint8_t address);
    void writeSfr(uint8_t address, uint8_t value);
    uint8_t peekSfr(uint8_t address); // the core's value, no Bus, no bookkeeping
    void pokeSfr(uint8_t address, uint8_t value);
    uint8_t readXdataSlow(uint16_t address);
    void writeXdataSlow(uint16_t address, uint8_t value);

    void syncTimers();
    void scheduleTimers();
    void updateInterrupts();
    void updateAttention() {
        attention =
            irqReady || irqBlocked || stopRequested || idle || rescheduled || fault != Fault::None;
    }
    // Enters the interrupt service routine if one may be entered now.
    bool enterInterrupt();
    void returnFromInterrupt();
};

} // namespace mcs51

#endif
