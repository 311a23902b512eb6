/* The controller steps of the hardware layer on the host, made of the fake
   chip's register accesses in the order the chip's own steps use. */
#include "hw.h"

#ifndef __SDCC

#define ST_STOP 0x40
#define ST_LASTRD 0x20
#define ST_START 0x80
#define ST_DONE 0x01

uint8_t hw_i2c_received;

uint8_t hw_i2c_wait(void) {
    uint8_t s;
    hw_timeout_start();
    for (;;) {
        s = hw_i2c_status();
        if (s & ST_DONE)
            return s;
        if (hw_timeout_expired())
            return 0;
    }
}

uint8_t hw_i2c_then_write(uint8_t b) {
    uint8_t s = hw_i2c_wait();
    if (s)
        hw_i2c_write(b);
    return s;
}

uint8_t hw_i2c_then_start(uint8_t b) {
    uint8_t s = hw_i2c_wait();
    if (s) {
        hw_i2c_set(ST_START);
        hw_i2c_write(b);
    }
    return s;
}

static uint8_t then_fetch(uint8_t bits) {
    uint8_t s = hw_i2c_wait();
    if (s) {
        hw_i2c_set(bits); /* 0 clears an earlier LASTRD */
        hw_i2c_received = hw_i2c_read();
    }
    return s;
}

uint8_t hw_i2c_then_read(void) {
    return then_fetch(0);
}

uint8_t hw_i2c_then_last_read(void) {
    return then_fetch(ST_LASTRD);
}

uint8_t hw_i2c_then_stop_read(void) {
    return then_fetch(ST_STOP);
}

#endif
