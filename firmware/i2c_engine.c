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

/* What the controller was left doing when the firmware last gave up on it.
   That byte or STOP still goes out once the slave lets go of SCL, so until
   it has, the controller takes nothing new: a START and address written
   meanwhile would be lost, and the next data byte sent as the address. */
#define OWED_NOTHING 0
#define OWED_BYTE 1
#define OWED_STOP 2
static uint8_t owed;

static HW_XDATA uint8_t *results;
static HW_XDATA uint8_t *result_next;
static HW_XDATA uint8_t *result_end;
static uint16_t results_dropped;

void i2c_power_on(void) {
    owed = OWED_NOTHING;
    bus_taken = 0;
}

void i2c_begin_transaction(HW_XDATA uint8_t *dst, uint16_t room) {
    results = dst;
    result_next = dst;
    result_end = dst + room;
    results_dropped = 0;
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
    if (result_next != result_end)
        *result_next++ = b;
    else
        ++results_dropped;
}

uint16_t i2c_result_count(void) {
    return (uint16_t)(result_next - results) + results_dropped;
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

/* A stuck controller is an error like any other (sticky until the next
   opening code), and also ends the transaction's bus work: the time-out
   flag keeps the status an error to the end even if an opening code
   follows. */
static void gave_up(uint8_t left) {
    flag_timeout = 1;
    flag_error = 1;
    owed = left;
}

/* The byte that was in flight has finished with status s (0: the wait gave
   up on a stuck controller, and the rest of the transaction leaves it
   alone). */
static void finished(uint8_t s, uint8_t was_write) {
    if (!s) {
        gave_up(OWED_BYTE);
        return;
    }
    /* After a bus error the byte did not complete, so its missing ACK says
       nothing about the slave. */
    if (s & ST_BERR)
        flag_error = 1;
    else if (was_write && !(s & ST_ACK))
        flag_noack = 1;
}

/* Polls I2CS until STOP has gone out. BERR says nothing here: it belongs
   to the byte before the STOP (and was counted with it). */
static void wait_stop_sent(void) {
    hw_timeout_start();
    for (;;) {
        if (!(hw_i2c_status() & ST_STOP))
            return;
        if (hw_timeout_expired()) {
            gave_up(OWED_STOP);
            return;
        }
    }
}

/* Before the controller is given something new with nothing of ours in
   flight: what a transaction given up on left behind must have finished
   first (within the bus time-out, or this transaction gives up too). The
   bus may then still be ours; the next START is a repeated one, which also
   makes a slave drop a write left unfinished. */
static uint8_t controller_ready(void) {
    if (owed == OWED_BYTE) {
        if (!hw_i2c_wait()) {
            gave_up(OWED_BYTE);
            return 0;
        }
    } else if (owed == OWED_STOP) {
        wait_stop_sent();
        if (flag_timeout)
            return 0;
    }
    owed = OWED_NOTHING;
    return 1;
}

/* An address (with START) or a data byte to write, right when the byte
   before it is done. After a time-out the controller is left alone. */
static void put_write(uint8_t b, uint8_t start) {
    uint8_t was_write = busy_write;
    if (flag_timeout)
        return;
    if (busy) {
        finished(start ? hw_i2c_then_start(b) : hw_i2c_then_write(b), was_write);
    } else {
        if (!controller_ready())
            return;
        if (start)
            hw_i2c_set(ST_START);
        hw_i2c_write(b);
    }
    busy = 1;
    busy_write = 1;
}

/* Fetching I2DAT hands back the byte received before and starts the next
   one; `last` marks that next one as the read's last (not acknowledged).
   After a time-out reads yield 0xFF, what an idle bus would give. */
static uint8_t take_read(uint8_t last) {
    uint8_t s;
    if (flag_timeout)
        return 0xFF;
    if (busy) {
        s = last ? hw_i2c_then_last_read() : hw_i2c_then_read();
        if (busy_write) {
            finished(s, 1); /* the address */
        } else if (!s) {
            gave_up(OWED_BYTE);
        } else if (s & ST_BERR) {
            flag_error = 1;
        }
        if (flag_timeout)
            return 0xFF;
    } else {
        if (!controller_ready())
            return 0xFF;
        /* LASTRD set or cleared: a byte marked last earlier in this read
           (before a wait or a port command) does not mark this one. */
        hw_i2c_set(last ? ST_LASTRD : 0);
        hw_i2c_received = hw_i2c_read();
    }
    busy = 1;
    busy_write = 0;
    return hw_i2c_received;
}

void i2c_settle(void) {
    if (!busy)
        return;
    busy = 0;
    if (flag_timeout)
        return;
    finished(hw_i2c_wait(), busy_write);
}

/* The last byte of a read: with STOP set, fetching it from I2DAT starts no
   further byte and the controller sends the STOP. A read ended any other way
   (a START, a port command, the end of the stream) gets its STOP too, since
   after the byte marked LASTRD only a STOP frees the bus cleanly. A STOP the
   stream requested is left standing for the caller to settle. */
static void end_read(void) {
    uint8_t was_busy = busy;
    receiving = 0;
    first_read = 1;
    busy = 0;
    if (flag_timeout) {
        i2c_put_result(0xFF);
        return;
    }
    if (was_busy) {
        finished(hw_i2c_then_stop_read(), 0);
    } else if (!hw_i2c_then_stop_read()) {
        gave_up(OWED_BYTE); /* cannot happen: the byte was seen done already */
    }
    if (flag_timeout) {
        i2c_put_result(0xFF);
        return;
    }
    i2c_put_result(hw_i2c_received);
    bus_taken = 0;
    wait_stop_sent();
}

/* A STOP the controller never got to send (it was given up on) leaves the
   bus counted as taken, so that a later STOP still frees it. */
static void send_stop(void) {
    if (!flag_timeout && controller_ready()) {
        hw_i2c_set(ST_STOP);
        bus_taken = 0;
        wait_stop_sent();
    }
    want_stop = 0;
}

void i2c_complete(void) {
    if (receiving) {
        end_read();
        want_stop = 0;
        return;
    }
    i2c_settle();
    if (want_stop) {
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
    uint8_t got;

    if (want_start) {
        /* A START right after a read (never sent by the host's grammar)
           first ends the read the only way the engine knows: its last byte
           and a STOP. A STOP requested along with the START still follows
           the new address. */
        if (receiving)
            end_read();
        want_start = 0;
        put_write(b, 1);
        if (!flag_timeout)
            bus_taken = 1;
        reading = b & 1;
        first_read = reading;
        receiving = 0;
    } else if (reading) {
        /* A placeholder. The first one starts the read with a dummy fetch;
           LASTRD goes on one fetch early, with the byte before the last. */
        got = take_read(!more);
        if (first_read)
            first_read = 0;
        else
            i2c_put_result(got);
        receiving = 1;
    } else {
        put_write(b, 0);
    }
    if (want_stop)
        i2c_complete();
}
