/*
 * Registers of the EZ-USB FX2 that this firmware uses, from the chip's
 * register summary. SDCC only: the host build of the firmware logic never
 * sees this file (it goes through hw.h instead).
 *
 * Bit masks are named <register>_<bit> with the register's and the bit's
 * own names; where several registers share a layout the register part names
 * the family (EPCFG for EP2CFG..EP8CFG, EPCS for the endpoint control and
 * status registers, EPBCL for the OUT byte counts, USBINT for USBIE/USBIRQ).
 * A test holds every address and mask here against the chip's tables.
 */
#ifndef BRANTLE_FX2_REGISTERS_H
#define BRANTLE_FX2_REGISTERS_H

#include <stdint.h>

#define FX2_XREG(name, address) __xdata __at(address) volatile uint8_t name

/* Special function registers. */
__sfr __at(0x80) IOA;
__sfr __at(0x87) PCON;
__sfr __at(0x89) TMOD;
__sfr __at(0x8A) TL0;
__sfr __at(0x8C) TH0;
__sfr __at(0x8E) CKCON;
__sfr __at(0x91) EXIF;
__sfr __at(0x92) MPAGE;
__sfr __at(0x9A) AUTOPTRH1;
__sfr __at(0x9B) AUTOPTRL1;
__sfr __at(0x9D) AUTOPTRH2;
__sfr __at(0x9E) AUTOPTRL2;
__sfr __at(0xA8) IE;
__sfr __at(0xAA) EP2468STAT;
__sfr __at(0xAF) AUTOPTRSETUP;
__sfr __at(0xB2) OEA;
__sfr __at(0xD8) EICON;
__sfr __at(0xE8) EIE;

__sbit __at(0x8C) TR0;
__sbit __at(0x8D) TF0;
__sbit __at(0xAF) EA;

/* Registers in the external data space. The auto-pointers' data registers
   live here, not among the SFRs beside their address registers. */
FX2_XREG(CPUCS, 0xE600);
FX2_XREG(IFCONFIG, 0xE601);
FX2_XREG(EP8CFG, 0xE615);
FX2_XREG(USBIE, 0xE65C);
FX2_XREG(USBIRQ, 0xE65D);
FX2_XREG(INTSETUP, 0xE668);
FX2_XREG(I2CS, 0xE678);
FX2_XREG(I2DAT, 0xE679);
FX2_XREG(I2CTL, 0xE67A);
FX2_XREG(XAUTODAT1, 0xE67B);
FX2_XREG(XAUTODAT2, 0xE67C);
FX2_XREG(USBCS, 0xE680);
FX2_XREG(SUSPEND, 0xE681);
FX2_XREG(WAKEUPCS, 0xE682);
FX2_XREG(TOGCTL, 0xE683);
FX2_XREG(EP0BCH, 0xE68A);
FX2_XREG(EP0BCL, 0xE68B);
FX2_XREG(EP2BCL, 0xE691);
FX2_XREG(EP4BCH, 0xE694);
FX2_XREG(EP4BCL, 0xE695);
FX2_XREG(EP8BCH, 0xE69C);
FX2_XREG(EP8BCL, 0xE69D);
FX2_XREG(EP0CS, 0xE6A0);
FX2_XREG(EP1OUTCS, 0xE6A1);
FX2_XREG(EP1INCS, 0xE6A2);
FX2_XREG(EP2CS, 0xE6A3);
FX2_XREG(EP4CS, 0xE6A4);
FX2_XREG(EP6CS, 0xE6A5);
FX2_XREG(EP8CS, 0xE6A6);

__xdata __at(0xE6B8) volatile uint8_t SETUPDAT[8];
__xdata __at(0xE740) volatile uint8_t EP0BUF[64];
__xdata __at(0xF400) volatile uint8_t EP4FIFOBUF[512];
__xdata __at(0xFC00) volatile uint8_t EP8FIFOBUF[512];

/* PCON, CKCON, TMOD. */
#define PCON_IDLE 0x01
#define CKCON_T0M 0x08
#define TMOD_M1_0 0x02

/* CPUCS: CLKSPD[1:0]; 10 = 48 MHz. */
#define CPUCS_CLKSPD1 0x10
#define CPUCS_CLKSPD0 0x08

/* IFCONFIG: internal clock source, 48 MHz, IFCFG = 00 (ports). */
#define IFCONFIG_IFCLKSRC 0x80
#define IFCONFIG_3048MHZ 0x40

/* EPxCFG: VALID, DIR (1 = IN), TYPE[1:0] = 10 (bulk). EP8 is always 512 bytes, double buffered. */
#define EPCFG_VALID 0x80
#define EPCFG_DIR 0x40
#define EPCFG_TYPE1 0x20
#define EPCFG_TYPE0 0x10

/* Writing a byte count with this bit set hands an OUT buffer back to the USB side unread. */
#define EPBCL_SKIP 0x80

/* EP2468STAT. */
#define EP2468STAT_EP4E 0x04
#define EP2468STAT_EP8F 0x80

/* EPxCS, EP0CS. */
#define EPCS_STALL 0x01
#define EP0CS_HSNAK 0x80

/* I2CS. */
#define I2CS_START 0x80
#define I2CS_STOP 0x40
#define I2CS_LASTRD 0x20
#define I2CS_BERR 0x04
#define I2CS_ACK 0x02
#define I2CS_DONE 0x01
/* I2CTL. */
#define I2CTL_400KHZ 0x01

/* USBCS. */
#define USBCS_HSM 0x80
#define USBCS_SIGRSUME 0x01

/* WAKEUPCS: the two wake-up pins' flags, cleared by writing 1. */
#define WAKEUPCS_WU2 0x80
#define WAKEUPCS_WU 0x40

/* USBIE / USBIRQ. */
#define USBINT_SUDAV 0x01
#define USBINT_SUTOK 0x04
#define USBINT_SUSP 0x08
#define USBINT_URES 0x10
#define USBINT_HSGRANT 0x20

/* INTSETUP: autovectoring of INT2 (USB). */
#define INTSETUP_AV2EN 0x08

/* AUTOPTRSETUP. */
#define AUTOPTRSETUP_APTREN 0x01
#define AUTOPTRSETUP_APTR1INC 0x02
#define AUTOPTRSETUP_APTR2INC 0x04

/* EXIF: INT2 (USB) and INT4 (FIFO/GPIF) request flags. */
#define EXIF_USBINT 0x10
#define EXIF_IE4 0x40

/* EIE: INT2 enable. EICON: resume interrupt enable and flag. */
#define EIE_EUSB 0x01
#define EICON_ERESI 0x20
#define EICON_RESI 0x10

/* TOGCTL: endpoint number in bits 3..0, IN in bit 4, reset of the toggle in bit 5. */
#define TOGCTL_IO 0x10
#define TOGCTL_R 0x20

/*
 * Some register writes only reach the USB core after a few cycles of its
 * clock; with the CPU and interface both at 48 MHz three to four instruction
 * cycles are enough.
 */
#define SYNCDELAY __asm__("nop\n\tnop\n\tnop\n\tnop")

#endif
