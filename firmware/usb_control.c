#include "usb_control.h"

#include "adapter_wire.h"
#include "hw.h"

#define REQTYPE_IN 0x80
#define REQTYPE_TYPE_MASK 0x60
#define REQTYPE_STANDARD 0x00
#define REQTYPE_VENDOR 0x40
#define REQTYPE_RECIPIENT_MASK 0x1F
#define RECIPIENT_DEVICE 0
#define RECIPIENT_INTERFACE 1
#define RECIPIENT_ENDPOINT 2

#define REQ_GET_STATUS 0x00
#define REQ_CLEAR_FEATURE 0x01
#define REQ_SET_FEATURE 0x03
#define REQ_GET_CONFIGURATION 0x08
#define REQ_SET_CONFIGURATION 0x09
#define REQ_GET_INTERFACE 0x0A
#define REQ_SET_INTERFACE 0x0B

#define FEATURE_ENDPOINT_HALT 0
#define FEATURE_REMOTE_WAKEUP 1

static uint8_t configuration;
static uint8_t alt_setting;
static uint8_t remote_wakeup;

uint8_t usb_remote_wakeup_enabled(void) {
    return remote_wakeup;
}

void usb_bus_reset(void) {
    configuration = 0;
    alt_setting = 0;
    remote_wakeup = 0;
}

/* Sends up to n bytes of EP0's buffer, no more than the host asked for. */
static void answer(HW_XDATA const uint8_t *setup, uint8_t n) {
    if (setup[7] == 0 && setup[6] < n)
        n = setup[6];
    hw_ep0_send(n);
}

/* Returns 0 when the request is not served and EP0 must stall. */
static uint8_t standard_request(HW_XDATA const uint8_t *setup) {
    HW_XDATA uint8_t *buf = hw_ep0_buffer();
    uint8_t recipient = setup[0] & REQTYPE_RECIPIENT_MASK;
    uint8_t halted = 0;

    switch (setup[1]) {
    case REQ_GET_STATUS:
        buf[0] = 0;
        buf[1] = 0;
        if (recipient == RECIPIENT_DEVICE) {
            if (remote_wakeup)
                buf[0] = 0x02;
        } else if (recipient == RECIPIENT_ENDPOINT) {
            if (!hw_endpoint_halt(setup[4], &halted))
                return 0;
            buf[0] = halted;
        } else if (recipient != RECIPIENT_INTERFACE) {
            return 0;
        }
        answer(setup, 2);
        return 1;
    case REQ_CLEAR_FEATURE:
    case REQ_SET_FEATURE:
        if (recipient == RECIPIENT_DEVICE && setup[2] == FEATURE_REMOTE_WAKEUP) {
            remote_wakeup = setup[1] == REQ_SET_FEATURE;
            return 1;
        }
        /* EP0 cannot be halted by request: its stall ends with the next setup. */
        if (recipient == RECIPIENT_ENDPOINT && setup[2] == FEATURE_ENDPOINT_HALT &&
            (setup[4] & 0x7F) != 0)
            return hw_endpoint_set_halt(setup[4], setup[1] == REQ_SET_FEATURE);
        return 0;
    case REQ_GET_CONFIGURATION:
        buf[0] = configuration;
        answer(setup, 1);
        return 1;
    case REQ_SET_CONFIGURATION:
        configuration = setup[2];
        return 1;
    case REQ_GET_INTERFACE:
        buf[0] = alt_setting;
        answer(setup, 1);
        return 1;
    case REQ_SET_INTERFACE:
        alt_setting = setup[2];
        return 1;
    default:
        /* Descriptors and the address are the chip's own business. */
        return 0;
    }
}

void usb_handle_setup(void) {
    HW_XDATA const uint8_t *setup = hw_setup_packet();
    uint8_t served = 0;

    if ((setup[0] & REQTYPE_TYPE_MASK) == REQTYPE_STANDARD) {
        served = standard_request(setup);
    } else if (setup[0] == (REQTYPE_IN | REQTYPE_VENDOR) && setup[1] == WIRE_REQUEST_INQUIRY) {
        hw_ep0_buffer()[0] = WIRE_INQUIRY_ANSWER;
        answer(setup, 1);
        served = 1;
    }
    if (!served)
        hw_ep0_stall();
    /* Lets the status stage of the control transfer complete. */
    hw_ep0_handshake();
}
