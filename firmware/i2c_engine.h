/*
 * The byte engine: drives the FX2's I2C controller one byte at a time for the
 * command interpreter and keeps the sticky error and NoAck flags.
 */
#ifndef BRANTLE_FW_I2C_ENGINE_H
#define BRANTLE_FW_I2C_ENGINE_H

#include "hw.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The engine as the CPU leaves reset: nothing left in the controller by a
   transaction given up on, the bus not taken. */
void i2c_power_on(void);
/* A new transaction: results go to dst, at most room of them are kept. */
void i2c_begin_transaction(HW_XDATA uint8_t *dst, uint16_t room);
/* Clears the error and NoAck flags (the stream's opening code). */
void i2c_clear_flags(void);
void i2c_clock(uint8_t fast);

void i2c_request_start(void);
void i2c_request_stop(void);
/* Hands one bus byte on; more says whether another bus byte follows it directly,
   which a read needs to know one byte early. */
void i2c_byte(uint8_t b, uint8_t more);
/* Finishes the byte in flight and any requested STOP. */
void i2c_complete(void);
/* Waits for the byte in flight without ending a read, so a pause can sit
   between two bytes of a read. */
void i2c_settle(void);
/* Whether the next bus byte would be a read placeholder. */
uint8_t i2c_in_read(void);
/* Whether a controller wait timed out in this transaction: bus work is then skipped. */
uint8_t i2c_abandoned(void);

void i2c_put_result(uint8_t b);
uint16_t i2c_result_count(void);
uint8_t i2c_status(void);

#ifdef __cplusplus
}
#endif

#endif
