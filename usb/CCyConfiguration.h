#ifndef BRANTLE_CCYCONFIGURATION_H
#define BRANTLE_CCYCONFIGURATION_H

#include "DriverPort.h"

#include <array>
#include <cstdint>
#include <memory>

class CCyAltSetting;

// One configuration descriptor set (configuration, interfaces, endpoints and
// whatever else the device interleaves), walked into alternate settings.
class CCyConfiguration {
public:
    static constexpr int MaxAltSettings = 8;

    // `descriptor` holds the configuration as the device returned it; nothing
    // outside its `size` bytes is read, whatever the lengths inside claim.
    CCyConfiguration(DriverPort &port, DriverPort::Handle handle, const uint8_t *descriptor,
                     uint32_t size);
    ~CCyConfiguration();
    CCyConfiguration(const CCyConfiguration &) = delete;
    CCyConfiguration &operator=(const CCyConfiguration &) = delete;

    // In descriptor order; null past altSettingCount.
    CCyAltSetting *altSettings(int index) const;

    uint8_t bLength = 0;
    uint8_t bDescriptorType = 0;
    uint16_t wTotalLength = 0;
    uint8_t bNumInterfaces = 0;
    uint8_t bConfigurationValue = 0;
    uint8_t iConfiguration = 0;
    uint8_t bmAttributes = 0;
    uint8_t bMaxPower = 0;
    uint8_t altSettingCount = 0;

private:
    std::array<std::unique_ptr<CCyAltSetting>, MaxAltSettings> m_altSettings;
};

#endif
