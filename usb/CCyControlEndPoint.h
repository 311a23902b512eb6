#ifndef BRANTLE_CCYCONTROLENDPOINT_H
#define BRANTLE_CCYCONTROLENDPOINT_H

#include "CCyUSBEndPoint.h"

// Endpoint 0. The caller sets the request fields before each transfer; the
// data always travels inside the request block.
class CCyControlEndPoint : public CCyUSBEndPoint {
public:
    CCyControlEndPoint(DriverPort &port, DriverPort::Handle handle);
    CCyControlEndPoint(DriverPort &port, DriverPort::Handle handle, const uint8_t *descriptor);

    std::unique_ptr<RequestBlock> beginTransfer(uint8_t *buffer, int length,
                                                CompletionRecord &record) override;

    // The request's bmRequestType: direction (bit 7), type (bits 6..5), recipient.
    static uint8_t requestTypeByte(uint32_t direction, uint32_t requestType, uint32_t recipient);
    // Seconds in the block: a time-out under one second still gets one.
    static uint32_t timeoutSeconds(uint32_t timeoutMs);

    uint32_t recipient = 0;   // 0 = device
    uint32_t requestType = 2; // 0 standard, 1 class, 2 vendor
    uint32_t direction = 0;   // 0 = OUT (host to device), 1 = IN
    uint8_t request = 0;      // bRequest
    uint16_t value = 0;       // wValue
    uint16_t index = 0;       // wIndex

private:
    void initialise();
};

#endif
