/*
 * The hardware layer: everything the transaction, interpreter, byte engine
 * and control requests need of the chip. On the FX2 (SDCC) the register accesses are macros over
 * the real registers; on the host the same names are functions that a fake
 * chip provides, so the logic above compiles unchanged with a host compiler.
 */
#ifndef BRANTLE_FW_HW_H
#define BRANTLE_FW_HW_H

#include <stdint.h>

/* A controller wait longer than this means a slave holds SCL low for good. */
#define HW_BUS_TIMEOUT_UNITS 1250 /* of 20 us: 25 ms */

#ifdef __SDCC

#include "fx2_registers.h"

#define HW_XDATA __xdata

#define hw_i2c_status() (I2CS)
/* START, STOP and LASTRD are written alone: I2CS is a status register, and
   writing back what was read could repeat a START or a LASTRD. */
#define hw_i2c_set(bits) (I2CS = (bits))
#define hw_i2c_read() (I2DAT)
#define hw_i2c_write(b) (I2DAT = (b))
#define hw_i2c_clock(fast)                                                                         \
    (I2CTL = (fast) ? (I2CTL | I2CTL_400KHZ) : (I2CTL & (uint8_t)~I2CTL_400KHZ))

#define hw_port_a() (IOA)
#define hw_port_a_outputs(mask) (OEA = (mask))

#define hw_out_ready() (!(EP2468STAT & EP2468STAT_EP4E))
#define hw_out_buffer() ((HW_XDATA const uint8_t *)EP4FIFOBUF)
#define hw_in_ready() (!(EP2468STAT & EP2468STAT_EP8F))
#define hw_in_buffer() ((HW_XDATA uint8_t *)EP8FIFOBUF)
#define hw_high_speed() (USBCS & USBCS_HSM)

#define hw_setup_packet() ((HW_XDATA const uint8_t *)SETUPDAT)
#define hw_ep0_buffer() ((HW_XDATA uint8_t *)EP0BUF)
#define hw_ep0_stall() (EP0CS |= EPCS_STALL)
#define hw_ep0_handshake() (EP0CS |= EP0CS_HSNAK)

/* Starts the timer behind hw_delay_units and the bus time-out. */
void hw_timebase_init(void);

#else

#define HW_XDATA

#ifdef __cplusplus
extern "C" {
#endif

uint8_t hw_i2c_status(void);
void hw_i2c_set(uint8_t bits);
uint8_t hw_i2c_read(void);
void hw_i2c_write(uint8_t b);
void hw_i2c_clock(uint8_t fast);

uint8_t hw_port_a(void);
void hw_port_a_outputs(uint8_t mask);

uint8_t hw_out_ready(void);
const uint8_t *hw_out_buffer(void);
uint8_t hw_in_ready(void);
uint8_t *hw_in_buffer(void);
uint8_t hw_high_speed(void);

const uint8_t *hw_setup_packet(void);
uint8_t *hw_ep0_buffer(void);
void hw_ep0_stall(void);
void hw_ep0_handshake(void);

#ifdef __cplusplus
}
#endif

#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * The byte engine's steps on the I2C controller. Each waits until the byte
 * in flight has finished (DONE, or BERR) and then does its part at once, so
 * that the bus does not stand idle between bytes: write the next byte, set
 * START and write the address, fetch I2DAT (which starts the next byte of a
 * read; after LASTRD that byte goes unacknowledged), or set STOP and fetch
 * the last byte of a read on the very next instruction, with interrupts
 * held off, as the controller requires. They return I2CS as it stood when
 * the byte finished, or 0 when nothing finished within the bus time-out, in
 * which case nothing further was done. A fetched byte lands in
 * hw_i2c_received.
 */
uint8_t hw_i2c_wait(void);
uint8_t hw_i2c_then_write(uint8_t b);
uint8_t hw_i2c_then_start(uint8_t b);
uint8_t hw_i2c_then_read(void);
uint8_t hw_i2c_then_last_read(void);
uint8_t hw_i2c_then_stop_read(void);
extern uint8_t hw_i2c_received;

/* Bytes in the EP4 OUT packet at hand, and giving that packet back. */
uint16_t hw_out_count(void);
void hw_out_release(void);
/* Sends n bytes written into hw_in_buffer() as one EP8 IN packet. */
void hw_in_commit(uint16_t n);

/* Sends n bytes written into hw_ep0_buffer() as the control transfer's data. */
void hw_ep0_send(uint8_t n);
/* Endpoint halt bits by endpoint address (0x80 = IN). hw_endpoint_halt
   returns 0 for an address the chip has no endpoint at; clearing a halt also
   restarts the endpoint's data toggle. */
uint8_t hw_endpoint_halt(uint8_t address, uint8_t *halted);
uint8_t hw_endpoint_set_halt(uint8_t address, uint8_t on);

void hw_copy(HW_XDATA uint8_t *dst, HW_XDATA const uint8_t *src, uint16_t n);

/* Busy-waits n units of 20 us. */
void hw_delay_units(uint16_t n);
/* The time source for bounding waits on the I2C controller. */
void hw_timeout_start(void);
uint8_t hw_timeout_expired(void);

/* Where transactions are stored; WIRE_COMMAND_BUFFER_SIZE bytes. */
extern HW_XDATA uint8_t command_buffer[];

#ifdef __cplusplus
}
#endif

#endif
