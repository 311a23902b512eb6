/*
 * Start-up and main loop of the adapter firmware. Interrupt handlers only
 * acknowledge their source and raise a flag; everything else happens here.
 */
#include "adapter_wire.h"
#include "fx2_registers.h"
#include "hw.h"
#include "i2c_engine.h"
#include "transaction.h"
#include "usb_control.h"

/* SDCC's start-up code loads the page of MOVX @Ri accesses into _XPAGE; on
   the FX2 that page register is MPAGE, not P2 (which is port C here). */
__sfr __at(0x92) _XPAGE;

/*
 * The USB and FIFO/GPIF interrupts are autovectored: the chip replaces the
 * low address byte of the long jumps at 0x43 and 0x53 with the source's
 * offset into the table at 0x3F00 (autovectors.asm). Declaring the table's
 * two halves as the handlers of interrupts 8 and 10 makes SDCC emit exactly
 * those jumps.
 */
void usb_autovector(void) __interrupt(8);
void fifo_autovector(void) __interrupt(10);

static volatile uint8_t setup_pending;
static volatile uint8_t suspend_pending;
static volatile uint8_t reset_pending;

/* Resume from suspend (vector 0x33). A suspend the main loop has not got
   to yet is over too: the bus is back. */
void isr_resume(void) __interrupt(6) {
    EICON &= (uint8_t)~EICON_RESI;
    suspend_pending = 0;
}

/* INT6 is never enabled; having a handler makes SDCC lay the vector table
   out up to 0x63. */
void isr_int6(void) __interrupt(12) {}

/* The INT2 request first, then the source's own bit (written as 1 to clear).
   A macro keeps the handlers free of calls, so they save few registers. */
#define usb_acknowledge(source)                                                                    \
    do {                                                                                           \
        EXIF &= (uint8_t)~EXIF_USBINT;                                                             \
        USBIRQ = (source);                                                                         \
    } while (0)

void isr_sudav(void) __interrupt {
    usb_acknowledge(USBINT_SUDAV);
    setup_pending = 1;
}

void isr_sutok(void) __interrupt {
    usb_acknowledge(USBINT_SUTOK);
}

void isr_suspend(void) __interrupt {
    usb_acknowledge(USBINT_SUSP);
    suspend_pending = 1;
}

void isr_usb_reset(void) __interrupt {
    usb_acknowledge(USBINT_URES);
    reset_pending = 1;
    suspend_pending = 0;
}

void isr_high_speed(void) __interrupt {
    usb_acknowledge(USBINT_HSGRANT);
}

/* Table entries for sources that are never enabled. */
void isr_unused(void) __interrupt {
    EXIF &= (uint8_t) ~(EXIF_USBINT | EXIF_IE4);
}

static void start_up(void) {
    CPUCS = (CPUCS & (uint8_t) ~(CPUCS_CLKSPD1 | CPUCS_CLKSPD0)) | CPUCS_CLKSPD1;
    IFCONFIG = IFCONFIG_IFCLKSRC | IFCONFIG_3048MHZ;
    SYNCDELAY;
    EP8CFG = EPCFG_VALID | EPCFG_DIR | EPCFG_TYPE1;
    SYNCDELAY;
    /* OUT buffers belong to the firmware after reset; each write of the
       byte count hands one of the two back to the USB side. */
    EP2BCL = EPBCL_SKIP;
    SYNCDELAY;
    EP2BCL = EPBCL_SKIP;
    SYNCDELAY;
    EP4BCL = EPBCL_SKIP;
    SYNCDELAY;
    EP4BCL = EPBCL_SKIP;
    SYNCDELAY;

    I2CTL = I2CTL_400KHZ;
    i2c_power_on();
    AUTOPTRSETUP = AUTOPTRSETUP_APTREN | AUTOPTRSETUP_APTR1INC | AUTOPTRSETUP_APTR2INC;
    hw_timebase_init();

    /* Requests left from before start-up are cleared, except a setup: the
       host may ask (the inquiry) the moment it released the CPU. By then the
       chip has copied the SETUP into SETUPDAT and raised SUDAV, and it NAKs
       the IN data stage until EP0's byte count is written and the status
       stage until HSNAK is cleared (technical reference: the SUTOK/SUDAV
       interrupts in the chapter on interrupts, EP0CS in the chapter on
       endpoint buffers). So the request waits for us; clearing SUDAV here
       would lose it and leave the host to its time-out. It is served from
       the loop like any other. */
    USBIRQ = (uint8_t)~USBINT_SUDAV;
    if (USBIRQ & USBINT_SUDAV) {
        USBIRQ = USBINT_SUDAV;
        setup_pending = 1;
    }
    EXIF &= (uint8_t)~EXIF_USBINT;
    USBIE = USBINT_SUDAV | USBINT_SUTOK | USBINT_SUSP | USBINT_URES | USBINT_HSGRANT;
    INTSETUP |= INTSETUP_AV2EN;
    EIE |= EIE_EUSB;
    EICON |= EICON_ERESI;
    EA = 1;
}

static void delay_ms(uint8_t ms) {
    while (ms--)
        hw_delay_units(50);
}

/* Called with a suspend seen. A transaction may have kept the main loop
   busy meanwhile, and the bus may have resumed already (the resume handler
   then withdrew the suspend): idling then would sleep through the host's
   next transaction, since bulk traffic raises no interrupt to end the idle. */
static void suspend(void) {
    WAKEUPCS |= WAKEUPCS_WU | WAKEUPCS_WU2;
    /* Writing SUSPEND (any value) is what lets the chip stop its oscillator
       and draw suspend current; idling the CPU alone keeps the chip powered.
       Idle then lasts until the resume interrupt (bus activity or a wake-up
       pin). */
    SUSPEND = 0;
    /* The last look at the flag and the idle must not be split by the resume
       interrupt: with interrupts off for the look, the one instruction that
       follows enabling them is the idle itself, and a resume already
       requested then ends the idle at once. */
    EA = 0;
    if (!suspend_pending) {
        EA = 1;
        return;
    }
    EA = 1;
    PCON |= PCON_IDLE;
    suspend_pending = 0;
    if ((WAKEUPCS & (WAKEUPCS_WU | WAKEUPCS_WU2)) && usb_remote_wakeup_enabled()) {
        /* Woken by a pin: the host allowed us to wake it, so signal resume
           for the 10 ms that lie within the 1..15 ms USB asks for. */
        USBCS |= USBCS_SIGRSUME;
        delay_ms(10);
        USBCS &= (uint8_t)~USBCS_SIGRSUME;
    }
    WAKEUPCS |= WAKEUPCS_WU | WAKEUPCS_WU2;
}

void main(void) {
    start_up();
    for (;;) {
        if (reset_pending) {
            reset_pending = 0;
            usb_bus_reset();
        }
        if (setup_pending) {
            setup_pending = 0;
            usb_handle_setup();
        }
        if (hw_out_ready())
            transaction_run();
        if (suspend_pending)
            suspend();
    }
}
