/* The hardware layer's functions on the FX2 itself. */
#include "hw.h"

/* Timer 0 in 8-bit auto-reload mode at CLKOUT / 12 = 4 MHz overflows every
   80 counts: one overflow per 20 us unit, independent of how long the code
   polling it takes. */
#define TICKS_PER_UNIT 80

static uint16_t timeout_units;

void hw_timebase_init(void) {
    TR0 = 0;
    TMOD = (TMOD & 0xF0) | 0x02;
    CKCON &= (uint8_t)~0x08; /* T0M = 0: CLKOUT / 12 */
    TH0 = (uint8_t)(256 - TICKS_PER_UNIT);
    TL0 = (uint8_t)(256 - TICKS_PER_UNIT);
    TF0 = 0;
    TR0 = 1;
}

/* Restarts the unit in progress so that the first counted unit is whole. */
static void restart_unit(void) {
    TL0 = TH0;
    TF0 = 0;
}

void hw_delay_units(uint16_t n) {
    restart_unit();
    while (n) {
        if (TF0) {
            TF0 = 0;
            --n;
        }
    }
}

void hw_timeout_start(void) {
    restart_unit();
    timeout_units = 0;
}

uint8_t hw_timeout_expired(void) {
    if (TF0) {
        TF0 = 0;
        ++timeout_units;
    }
    return timeout_units >= HW_BUS_TIMEOUT_UNITS;
}

uint16_t hw_out_count(void) {
    return (uint16_t)((EP4BCH << 8) | EP4BCL);
}

void hw_out_release(void) {
    EP4BCL = EPBCL_SKIP;
    SYNCDELAY;
}

void hw_in_commit(uint16_t n) {
    EP8BCH = (uint8_t)(n >> 8);
    SYNCDELAY;
    EP8BCL = (uint8_t)n;
    SYNCDELAY;
}

/* The two auto-increment pointers copy a byte per MOVX pair without
   reloading DPTR. */
void hw_copy(HW_XDATA uint8_t *dst, HW_XDATA const uint8_t *src, uint16_t n) {
    AUTOPTRH1 = (uint8_t)((uint16_t)src >> 8);
    AUTOPTRL1 = (uint8_t)(uint16_t)src;
    AUTOPTRH2 = (uint8_t)((uint16_t)dst >> 8);
    AUTOPTRL2 = (uint8_t)(uint16_t)dst;
    while (n--)
        XAUTODAT2 = XAUTODAT1;
}

void hw_ep0_send(uint8_t n) {
    EP0BCH = 0;
    SYNCDELAY;
    EP0BCL = n;
    SYNCDELAY;
}

static __xdata volatile uint8_t *endpoint_cs(uint8_t address) {
    switch (address) {
    case 0x00:
    case 0x80:
        return &EP0CS;
    case 0x01:
        return &EP1OUTCS;
    case 0x81:
        return &EP1INCS;
    case 0x02:
        return &EP2CS;
    case 0x04:
        return &EP4CS;
    case 0x86:
        return &EP6CS;
    case 0x88:
        return &EP8CS;
    default:
        return 0;
    }
}

uint8_t hw_endpoint_halt(uint8_t address, uint8_t *halted) {
    __xdata volatile uint8_t *cs = endpoint_cs(address);
    if (!cs)
        return 0;
    *halted = (*cs & EPCS_STALL) ? 1 : 0;
    return 1;
}

uint8_t hw_endpoint_set_halt(uint8_t address, uint8_t on) {
    __xdata volatile uint8_t *cs = endpoint_cs(address);
    if (!cs)
        return 0;
    if (on) {
        *cs |= EPCS_STALL;
    } else {
        *cs &= (uint8_t)~EPCS_STALL;
        /* A cleared halt restarts the data toggle at DATA0. */
        TOGCTL = (address & 0x0F) | ((address & 0x80) ? TOGCTL_IO : 0);
        TOGCTL |= TOGCTL_R;
    }
    return 1;
}
