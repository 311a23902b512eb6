#include "i2c_engine.h"

#include "adapter_wire.h"

/* I2CS bits, the same on both builds. */
#define ST_START 0x80
#define ST_STOP 0x40
#define ST_LASTRD 0x20
#define ST_BERR 0x04
#define ST_ACK 0x02
#define ST_DONE 0x01

static uint8_t flag_error;
static uint8_t flag_noack;
static uint8_t flag_timeout;

static uint8_t want_start;
static uint8_t want_stop;
static uint8_t busy;       /* a byte was started, its DONE not seen yet */
static uint8_t busy_write; /* that byte is an address or written data */
static uint8_t reading;    /* the last address asked for a read */
static uint8_t first_read; /* the next placeholder starts the read with a dummy read of I2DAT */
static uint8_t receiving;  /* a read byte was started and not yet fetched */
static uint8_t bus_taken;  /* a START went out and no STOP since */

static HW_XDATA uint8_t *results;
static uint16_t result_room;
static uint16_t result_count;

void i2c_begin_transaction(HW_XDATA uint8_t *dst, uint16_t room) {
    results = dst;
    result_room = room;
    result_count = 0;
    flag_timeout = 0;
    want_start = 0;
    want_stop = 0;
    busy = 0;
    reading = 0;
    first_read = 0;
    receiving = 0;
}

void i2c_clear_flags(void) {
    flag_error = 0;
    flag_noack = 0;
}

void i2c_clock(uint8_t fast) {
    hw_i2c_clock(fast);
}

void i2c_put_result(uint8_t b) {
    /* Beyond the room the bytes are counted but dropped: the memory behind
       the command buffer holds the interrupt table. */
    if (result_count < result_room)
        results[result_count] = b;
    ++result_count;
}

uint16_t i2c_result_count(void) {
    return result_count;
}

uint8_t i2c_status(void) {
    uint8_t s = 0;
    if (flag_error || flag_timeout)
        s |= WIRE_STATUS_FIRMWARE_ERROR;
    if (flag_noack)
        s |= WIRE_STATUS_NOACK;
    return s;
}

uint8_t i2c_abandoned(void) {
    return flag_timeout;
}

uint8_t i2c_in_read(void) {
    return reading && !want_start;
}

/* After a timeout the controller is left alone for the rest of the
   transaction; reads then yield 0xFF, what an idle bus would give. */
static void set_bits(uint8_t bits) {
    if (!flag_timeout)
        hw_i2c_set(bits);
}

static void write_data(uint8_t b) {
    if (!flag_timeout)
        hw_i2c_write(b);
}

static uint8_t read_data(void) {
    if (flag_timeout)
        return 0xFF;
    return hw_i2c_read();
}

/* Polls I2CS until one of the bits in mask is set (or, with invert, until
   all of them are clear). BERR ends every wait: after a bus error the
   controller may never report DONE. */
static uint8_t wait_for(uint8_t mask, uint8_t invert) {
    uint8_t s;
    hw_timeout_start();
    for (;;) {
        s = hw_i2c_status();
        if (s & ST_BERR)
            return s;
        if (invert ? !(s & mask) : (s & mask))
            return s;
        if (hw_timeout_expired()) {
            flag_timeout = 1;
            return 0;
        }
    }
}

void i2c_settle(void) {
    uint8_t s;
    if (!busy)
        return;
    busy = 0;
    if (flag_timeout)
        return;
    s = wait_for(ST_DONE, 0);
    if (flag_timeout)
        return;
    /* After a bus error the byte did not complete, so its missing ACK says
       nothing about the slave. */
    if (s & ST_BERR)
        flag_error = 1;
    else if (busy_write && !(s & ST_ACK))
        flag_noack = 1;
}

static void send_stop(void) {
    uint8_t s;
    set_bits(ST_STOP);
    if (!flag_timeout) {
        s = wait_for(ST_STOP, 1);
        if (s & ST_BERR)
            flag_error = 1;
    }
    bus_taken = 0;
    want_stop = 0;
}

void i2c_complete(void) {
    i2c_settle();
    if (receiving) {
        /* The last byte of a read: with STOP set, fetching it from I2DAT
           starts no further byte and the controller sends the STOP. A read
           ended any other way gets its STOP too, since after the byte
           marked LASTRD only a STOP frees the bus cleanly. */
        receiving = 0;
        first_read = 1;
        set_bits(ST_STOP);
        i2c_put_result(read_data());
        if (!flag_timeout) {
            uint8_t s = wait_for(ST_STOP, 1);
            if (s & ST_BERR)
                flag_error = 1;
        }
        bus_taken = 0;
        want_stop = 0;
    } else if (want_stop) {
        if (bus_taken)
            send_stop();
        want_stop = 0;
    }
}

void i2c_request_start(void) {
    want_start = 1;
}

void i2c_request_stop(void) {
    want_stop = 1;
}

void i2c_byte(uint8_t b, uint8_t more) {
    if (want_start) {
        /* A START right after a read (never sent by the host's grammar)
           first ends the read the only way the engine knows: its last byte
           and a STOP. */
        if (receiving)
            i2c_complete();
        i2c_settle();
        want_start = 0;
        set_bits(ST_START);
        write_data(b);
        busy = 1;
        busy_write = 1;
        bus_taken = 1;
        reading = b & 1;
        first_read = reading;
        receiving = 0;
    } else if (reading) {
        /* A placeholder: fetching I2DAT hands back the byte received before
           and starts the next one, so LASTRD must be set one fetch early. */
        i2c_settle();
        if (!more)
            set_bits(ST_LASTRD);
        if (first_read) {
            first_read = 0;
            (void)read_data();
        } else {
            i2c_put_result(read_data());
        }
        busy = 1;
        busy_write = 0;
        receiving = 1;
    } else {
        i2c_settle();
        write_data(b);
        busy = 1;
        busy_write = 1;
    }
    if (want_stop)
        i2c_complete();
}
