// Register addresses and bit masks of the EZ-USB FX2, written down from the
// chip's technical reference, for tests that hold the firmware's register
// header and the simulated chip against the real thing.
//
// Sources, by group:
// - SFRs and the xdata registers from CPUCS (0xE600) to FNADDR (0xE687) and
//   the byte counts EP0BCH..EP8BCL: the register summary of the technical
//   reference, as transcribed register by register (address, name, bits
//   b7..b0) in libfx2's tools/regs.txt; fx2lib's include/fx2regs.h gives
//   the same addresses.
// - EP0CS..EP8CS, the FIFO flag and byte-count registers, SUDPTR* and
//   SETUPDAT (0xE6A0..0xE6BF): fx2lib's include/fx2regs.h.
// - Endpoint buffers (EP0BUF..EP8FIFOBUF) with their sizes: the register
//   summary via libfx2's tools/regs.txt (fx2lib declares EP4/EP8 with the
//   1024 bytes of the next buffer's space; 512 is what the chip has).
// - Bit masks: the b7..b0 columns of the register summary (libfx2's
//   tools/regs.txt), checked against fx2lib's bm* masks. libfx2's generated
//   fx2regs.h is not used for bits: where a register's description runs
//   into its first bit name (CPUCS, IFCONFIG, EICON, EIP) its masks come out
//   one bit off.
#pragma once

#include <cstdint>
#include <cstring>

namespace fx2ref {

enum class Space { Sfr, Xdata };

struct Register {
    const char *name;
    Space space;
    uint16_t address;
    int size; // bytes (buffers), 1 for a register
};

// A bit mask of a register, or of a family of registers with one layout
// (EPCFG: EP2CFG..EP8CFG; EPCS: EP0CS..EP8CS; EPBCL: EP2BCL..EP8BCL;
// USBINT: USBIE and USBIRQ).
struct Bit {
    const char *group;
    const char *name;
    uint8_t mask;
};

// Bit-addressable SFR bits by bit address.
struct SfrBit {
    const char *name;
    uint8_t address;
};

inline constexpr Register registers[] = {
    // Special function registers.
    {"IOA", Space::Sfr, 0x80, 1},
    {"SP", Space::Sfr, 0x81, 1},
    {"DPL0", Space::Sfr, 0x82, 1},
    {"DPH0", Space::Sfr, 0x83, 1},
    {"DPL1", Space::Sfr, 0x84, 1},
    {"DPH1", Space::Sfr, 0x85, 1},
    {"DPS", Space::Sfr, 0x86, 1},
    {"PCON", Space::Sfr, 0x87, 1},
    {"TCON", Space::Sfr, 0x88, 1},
    {"TMOD", Space::Sfr, 0x89, 1},
    {"TL0", Space::Sfr, 0x8A, 1},
    {"TL1", Space::Sfr, 0x8B, 1},
    {"TH0", Space::Sfr, 0x8C, 1},
    {"TH1", Space::Sfr, 0x8D, 1},
    {"CKCON", Space::Sfr, 0x8E, 1},
    {"IOB", Space::Sfr, 0x90, 1},
    {"EXIF", Space::Sfr, 0x91, 1},
    {"MPAGE", Space::Sfr, 0x92, 1},
    {"SCON0", Space::Sfr, 0x98, 1},
    {"SBUF0", Space::Sfr, 0x99, 1},
    {"AUTOPTRH1", Space::Sfr, 0x9A, 1},
    {"AUTOPTRL1", Space::Sfr, 0x9B, 1},
    // 0x9C and 0x9F are reserved: the auto-pointers' data registers are
    // XAUTODAT1/2 in the xdata space.
    {"AUTOPTRH2", Space::Sfr, 0x9D, 1},
    {"AUTOPTRL2", Space::Sfr, 0x9E, 1},
    {"IOC", Space::Sfr, 0xA0, 1},
    {"INT2CLR", Space::Sfr, 0xA1, 1},
    {"INT4CLR", Space::Sfr, 0xA2, 1},
    {"IE", Space::Sfr, 0xA8, 1},
    {"EP2468STAT", Space::Sfr, 0xAA, 1},
    {"EP24FIFOFLGS", Space::Sfr, 0xAB, 1},
    {"EP68FIFOFLGS", Space::Sfr, 0xAC, 1},
    {"AUTOPTRSETUP", Space::Sfr, 0xAF, 1},
    {"IOD", Space::Sfr, 0xB0, 1},
    {"IOE", Space::Sfr, 0xB1, 1},
    {"OEA", Space::Sfr, 0xB2, 1},
    {"OEB", Space::Sfr, 0xB3, 1},
    {"OEC", Space::Sfr, 0xB4, 1},
    {"OED", Space::Sfr, 0xB5, 1},
    {"OEE", Space::Sfr, 0xB6, 1},
    {"IP", Space::Sfr, 0xB8, 1},
    {"EP01STAT", Space::Sfr, 0xBA, 1},
    {"GPIFTRIG", Space::Sfr, 0xBB, 1},
    {"GPIFSGLDATH", Space::Sfr, 0xBD, 1},
    {"GPIFSGLDATLX", Space::Sfr, 0xBE, 1},
    {"GPIFSGLDATLNOX", Space::Sfr, 0xBF, 1},
    {"SCON1", Space::Sfr, 0xC0, 1},
    {"SBUF1", Space::Sfr, 0xC1, 1},
    {"T2CON", Space::Sfr, 0xC8, 1},
    {"RCAP2L", Space::Sfr, 0xCA, 1},
    {"RCAP2H", Space::Sfr, 0xCB, 1},
    {"TL2", Space::Sfr, 0xCC, 1},
    {"TH2", Space::Sfr, 0xCD, 1},
    {"PSW", Space::Sfr, 0xD0, 1},
    {"EICON", Space::Sfr, 0xD8, 1},
    {"ACC", Space::Sfr, 0xE0, 1},
    {"EIE", Space::Sfr, 0xE8, 1},
    {"B", Space::Sfr, 0xF0, 1},
    {"EIP", Space::Sfr, 0xF8, 1},

    // General configuration.
    {"CPUCS", Space::Xdata, 0xE600, 1},
    {"IFCONFIG", Space::Xdata, 0xE601, 1},
    {"PINFLAGSAB", Space::Xdata, 0xE602, 1},
    {"PINFLAGSCD", Space::Xdata, 0xE603, 1},
    {"FIFORESET", Space::Xdata, 0xE604, 1},
    {"BREAKPT", Space::Xdata, 0xE605, 1},
    {"BPADDRH", Space::Xdata, 0xE606, 1},
    {"BPADDRL", Space::Xdata, 0xE607, 1},
    {"UART230", Space::Xdata, 0xE608, 1},
    {"FIFOPINPOLAR", Space::Xdata, 0xE609, 1},
    {"REVID", Space::Xdata, 0xE60A, 1},
    {"REVCTL", Space::Xdata, 0xE60B, 1},
    // Endpoint configuration.
    {"EP1OUTCFG", Space::Xdata, 0xE610, 1},
    {"EP1INCFG", Space::Xdata, 0xE611, 1},
    {"EP2CFG", Space::Xdata, 0xE612, 1},
    {"EP4CFG", Space::Xdata, 0xE613, 1},
    {"EP6CFG", Space::Xdata, 0xE614, 1},
    {"EP8CFG", Space::Xdata, 0xE615, 1},
    {"EP2FIFOCFG", Space::Xdata, 0xE618, 1},
    {"EP4FIFOCFG", Space::Xdata, 0xE619, 1},
    {"EP6FIFOCFG", Space::Xdata, 0xE61A, 1},
    {"EP8FIFOCFG", Space::Xdata, 0xE61B, 1},
    {"INPKTEND", Space::Xdata, 0xE648, 1},
    {"OUTPKTEND", Space::Xdata, 0xE649, 1},
    // Interrupts.
    {"IBNIE", Space::Xdata, 0xE658, 1},
    {"IBNIRQ", Space::Xdata, 0xE659, 1},
    {"NAKIE", Space::Xdata, 0xE65A, 1},
    {"NAKIRQ", Space::Xdata, 0xE65B, 1},
    {"USBIE", Space::Xdata, 0xE65C, 1},
    {"USBIRQ", Space::Xdata, 0xE65D, 1},
    {"EPIE", Space::Xdata, 0xE65E, 1},
    {"EPIRQ", Space::Xdata, 0xE65F, 1},
    {"GPIFIE", Space::Xdata, 0xE660, 1},
    {"GPIFIRQ", Space::Xdata, 0xE661, 1},
    {"USBERRIE", Space::Xdata, 0xE662, 1},
    {"USBERRIRQ", Space::Xdata, 0xE663, 1},
    {"ERRCNTLIM", Space::Xdata, 0xE664, 1},
    {"CLRERRCNT", Space::Xdata, 0xE665, 1},
    {"INT2IVEC", Space::Xdata, 0xE666, 1},
    {"INT4IVEC", Space::Xdata, 0xE667, 1},
    {"INTSETUP", Space::Xdata, 0xE668, 1},
    // Input/output.
    {"PORTACFG", Space::Xdata, 0xE670, 1},
    {"PORTCCFG", Space::Xdata, 0xE671, 1},
    {"PORTECFG", Space::Xdata, 0xE672, 1},
    {"I2CS", Space::Xdata, 0xE678, 1},
    {"I2DAT", Space::Xdata, 0xE679, 1},
    {"I2CTL", Space::Xdata, 0xE67A, 1},
    {"XAUTODAT1", Space::Xdata, 0xE67B, 1},
    {"XAUTODAT2", Space::Xdata, 0xE67C, 1},
    // USB control.
    {"USBCS", Space::Xdata, 0xE680, 1},
    {"SUSPEND", Space::Xdata, 0xE681, 1},
    {"WAKEUPCS", Space::Xdata, 0xE682, 1},
    {"TOGCTL", Space::Xdata, 0xE683, 1},
    {"USBFRAMEH", Space::Xdata, 0xE684, 1},
    {"USBFRAMEL", Space::Xdata, 0xE685, 1},
    {"MICROFRAME", Space::Xdata, 0xE686, 1},
    {"FNADDR", Space::Xdata, 0xE687, 1},
    // Endpoints.
    {"EP0BCH", Space::Xdata, 0xE68A, 1},
    {"EP0BCL", Space::Xdata, 0xE68B, 1},
    {"EP1OUTBC", Space::Xdata, 0xE68D, 1},
    {"EP1INBC", Space::Xdata, 0xE68F, 1},
    {"EP2BCH", Space::Xdata, 0xE690, 1},
    {"EP2BCL", Space::Xdata, 0xE691, 1},
    {"EP4BCH", Space::Xdata, 0xE694, 1},
    {"EP4BCL", Space::Xdata, 0xE695, 1},
    {"EP6BCH", Space::Xdata, 0xE698, 1},
    {"EP6BCL", Space::Xdata, 0xE699, 1},
    {"EP8BCH", Space::Xdata, 0xE69C, 1},
    {"EP8BCL", Space::Xdata, 0xE69D, 1},
    {"EP0CS", Space::Xdata, 0xE6A0, 1},
    {"EP1OUTCS", Space::Xdata, 0xE6A1, 1},
    {"EP1INCS", Space::Xdata, 0xE6A2, 1},
    {"EP2CS", Space::Xdata, 0xE6A3, 1},
    {"EP4CS", Space::Xdata, 0xE6A4, 1},
    {"EP6CS", Space::Xdata, 0xE6A5, 1},
    {"EP8CS", Space::Xdata, 0xE6A6, 1},
    {"EP2FIFOFLGS", Space::Xdata, 0xE6A7, 1},
    {"EP4FIFOFLGS", Space::Xdata, 0xE6A8, 1},
    {"EP6FIFOFLGS", Space::Xdata, 0xE6A9, 1},
    {"EP8FIFOFLGS", Space::Xdata, 0xE6AA, 1},
    {"EP2FIFOBCH", Space::Xdata, 0xE6AB, 1},
    {"EP2FIFOBCL", Space::Xdata, 0xE6AC, 1},
    {"EP4FIFOBCH", Space::Xdata, 0xE6AD, 1},
    {"EP4FIFOBCL", Space::Xdata, 0xE6AE, 1},
    {"EP6FIFOBCH", Space::Xdata, 0xE6AF, 1},
    {"EP6FIFOBCL", Space::Xdata, 0xE6B0, 1},
    {"EP8FIFOBCH", Space::Xdata, 0xE6B1, 1},
    {"EP8FIFOBCL", Space::Xdata, 0xE6B2, 1},
    {"SUDPTRH", Space::Xdata, 0xE6B3, 1},
    {"SUDPTRL", Space::Xdata, 0xE6B4, 1},
    {"SUDPTRCTL", Space::Xdata, 0xE6B5, 1},
    {"SETUPDAT", Space::Xdata, 0xE6B8, 8},
    // Endpoint buffers.
    {"EP0BUF", Space::Xdata, 0xE740, 64},
    {"EP1OUTBUF", Space::Xdata, 0xE780, 64},
    {"EP1INBUF", Space::Xdata, 0xE7C0, 64},
    {"EP2FIFOBUF", Space::Xdata, 0xF000, 1024},
    {"EP4FIFOBUF", Space::Xdata, 0xF400, 512},
    {"EP6FIFOBUF", Space::Xdata, 0xF800, 1024},
    {"EP8FIFOBUF", Space::Xdata, 0xFC00, 512},
};

inline constexpr Bit bits[] = {
    {"PCON", "IDLE", 0x01},
    {"CKCON", "T2M", 0x20},
    {"CKCON", "T1M", 0x10},
    {"CKCON", "T0M", 0x08},
    {"TMOD", "GATE_0", 0x08},
    {"TMOD", "CT_0", 0x04},
    {"TMOD", "M1_0", 0x02},
    {"TMOD", "M0_0", 0x01},

    {"CPUCS", "PORTCSTB", 0x20},
    {"CPUCS", "CLKSPD1", 0x10},
    {"CPUCS", "CLKSPD0", 0x08},
    {"CPUCS", "CLKINV", 0x04},
    {"CPUCS", "CLKOE", 0x02},
    {"CPUCS", "8051RES", 0x01},

    {"IFCONFIG", "IFCLKSRC", 0x80},
    {"IFCONFIG", "3048MHZ", 0x40},
    {"IFCONFIG", "IFCLKOE", 0x20},
    {"IFCONFIG", "IFCLKPOL", 0x10},
    {"IFCONFIG", "ASYNC", 0x08},
    {"IFCONFIG", "GSTATE", 0x04},
    {"IFCONFIG", "IFCFG1", 0x02},
    {"IFCONFIG", "IFCFG0", 0x01},

    {"EPCFG", "VALID", 0x80},
    {"EPCFG", "DIR", 0x40},
    {"EPCFG", "TYPE1", 0x20},
    {"EPCFG", "TYPE0", 0x10},
    {"EPCFG", "SIZE", 0x08},
    {"EPCFG", "BUF1", 0x02},
    {"EPCFG", "BUF0", 0x01},

    {"EPBCL", "SKIP", 0x80},

    {"EP2468STAT", "EP8F", 0x80},
    {"EP2468STAT", "EP8E", 0x40},
    {"EP2468STAT", "EP6F", 0x20},
    {"EP2468STAT", "EP6E", 0x10},
    {"EP2468STAT", "EP4F", 0x08},
    {"EP2468STAT", "EP4E", 0x04},
    {"EP2468STAT", "EP2F", 0x02},
    {"EP2468STAT", "EP2E", 0x01},

    {"EPCS", "STALL", 0x01},
    {"EP0CS", "HSNAK", 0x80},

    {"I2CS", "START", 0x80},
    {"I2CS", "STOP", 0x40},
    {"I2CS", "LASTRD", 0x20},
    {"I2CS", "ID1", 0x10},
    {"I2CS", "ID0", 0x08},
    {"I2CS", "BERR", 0x04},
    {"I2CS", "ACK", 0x02},
    {"I2CS", "DONE", 0x01},
    {"I2CTL", "STOPIE", 0x02},
    {"I2CTL", "400KHZ", 0x01},

    {"USBCS", "HSM", 0x80},
    {"USBCS", "DISCON", 0x08},
    {"USBCS", "NOSYNSOF", 0x04},
    {"USBCS", "RENUM", 0x02},
    {"USBCS", "SIGRSUME", 0x01},

    {"WAKEUPCS", "WU2", 0x80},
    {"WAKEUPCS", "WU", 0x40},
    {"WAKEUPCS", "WU2POL", 0x20},
    {"WAKEUPCS", "WUPOL", 0x10},
    {"WAKEUPCS", "DPEN", 0x04},
    {"WAKEUPCS", "WU2EN", 0x02},
    {"WAKEUPCS", "WUEN", 0x01},

    {"USBINT", "EP0ACK", 0x40},
    {"USBINT", "HSGRANT", 0x20},
    {"USBINT", "URES", 0x10},
    {"USBINT", "SUSP", 0x08},
    {"USBINT", "SUTOK", 0x04},
    {"USBINT", "SOF", 0x02},
    {"USBINT", "SUDAV", 0x01},

    {"INTSETUP", "AV2EN", 0x08},
    {"INTSETUP", "INT4SRC", 0x02},
    {"INTSETUP", "AV4EN", 0x01},

    {"AUTOPTRSETUP", "APTR2INC", 0x04},
    {"AUTOPTRSETUP", "APTR1INC", 0x02},
    {"AUTOPTRSETUP", "APTREN", 0x01},

    {"EXIF", "IE5", 0x80},
    {"EXIF", "IE4", 0x40},
    {"EXIF", "I2CINT", 0x20},
    {"EXIF", "USBINT", 0x10},

    {"EIE", "EX6", 0x10},
    {"EIE", "EX5", 0x08},
    {"EIE", "EX4", 0x04},
    {"EIE", "EI2C", 0x02},
    {"EIE", "EUSB", 0x01},

    {"EICON", "SMOD1", 0x80},
    {"EICON", "ERESI", 0x20},
    {"EICON", "RESI", 0x10},
    {"EICON", "INT6", 0x08},

    {"TOGCTL", "Q", 0x80},
    {"TOGCTL", "S", 0x40},
    {"TOGCTL", "R", 0x20},
    {"TOGCTL", "IO", 0x10},
};

inline constexpr SfrBit sfrBits[] = {
    {"IT0", 0x88}, {"IE0", 0x89}, {"IT1", 0x8A}, {"IE1", 0x8B}, {"TR0", 0x8C}, {"TF0", 0x8D},
    {"TR1", 0x8E}, {"TF1", 0x8F}, {"EX0", 0xA8}, {"ET0", 0xA9}, {"EX1", 0xAA}, {"ET1", 0xAB},
    {"ES0", 0xAC}, {"ET2", 0xAD}, {"ES1", 0xAE}, {"EA", 0xAF},
};

inline const Register *findRegister(const char *name) {
    for (const Register &r : registers)
        if (std::strcmp(r.name, name) == 0)
            return &r;
    return nullptr;
}

inline const Register *registerAt(Space space, uint16_t address) {
    for (const Register &r : registers)
        if (r.space == space && address >= r.address && address < r.address + r.size)
            return &r;
    return nullptr;
}

inline const Bit *findBit(const char *group, const char *name) {
    for (const Bit &b : bits)
        if (std::strcmp(b.group, group) == 0 && std::strcmp(b.name, name) == 0)
            return &b;
    return nullptr;
}

inline const SfrBit *findSfrBit(const char *name) {
    for (const SfrBit &b : sfrBits)
        if (std::strcmp(b.name, name) == 0)
            return &b;
    return nullptr;
}

} // namespace fx2ref
