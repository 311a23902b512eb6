/* Control requests on EP0 that the chip hands to the firmware. */
#ifndef BRANTLE_FW_USB_CONTROL_H
#define BRANTLE_FW_USB_CONTROL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

void usb_handle_setup(void);
void usb_bus_reset(void);
uint8_t usb_remote_wakeup_enabled(void);

#ifdef __cplusplus
}
#endif

#endif
