#ifndef BRANTLE_SIM_FX2_FX2REGISTERS_H
#define BRANTLE_SIM_FX2_FX2REGISTERS_H

#include <cstdint>

// Addresses and bits of the EZ-USB FX2 registers the chip model implements,
// as the chip's technical reference and the public FX2 register headers give
// them. The test of the model keeps the same facts in a table of its own.
namespace fx2 {

namespace sfr {
constexpr uint8_t IOA = 0x80;
constexpr uint8_t EXIF = 0x91;
constexpr uint8_t AUTOPTRH1 = 0x9A;
constexpr uint8_t AUTOPTRL1 = 0x9B;
constexpr uint8_t AUTOPTRH2 = 0x9D;
constexpr uint8_t AUTOPTRL2 = 0x9E;
constexpr uint8_t IOB = 0x90;
constexpr uint8_t IOC = 0xA0;
constexpr uint8_t INT2CLR = 0xA1;
constexpr uint8_t INT4CLR = 0xA2;
constexpr uint8_t EP2468STAT = 0xAA;
constexpr uint8_t AUTOPTRSETUP = 0xAF;
constexpr uint8_t IOD = 0xB0;
constexpr uint8_t IOE = 0xB1;
constexpr uint8_t OEA = 0xB2;
constexpr uint8_t OEB = 0xB3;
constexpr uint8_t OEC = 0xB4;
constexpr uint8_t OED = 0xB5;
constexpr uint8_t OEE = 0xB6;
constexpr uint8_t EP01STAT = 0xBA;
constexpr uint8_t EICON = 0xD8;
constexpr uint8_t EIE = 0xE8;
} // namespace sfr

namespace xreg {
constexpr uint16_t CPUCS = 0xE600;
constexpr uint16_t IFCONFIG = 0xE601;
constexpr uint16_t REVID = 0xE60A;
constexpr uint16_t REVCTL = 0xE60B;
constexpr uint16_t EP1OUTCFG = 0xE610;
constexpr uint16_t EP1INCFG = 0xE611;
constexpr uint16_t EP2CFG = 0xE612;
constexpr uint16_t EP4CFG = 0xE613;
constexpr uint16_t EP6CFG = 0xE614;
constexpr uint16_t EP8CFG = 0xE615;
constexpr uint16_t OUTPKTEND = 0xE649;
constexpr uint16_t USBIE = 0xE65C;
constexpr uint16_t USBIRQ = 0xE65D;
constexpr uint16_t EPIE = 0xE65E;
constexpr uint16_t EPIRQ = 0xE65F;
constexpr uint16_t INT2IVEC = 0xE666;
constexpr uint16_t INT4IVEC = 0xE667;
constexpr uint16_t INTSETUP = 0xE668;
constexpr uint16_t PORTACFG = 0xE670;
constexpr uint16_t I2CS = 0xE678;
constexpr uint16_t I2DAT = 0xE679;
constexpr uint16_t I2CTL = 0xE67A;
constexpr uint16_t XAUTODAT1 = 0xE67B;
constexpr uint16_t XAUTODAT2 = 0xE67C;
constexpr uint16_t USBCS = 0xE680;
constexpr uint16_t SUSPEND = 0xE681;
constexpr uint16_t WAKEUPCS = 0xE682;
constexpr uint16_t TOGCTL = 0xE683;
constexpr uint16_t USBFRAMEH = 0xE684;
constexpr uint16_t USBFRAMEL = 0xE685;
constexpr uint16_t MICROFRAME = 0xE686;
constexpr uint16_t FNADDR = 0xE687;
constexpr uint16_t EP0BCH = 0xE68A;
constexpr uint16_t EP0BCL = 0xE68B;
constexpr uint16_t EP1OUTBC = 0xE68D;
constexpr uint16_t EP1INBC = 0xE68F;
constexpr uint16_t EP2BCH = 0xE690;
constexpr uint16_t EP2BCL = 0xE691;
constexpr uint16_t EP4BCH = 0xE694;
constexpr uint16_t EP4BCL = 0xE695;
constexpr uint16_t EP6BCH = 0xE698;
constexpr uint16_t EP6BCL = 0xE699;
constexpr uint16_t EP8BCH = 0xE69C;
constexpr uint16_t EP8BCL = 0xE69D;
constexpr uint16_t EP0CS = 0xE6A0;
constexpr uint16_t EP1OUTCS = 0xE6A1;
constexpr uint16_t EP1INCS = 0xE6A2;
constexpr uint16_t EP2CS = 0xE6A3;
constexpr uint16_t EP4CS = 0xE6A4;
constexpr uint16_t EP6CS = 0xE6A5;
constexpr uint16_t EP8CS = 0xE6A6;
constexpr uint16_t SUDPTRH = 0xE6B3;
constexpr uint16_t SUDPTRL = 0xE6B4;
constexpr uint16_t SUDPTRCTL = 0xE6B5;
constexpr uint16_t SETUPDAT = 0xE6B8; // 8 bytes
constexpr uint16_t EP0BUF = 0xE740;   // 64 bytes
constexpr uint16_t EP1OUTBUF = 0xE780;
constexpr uint16_t EP1INBUF = 0xE7C0;
constexpr uint16_t EP2FIFOBUF = 0xF000;
constexpr uint16_t EP4FIFOBUF = 0xF400;
constexpr uint16_t EP6FIFOBUF = 0xF800;
constexpr uint16_t EP8FIFOBUF = 0xFC00;
} // namespace xreg

// Memory the 8051 reaches with MOVX besides the registers.
namespace mem {
constexpr int RamSize = 16384; // code and data, 0x0000..0x3FFF
constexpr uint16_t ScratchBase = 0xE000;
constexpr int ScratchSize = 512; // data only, 0xE000..0xE1FF
} // namespace mem

namespace bit {
// CPUCS
constexpr uint8_t CPUCS_8051RES = 0x01;
constexpr uint8_t CPUCS_CLKOE = 0x02;
constexpr uint8_t CPUCS_CLKINV = 0x04;
constexpr uint8_t CPUCS_CLKSPD = 0x18; // 00 12 MHz, 01 24 MHz, 10 48 MHz
constexpr uint8_t CPUCS_PORTCSTB = 0x20;
// USBIE / USBIRQ
constexpr uint8_t USB_SUDAV = 0x01;
constexpr uint8_t USB_SOF = 0x02;
constexpr uint8_t USB_SUTOK = 0x04;
constexpr uint8_t USB_SUSP = 0x08;
constexpr uint8_t USB_URES = 0x10;
constexpr uint8_t USB_HSGRANT = 0x20;
constexpr uint8_t USB_EP0ACK = 0x40;
// EPIE / EPIRQ
constexpr uint8_t EP_EP0IN = 0x01;
constexpr uint8_t EP_EP0OUT = 0x02;
constexpr uint8_t EP_EP1IN = 0x04;
constexpr uint8_t EP_EP1OUT = 0x08;
constexpr uint8_t EP_EP2 = 0x10;
constexpr uint8_t EP_EP4 = 0x20;
constexpr uint8_t EP_EP6 = 0x40;
constexpr uint8_t EP_EP8 = 0x80;
// INTSETUP
constexpr uint8_t INTSETUP_AV4EN = 0x01;
constexpr uint8_t INTSETUP_INT4SRC = 0x02;
constexpr uint8_t INTSETUP_AV2EN = 0x08;
// EXIF (the INT2..INT5 request flags), EICON, EIE
constexpr uint8_t EXIF_USBINT = 0x10;
constexpr uint8_t EXIF_I2CINT = 0x20;
constexpr uint8_t EXIF_IE4 = 0x40;
constexpr uint8_t EICON_RESI = 0x10;
constexpr uint8_t EICON_ERESI = 0x20;
// I2CS, I2CTL
constexpr uint8_t I2CS_START = 0x80;
constexpr uint8_t I2CS_STOP = 0x40;
constexpr uint8_t I2CS_LASTRD = 0x20;
constexpr uint8_t I2CS_ID = 0x18;
constexpr uint8_t I2CS_BERR = 0x04;
constexpr uint8_t I2CS_ACK = 0x02;
constexpr uint8_t I2CS_DONE = 0x01;
constexpr uint8_t I2CTL_400KHZ = 0x01;
constexpr uint8_t I2CTL_STOPIE = 0x02;
// AUTOPTRSETUP
constexpr uint8_t APTR_EN = 0x01;
constexpr uint8_t APTR1_INC = 0x02;
constexpr uint8_t APTR2_INC = 0x04;
// USBCS
constexpr uint8_t USBCS_SIGRSUME = 0x01;
constexpr uint8_t USBCS_RENUM = 0x02;
constexpr uint8_t USBCS_NOSYNSOF = 0x04;
constexpr uint8_t USBCS_DISCON = 0x08;
constexpr uint8_t USBCS_HSM = 0x80;
// WAKEUPCS
constexpr uint8_t WAKEUP_WUEN = 0x01;
constexpr uint8_t WAKEUP_WU2EN = 0x02;
constexpr uint8_t WAKEUP_DPEN = 0x04;
constexpr uint8_t WAKEUP_WUPOL = 0x10;
constexpr uint8_t WAKEUP_WU2POL = 0x20;
constexpr uint8_t WAKEUP_WU = 0x40;
constexpr uint8_t WAKEUP_WU2 = 0x80;
// TOGCTL
constexpr uint8_t TOGCTL_EP = 0x0F;
constexpr uint8_t TOGCTL_IO = 0x10;
constexpr uint8_t TOGCTL_R = 0x20;
constexpr uint8_t TOGCTL_S = 0x40;
constexpr uint8_t TOGCTL_Q = 0x80;
// EP0CS, EP1OUTCS, EP1INCS
constexpr uint8_t EPCS_STALL = 0x01;
constexpr uint8_t EPCS_BUSY = 0x02;
constexpr uint8_t EP0CS_HSNAK = 0x80;
// EP2CS..EP8CS
constexpr uint8_t EPCS_EMPTY = 0x04;
constexpr uint8_t EPCS_FULL = 0x08;
constexpr uint8_t EPCS_NPAK = 0x70;
// EP01STAT
constexpr uint8_t EP01STAT_EP0BSY = 0x01;
constexpr uint8_t EP01STAT_EP1OUTBSY = 0x02;
constexpr uint8_t EP01STAT_EP1INBSY = 0x04;
// EPxCFG
constexpr uint8_t EPCFG_VALID = 0x80;
constexpr uint8_t EPCFG_DIR_IN = 0x40;
constexpr uint8_t EPCFG_TYPE = 0x30;
constexpr uint8_t EPCFG_SIZE = 0x08; // EP2 and EP6: 1024-byte buffers
constexpr uint8_t EPCFG_BUF = 0x03;  // EP2 and EP6: 00 quad, 10 double, 11 triple
// EPxBCL of an OUT endpoint, OUTPKTEND
constexpr uint8_t BCL_SKIP = 0x80;
// SUDPTRCTL
constexpr uint8_t SUDPTRCTL_SDPAUTO = 0x01;
} // namespace bit

} // namespace fx2

#endif
