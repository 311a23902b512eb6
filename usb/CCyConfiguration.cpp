#include "CCyConfiguration.h"

#include "CCyAltSetting.h"

#include <algorithm>

namespace {
constexpr uint8_t InterfaceDescriptor = 4;
}

CCyConfiguration::CCyConfiguration(DriverPort &port, DriverPort::Handle handle,
                                   const uint8_t *descriptor, uint32_t size) {
    auto byte = [&](uint32_t offset) -> uint8_t { return offset < size ? descriptor[offset] : 0; };
    bLength = byte(0);
    bDescriptorType = byte(1);
    wTotalLength = uint16_t(byte(2) | byte(3) << 8);
    bNumInterfaces = byte(4);
    bConfigurationValue = byte(5);
    iConfiguration = byte(6);
    bmAttributes = byte(7);
    bMaxPower = byte(8);

    const uint32_t limit = std::min<uint32_t>(wTotalLength, size);
    uint32_t offset = bLength;
    while (offset < limit && altSettingCount < MaxAltSettings) {
        const uint8_t length = byte(offset);
        if (length == 0)
            break;
        if (byte(offset + 1) == InterfaceDescriptor) {
            auto setting =
                std::make_unique<CCyAltSetting>(port, handle, descriptor + offset, limit - offset);
            offset += setting->totalLength;
            m_altSettings[altSettingCount++] = std::move(setting);
        } else {
            offset += length;
        }
    }

    for (int i = 0; i < altSettingCount; ++i) {
        CCyAltSetting &setting = *m_altSettings[size_t(i)];
        setting.altSettingCount =
            uint8_t(std::count_if(m_altSettings.begin(), m_altSettings.begin() + altSettingCount,
                                  [&](const std::unique_ptr<CCyAltSetting> &other) {
                                      return other->bInterfaceNumber == setting.bInterfaceNumber;
                                  }));
    }
}

CCyConfiguration::~CCyConfiguration() = default;

CCyAltSetting *CCyConfiguration::altSettings(int index) const {
    if (index < 0 || index >= altSettingCount)
        return nullptr;
    return m_altSettings[size_t(index)].get();
}
