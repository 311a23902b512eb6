#include "CCyControlEndPoint.h"

#include "ControlCode.h"

CCyControlEndPoint::CCyControlEndPoint(DriverPort &port, DriverPort::Handle handle)
    : CCyUSBEndPoint(port, handle) {
    initialise();
}

CCyControlEndPoint::CCyControlEndPoint(DriverPort &port, DriverPort::Handle handle,
                                       const uint8_t *descriptor)
    : CCyUSBEndPoint(port, handle, descriptor) {
    initialise();
}

void CCyControlEndPoint::initialise() {
    useDirect = 0;
}

uint8_t CCyControlEndPoint::requestTypeByte(uint32_t direction, uint32_t requestType,
                                            uint32_t recipient) {
    return uint8_t((direction & 1) << 7 | (requestType & 3) << 5 | (recipient & 0x1F));
}

uint32_t CCyControlEndPoint::timeoutSeconds(uint32_t timeoutMs) {
    if (timeoutMs > 0 && timeoutMs < 1000)
        return 1;
    return timeoutMs / 1000;
}

std::unique_ptr<RequestBlock> CCyControlEndPoint::beginTransfer(uint8_t *buffer, int length,
                                                                CompletionRecord &record) {
    // wLength is 16 bits: a longer control transfer cannot be expressed.
    if (!hasHandle() || length < 0 || length > 0xFFFF)
        return nullptr;
    isIn = direction == 1;
    auto block = bufferedBlock(buffer, uint32_t(length), 0);
    block->setSetupPacket(requestTypeByte(direction, requestType, recipient), request, value, index,
                          uint16_t(length));
    block->setTimeoutSeconds(timeoutSeconds(timeoutMs));
    block->setEndpointAddress(0);
    uint8_t *bytes = block->bytes();
    const uint32_t size = block->size();
    return start(ControlCode::ControlTransfer, std::move(block), bytes, size, record);
}
