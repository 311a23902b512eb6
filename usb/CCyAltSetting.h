#ifndef BRANTLE_CCYALTSETTING_H
#define BRANTLE_CCYALTSETTING_H

#include "DriverPort.h"

#include <array>
#include <cstdint>
#include <memory>

class CCyUSBEndPoint;

// One interface descriptor (one alternate setting) with the endpoint objects
// of the endpoint descriptors that follow it. Slot 0 shows the device's
// control endpoint while this setting is current; slots 1.. hold the
// endpoints in descriptor order and are owned here.
class CCyAltSetting {
public:
    static constexpr int SlotCount = 16;
    static constexpr int MaxEndPoints = SlotCount - 1;
    // Class-specific and other foreign descriptors skipped between endpoints.
    static constexpr int MaxForeignDescriptors = 11;

    // `descriptors` starts at the interface descriptor; `size` is what the
    // device returned from there on. Nothing outside it is read.
    CCyAltSetting(DriverPort &port, DriverPort::Handle handle, const uint8_t *descriptors,
                  uint32_t size);
    ~CCyAltSetting();
    CCyAltSetting(const CCyAltSetting &) = delete;
    CCyAltSetting &operator=(const CCyAltSetting &) = delete;

    // Null for an empty or unknown slot.
    CCyUSBEndPoint *endPoints(int slot) const;
    void setControlEndPoint(CCyUSBEndPoint *endPoint) { m_controlEndPoint = endPoint; }

    uint8_t bLength = 0;
    uint8_t bDescriptorType = 0;
    uint8_t bInterfaceNumber = 0;
    uint8_t bAlternateSetting = 0;
    uint8_t bNumEndpoints = 0;
    uint8_t bInterfaceClass = 0;
    uint8_t bInterfaceSubClass = 0;
    uint8_t bInterfaceProtocol = 0;
    uint8_t iInterface = 0;
    uint8_t altSettingCount = 0; // settings of the configuration with this bInterfaceNumber
    uint16_t totalLength = 0;    // bytes of the configuration this setting consumed

private:
    CCyUSBEndPoint *m_controlEndPoint = nullptr;
    std::array<std::unique_ptr<CCyUSBEndPoint>, SlotCount> m_endPoints; // slot 0 unused
};

#endif
