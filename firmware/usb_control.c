#include "usb_control.h"

#include "adapter_wire.h"
#include "fx2_registers.h"

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

/* The control/status register holding the halt bit of an endpoint address,
   or null for endpoints the chip does not have. */
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

static void answer(uint8_t n) {
    uint8_t length = SETUPDAT[6];
    if (SETUPDAT[7] == 0 && length < n)
        n = length;
    EP0BCH = 0;
    SYNCDELAY;
    EP0BCL = n;
    SYNCDELAY;
}

/* Returns 0 when the request is not served and EP0 must stall. */
static uint8_t standard_request(void) {
    uint8_t type = SETUPDAT[0];
    uint8_t recipient = type & REQTYPE_RECIPIENT_MASK;
    uint8_t feature = SETUPDAT[2];
    __xdata volatile uint8_t *cs;

    switch (SETUPDAT[1]) {
    case REQ_GET_STATUS:
        EP0BUF[0] = 0;
        EP0BUF[1] = 0;
        if (recipient == RECIPIENT_DEVICE) {
            if (remote_wakeup)
                EP0BUF[0] = 0x02;
        } else if (recipient == RECIPIENT_ENDPOINT) {
            cs = endpoint_cs(SETUPDAT[4]);
            if (!cs)
                return 0;
            if (*cs & EPCS_STALL)
                EP0BUF[0] = 0x01;
        } else if (recipient != RECIPIENT_INTERFACE) {
            return 0;
        }
        answer(2);
        return 1;
    case REQ_CLEAR_FEATURE:
    case REQ_SET_FEATURE:
        if (recipient == RECIPIENT_DEVICE && feature == FEATURE_REMOTE_WAKEUP) {
            remote_wakeup = SETUPDAT[1] == REQ_SET_FEATURE;
            return 1;
        }
        if (recipient == RECIPIENT_ENDPOINT && feature == FEATURE_ENDPOINT_HALT) {
            uint8_t address = SETUPDAT[4];
            cs = endpoint_cs(address);
            if (!cs || (address & 0x7F) == 0)
                return 0;
            if (SETUPDAT[1] == REQ_SET_FEATURE) {
                *cs |= EPCS_STALL;
            } else {
                *cs &= (uint8_t)~EPCS_STALL;
                /* A cleared halt restarts the endpoint's data toggle at DATA0. */
                TOGCTL = (address & 0x0F) | ((address & 0x80) ? TOGCTL_IO : 0);
                TOGCTL |= TOGCTL_R;
            }
            return 1;
        }
        return 0;
    case REQ_GET_CONFIGURATION:
        EP0BUF[0] = configuration;
        answer(1);
        return 1;
    case REQ_SET_CONFIGURATION:
        configuration = SETUPDAT[2];
        return 1;
    case REQ_GET_INTERFACE:
        EP0BUF[0] = alt_setting;
        answer(1);
        return 1;
    case REQ_SET_INTERFACE:
        alt_setting = SETUPDAT[2];
        return 1;
    default:
        /* Descriptors and the address are the chip's own business. */
        return 0;
    }
}

void usb_handle_setup(void) {
    uint8_t type = SETUPDAT[0];
    uint8_t served = 0;

    if ((type & REQTYPE_TYPE_MASK) == REQTYPE_STANDARD) {
        served = standard_request();
    } else if (type == (REQTYPE_IN | REQTYPE_VENDOR) && SETUPDAT[1] == WIRE_REQUEST_INQUIRY) {
        EP0BUF[0] = WIRE_INQUIRY_ANSWER;
        answer(1);
        served = 1;
    }
    if (!served)
        EP0CS |= EPCS_STALL;
    /* Lets the status stage of the control transfer complete. */
    EP0CS |= EP0CS_HSNAK;
}
