/* The hardware layer's functions on the FX2 itself. */
#include "hw.h"

/* Timer 0 in 8-bit auto-reload mode at CLKOUT / 12 = 4 MHz overflows every
   80 counts: one overflow per 20 us unit, independent of how long the code
   polling it takes. */
#define TICKS_PER_UNIT 80

static uint16_t timeout_units;

void hw_timebase_init(void) {
    TR0 = 0;
    TMOD = (TMOD & 0xF0) | TMOD_M1_0; /* timer 0 in mode 2 */
    CKCON &= (uint8_t)~CKCON_T0M;     /* CLKOUT / 12 */
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

/*
 * The controller steps in assembly: from the moment DONE shows to the next
 * byte going out takes a handful of instruction cycles, which is what keeps
 * a 400 kHz bus busy. MPAGE points @R0 at I2CS and @R1 at I2DAT (the two
 * share a page), so the status poll, the write of I2CS and the access of
 * I2DAT are single instructions with no DPTR to reload between them.
 *
 * DONE is looked at every 7 cycles, and every fourth look also at the timer:
 * the bus then waits 3 to 10 cycles (0.25 to 0.8 us) for the next byte.
 *
 * The time-out counts Timer 0's 20 us units down in R4:R5 (R4 one above the
 * high byte, as DJNZ counts). The unit in progress is not restarted (that
 * would cost every byte two instructions), so the time-out may end up to one
 * unit early. Only DONE ends the wait: BERR comes with the DONE of the byte
 * that met the error, and should it still show in I2CS while the next byte
 * is in flight, taking it for the end would write I2DAT under that byte.
 */
#define STR_(x) #x
#define STR(x) STR_(x)
typedef char timeout_low_byte_must_not_be_zero[(HW_BUS_TIMEOUT_UNITS & 0xFF) ? 1 : -1];

uint8_t hw_i2c_received;

/* clang-format off */
#define I2C_WAIT                                                               \
    "    mov  _MPAGE,#(_I2CS >> 8)\n"                                          \
    "    mov  r0,#(_I2CS & 0xff)\n"                                            \
    "    mov  r1,#(_I2DAT & 0xff)\n"                                           \
    "    mov  r5,#(" STR(HW_BUS_TIMEOUT_UNITS) " & 0xff)\n"                    \
    "    mov  r4,#((" STR(HW_BUS_TIMEOUT_UNITS) " >> 8) + 1)\n"                \
    "00010$:\n"                                                                \
    "    movx a,@r0\n"                                                         \
    "    jb   acc.0,00020$\n"                                                  \
    "    movx a,@r0\n"                                                         \
    "    jb   acc.0,00020$\n"                                                  \
    "    movx a,@r0\n"                                                         \
    "    jb   acc.0,00020$\n"                                                  \
    "    movx a,@r0\n"                                                         \
    "    jb   acc.0,00020$\n"                                                  \
    "    jnb  _TF0,00010$\n"                                                   \
    "    clr  _TF0\n"                                                          \
    "    djnz r5,00010$\n"                                                     \
    "    djnz r4,00010$\n"
/* clang-format on */

#define I2C_TIMED_OUT                                                                              \
    "    mov  dpl,#0\n"                                                                            \
    "    ret\n"

uint8_t hw_i2c_wait(void) __naked {
    __asm__(I2C_WAIT I2C_TIMED_OUT "00020$:\n"
                                   "    mov  dpl,a\n"
                                   "    ret\n");
}

uint8_t hw_i2c_then_write(uint8_t b) __naked {
    (void)b;
    __asm__("    mov  r7,dpl\n" I2C_WAIT I2C_TIMED_OUT "00020$:\n"
            "    xch  a,r7\n"
            "    movx @r1,a\n"
            "    mov  dpl,r7\n"
            "    ret\n");
}

uint8_t hw_i2c_then_start(uint8_t b) __naked {
    (void)b;
    __asm__("    mov  r7,dpl\n" I2C_WAIT I2C_TIMED_OUT "00020$:\n"
            "    mov  r6,a\n"
            "    mov  a,#" STR(I2CS_START) "\n"
                                           "    movx @r0,a\n"
                                           "    mov  a,r7\n"
                                           "    movx @r1,a\n"
                                           "    mov  dpl,r6\n"
                                           "    ret\n");
}

uint8_t hw_i2c_then_read(void) __naked {
    __asm__(I2C_WAIT I2C_TIMED_OUT "00020$:\n"
                                   "    mov  r6,a\n"
                                   "    movx a,@r1\n"
                                   "    mov  _hw_i2c_received,a\n"
                                   "    mov  dpl,r6\n"
                                   "    ret\n");
}

uint8_t hw_i2c_then_last_read(void) __naked {
    __asm__(I2C_WAIT I2C_TIMED_OUT "00020$:\n"
                                   "    mov  r6,a\n"
                                   "    mov  a,#" STR(I2CS_LASTRD) "\n"
                                                                   "    movx @r0,a\n"
                                                                   "    movx a,@r1\n"
                                                                   "    mov  _hw_i2c_received,a\n"
                                                                   "    mov  dpl,r6\n"
                                                                   "    ret\n");
}

/* At 400 kHz an interrupt between setting STOP and fetching the last byte
   could let the controller finish the STOP first and clock in a byte more,
   so interrupts stay off from before the wait until the byte is fetched
   (R3 remembers whether they were on). */
uint8_t hw_i2c_then_stop_read(void) __naked {
    __asm__("    mov  r3,#0\n"
            "    jnb  _EA,00005$\n"
            "    clr  _EA\n"
            "    mov  r3,#1\n"
            "00005$:\n" I2C_WAIT "    mov  a,r3\n"
            "    jz   00006$\n"
            "    setb _EA\n"
            "00006$:\n" I2C_TIMED_OUT "00020$:\n"
            "    mov  r6,a\n"
            "    mov  a,#" STR(I2CS_STOP) "\n"
                                          "    movx @r0,a\n"
                                          "    movx a,@r1\n"
                                          "    mov  _hw_i2c_received,a\n"
                                          "    mov  a,r3\n"
                                          "    jz   00030$\n"
                                          "    setb _EA\n"
                                          "00030$:\n"
                                          "    mov  dpl,r6\n"
                                          "    ret\n");
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
