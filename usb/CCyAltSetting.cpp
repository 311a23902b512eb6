#include "CCyAltSetting.h"

#include "CCyBulkEndPoint.h"
#include "CCyControlEndPoint.h"
#include "CCyInterruptEndPoint.h"
#include "CCyIsocEndPoint.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint8_t InterfaceDescriptor = 4;
constexpr uint8_t EndpointDescriptor = 5;

std::unique_ptr<CCyUSBEndPoint> makeEndPoint(DriverPort &port, DriverPort::Handle handle,
                                             const uint8_t *descriptor) {
    // The whole bmAttributes byte decides: an isochronous endpoint with
    // synchronisation bits set is not one we know how to drive.
    switch (descriptor[3]) {
    case 0:
        return std::make_unique<CCyControlEndPoint>(port, handle, descriptor);
    case 1:
        return std::make_unique<CCyIsocEndPoint>(port, handle, descriptor);
    case 2:
        return std::make_unique<CCyBulkEndPoint>(port, handle, descriptor);
    case 3:
        return std::make_unique<CCyInterruptEndPoint>(port, handle, descriptor);
    default:
        return nullptr;
    }
}

} // namespace

CCyAltSetting::CCyAltSetting(DriverPort &port, DriverPort::Handle handle,
                             const uint8_t *descriptors, uint32_t size) {
    auto byte = [&](uint32_t offset) -> uint8_t { return offset < size ? descriptors[offset] : 0; };
    bLength = byte(0);
    bDescriptorType = byte(1);
    bInterfaceNumber = byte(2);
    bAlternateSetting = byte(3);
    bNumEndpoints = byte(4);
    bInterfaceClass = byte(5);
    bInterfaceSubClass = byte(6);
    bInterfaceProtocol = byte(7);
    iInterface = byte(8);
    totalLength = bLength;

    const int wanted = std::min<int>(bNumEndpoints, MaxEndPoints);
    int taken = 0;
    int foreign = 0;
    uint32_t offset = bLength;
    while (taken < wanted && offset < size) {
        const uint8_t length = byte(offset);
        const uint8_t type = byte(offset + 1);
        // A zero length would never advance; an interface descriptor means the
        // endpoint count lied and the next setting has begun.
        if (length == 0 || type == InterfaceDescriptor)
            break;
        // A descriptor running past what the device returned is not taken.
        if (length > size - offset)
            break;
        if (type == EndpointDescriptor) {
            uint8_t descriptor[CCyUSBEndPoint::DescriptorSize] = {};
            std::memcpy(descriptor, descriptors + offset,
                        std::min<uint32_t>(length, sizeof descriptor));
            ++taken;
            m_endPoints[taken] = makeEndPoint(port, handle, descriptor);
        } else {
            if (foreign == MaxForeignDescriptors)
                break;
            ++foreign;
        }
        totalLength = uint16_t(totalLength + length);
        offset += length;
    }
}

CCyAltSetting::~CCyAltSetting() = default;

CCyUSBEndPoint *CCyAltSetting::endPoints(int slot) const {
    if (slot == 0)
        return m_controlEndPoint;
    if (slot < 0 || slot >= SlotCount)
        return nullptr;
    return m_endPoints[size_t(slot)].get();
}
