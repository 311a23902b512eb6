#include "interpreter.h"

#include "adapter_wire.h"
#include "i2c_engine.h"

static uint8_t pending;
static uint8_t pending_valid;

static void hand_pending_last(void) {
    if (pending_valid) {
        pending_valid = 0;
        i2c_byte(pending, 0);
    }
}

static void data_byte(uint8_t b) {
    if (pending_valid)
        i2c_byte(pending, 1);
    pending = b;
    pending_valid = 1;
}

/* One past the stream's last byte. */
static HW_XDATA const uint8_t *stream_end;

/* Whether the next thing on the bus from p on is another bus byte, passing
   over extended blocks and codes that leave the bus alone. */
static uint8_t bus_byte_follows(HW_XDATA const uint8_t *p) {
    uint8_t code;
    uint8_t n;

    while (p != stream_end) {
        if (*p != WireEscape)
            return 1;
        if ((uint16_t)(stream_end - p) < 2)
            return 0;
        code = p[1];
        p += 2;
        if (code == CmdZeroByte)
            return 1;
        if (code == CmdOpen || code == CmdStart || code == CmdStop)
            return 0;
        if (code == CmdWait) {
            if (p == stream_end)
                return 0;
            n = *p;
            if ((uint16_t)(stream_end - p) <= n)
                return 0;
            p += n ? n : 1;
        }
    }
    return 0;
}

/* `next` is where the stream goes on after the wait. Inside a read the
   placeholder waiting to go is handed on first, so the pause follows its
   byte; whether it is the read's last byte (LASTRD, then the STOP after the
   pause) depends on whether another bus byte comes after the wait. */
static void pause_units(uint16_t units, HW_XDATA const uint8_t *next) {
    if (i2c_in_read()) {
        /* Completing would end the read: only the byte in flight is waited for. */
        if (pending_valid) {
            pending_valid = 0;
            i2c_byte(pending, bus_byte_follows(next));
        }
        i2c_settle();
    } else {
        hand_pending_last();
        i2c_complete();
    }
    if (!i2c_abandoned())
        hw_delay_units(units);
}

/* The extended command's block starts at p with its length byte, which
   counts itself. Returns how many bytes to skip. */
static uint16_t extended(HW_XDATA const uint8_t *p) {
    uint8_t n = *p;
    uint8_t sub;

    if (n == 0)
        return 1;
    if ((uint16_t)(stream_end - p) < n)
        return (uint16_t)(stream_end - p); /* truncated block: nothing to act on */
    if (n < 2)
        return n;
    sub = p[1];
    if (sub == ExtWait && n >= 4) {
        pause_units((uint16_t)(p[2] | ((uint16_t)p[3] << 8)), p + n);
    } else if (sub == ExtPortADir && n >= 3) {
        hand_pending_last();
        i2c_complete();
        /* Pins 4..7 drive where their bit of x is 0; pins 0..3 stay inputs. */
        hw_port_a_outputs((uint8_t)((~p[2] & 0x0F) << 4));
    } else if (sub == ExtPortARead && n >= 3) {
        hand_pending_last();
        i2c_complete();
        i2c_put_result((uint8_t)((hw_port_a() >> 4) & 0x0F));
    }
    return n;
}

uint16_t interpret(HW_XDATA uint8_t *stream, uint16_t len, uint16_t room) {
    HW_XDATA const uint8_t *p = stream;
    uint8_t b;

    stream_end = stream + len;
    i2c_begin_transaction(stream + len, room);
    pending_valid = 0;

    while (p != stream_end) {
        b = *p++;
        if (b != WireEscape) {
            /* data_byte(b), written out: this is the path of every byte. */
            if (pending_valid)
                i2c_byte(pending, 1);
            pending = b;
            pending_valid = 1;
            continue;
        }
        if (p == stream_end)
            break; /* a lone escape at the end means nothing */
        b = *p++;
        switch (b) {
        case CmdZeroByte:
            data_byte(0);
            break;
        case CmdOpen:
            i2c_clear_flags();
            pending_valid = 0;
            break;
        case CmdClock100k:
            i2c_clock(0);
            break;
        case CmdClock400k:
            i2c_clock(1);
            break;
        case CmdStart:
            hand_pending_last();
            i2c_request_start();
            break;
        case CmdStop:
            i2c_request_stop();
            if (pending_valid)
                hand_pending_last();
            else
                i2c_complete(); /* nothing to wait for: stop now */
            break;
        case CmdWait:
            if (p != stream_end)
                p += extended(p);
            break;
        default:
            break; /* 0x02, 0x10, the header's 0xFF and unknown codes */
        }
    }

    hand_pending_last();
    i2c_complete();
    i2c_put_result(i2c_status());
    return i2c_result_count();
}
