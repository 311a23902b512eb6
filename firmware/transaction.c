#include "transaction.h"

#include "adapter_wire.h"
#include "interpreter.h"

#define HIGH_SPEED_PACKET 512
#define FULL_SPEED_PACKET 64

static HW_XDATA const uint8_t *wait_out_packet(void) {
    while (!hw_out_ready())
        ;
    return hw_out_buffer();
}

/* Reply packets are as long as the bus speed allows; only the last may be
   short, and a full last packet is not followed by a zero-length one. With
   src null the reply is the firmware-error answer: zeros, then 0x80. */
static void send_reply(HW_XDATA const uint8_t *src, uint16_t n) {
    uint16_t chunk;
    uint16_t k;
    HW_XDATA uint8_t *dst;

    while (n) {
        chunk = hw_high_speed() ? HIGH_SPEED_PACKET : FULL_SPEED_PACKET;
        if (chunk > n)
            chunk = n;
        while (!hw_in_ready())
            ;
        dst = hw_in_buffer();
        if (src) {
            hw_copy(dst, src, chunk);
            src += chunk;
        } else {
            for (k = 0; k < chunk; ++k)
                dst[k] = 0;
            if (chunk == n)
                dst[chunk - 1] = WIRE_STATUS_FIRMWARE_ERROR;
        }
        hw_in_commit(chunk);
        n -= chunk;
    }
}

void transaction_run(void) {
    HW_XDATA const uint8_t *packet = hw_out_buffer();
    uint16_t count = hw_out_count();
    uint16_t total;
    uint16_t reply;
    uint16_t got = 0;
    uint16_t take;
    uint8_t fits;
    HW_XDATA uint8_t *pad;

    if (count == 0) {
        hw_out_release(); /* an empty packet starts nothing */
        return;
    }
    /* The header normally opens the first packet; a host that cuts it up
       still gets it collected from the packets that follow. */
    for (;;) {
        take = WIRE_HEADER_SIZE - got;
        if (take > count)
            take = count;
        hw_copy(command_buffer + got, packet, take);
        got += take;
        if (got == WIRE_HEADER_SIZE)
            break;
        hw_out_release();
        packet = wait_out_packet();
        count = hw_out_count();
    }
    packet += take;
    count -= take;

    total = (uint16_t)(command_buffer[0] | ((uint16_t)command_buffer[1] << 8));
    reply = (uint16_t)(command_buffer[2] | ((uint16_t)command_buffer[3] << 8));
    if (total < WIRE_HEADER_SIZE)
        total = WIRE_HEADER_SIZE; /* the header itself has arrived in any case */
    /* The stream and its results share the buffer below the interrupt table. */
    fits = total <= WIRE_COMMAND_BUFFER_SIZE && reply <= WIRE_COMMAND_BUFFER_SIZE - total;

    for (;;) {
        if (count > total - got)
            count = total - got;
        if (fits)
            hw_copy(command_buffer + got, packet, count);
        got += count;
        hw_out_release();
        if (got >= total)
            break;
        packet = wait_out_packet();
        count = hw_out_count();
    }

    if (!fits) {
        send_reply(0, reply);
        return;
    }

    /* Two escapes with the code 0xFF, which the interpreter passes over. */
    command_buffer[0] = WireEscape;
    command_buffer[1] = 0xFF;
    command_buffer[2] = WireEscape;
    command_buffer[3] = 0xFF;
    got = interpret(command_buffer, total, WIRE_COMMAND_BUFFER_SIZE - total);
    /* A reply longer than the results ends in zeros, never in what an
       earlier transaction (or the image's filler) left in the buffer. */
    for (pad = command_buffer + total + got; got < reply; ++got)
        *pad++ = 0;
    send_reply(command_buffer + total, reply);
}
