#ifndef BRANTLE_CCYDRIVERDEVICE_H
#define BRANTLE_CCYDRIVERDEVICE_H

#include "DriverPort.h"

#include <QString>
#include <QUuid>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

class CCyAltSetting;
class CCyConfiguration;
class CCyControlEndPoint;
class CCyUSBEndPoint;

// One adapter reached through the driver: its handle, descriptors,
// configurations, alternate settings and endpoints. Failures are reported by
// results; only close() raises (a plain character string).
class CCyDriverDevice {
public:
    static constexpr int MaxConfigurations = 2;
    static constexpr int TextLength = 256;
    // Drivers older than this cannot move bulk data outside the request block.
    static constexpr uint32_t DirectTransferDriverVersion = 0x01050500;
    // Descriptor requests give the device five seconds.
    static constexpr uint32_t DescriptorTimeoutSeconds = 5;

    // `notificationHandler` may be empty; when given, it receives the class's
    // arrivals and removals and the removal of the opened device.
    CCyDriverDevice(DriverPort &port, DriverPort::DeviceChangeHandler notificationHandler,
                    const QUuid &interfaceGuid, bool openNow);
    ~CCyDriverDevice();
    CCyDriverDevice(const CCyDriverDevice &) = delete;
    CCyDriverDevice &operator=(const CCyDriverDevice &) = delete;

    uint8_t deviceCount();
    bool openHandle(uint8_t n);
    void close();
    bool ioControl(uint32_t code, uint8_t *buffer, uint32_t length);
    uint8_t altSetting();
    bool open(uint8_t n);
    void release();
    void selectConfiguration(uint8_t index);
    bool SetAltIntfc(uint8_t alt);
    void selectEndpoints();

    CCyAltSetting *currentAltSetting() const { return m_currentAltSetting; }
    CCyControlEndPoint *controlEndPoint() const { return m_controlEndPoint.get(); }
    CCyUSBEndPoint *isocInEndPoint() const { return m_isocIn; }
    CCyUSBEndPoint *isocOutEndPoint() const { return m_isocOut; }
    CCyUSBEndPoint *bulkInEndPoint() const { return m_bulkIn; }
    CCyUSBEndPoint *bulkOutEndPoint() const { return m_bulkOut; }
    CCyUSBEndPoint *interruptInEndPoint() const { return m_interruptIn; }
    CCyUSBEndPoint *interruptOutEndPoint() const { return m_interruptOut; }
    CCyConfiguration *configurations(int index) const;
    const std::vector<uint8_t> &rawConfigurationDescriptor(int index) const;

    uint16_t language() const { return m_language; }
    uint32_t usbStatus() const { return m_usbStatus; }
    uint32_t systemStatus() const { return m_systemStatus; }
    uint32_t driverVersion() const { return m_driverVersion; }
    uint32_t usbInterfaceVersion() const { return m_usbInterfaceVersion; }
    QString deviceName() const;   // 8-bit text of the driver
    QString friendlyName() const; // 8-bit text of the driver
    QString manufacturer() const; // string descriptors, UTF-16
    QString product() const;
    QString serialNumber() const;
    QString devicePath() const { return m_devicePath; }
    uint16_t bcdUSB() const { return m_bcdUSB; }
    uint16_t vendorId() const { return m_vendorId; }
    uint16_t productId() const { return m_productId; }
    uint8_t address() const { return m_address; }
    uint8_t deviceClass() const { return m_deviceClass; }
    uint8_t deviceSubClass() const { return m_deviceSubClass; }
    uint8_t deviceProtocol() const { return m_deviceProtocol; }
    uint8_t maxPacketSize0() const { return m_maxPacketSize0; }
    uint16_t bcdDevice() const { return m_bcdDevice; }
    uint8_t configValue() const { return m_configValue; }
    uint8_t configAttributes() const { return m_configAttributes; }
    uint8_t maxPower() const { return m_maxPower; }
    uint8_t interfaceClass() const { return m_interfaceClass; }
    uint8_t interfaceSubClass() const { return m_interfaceSubClass; }
    uint8_t interfaceProtocol() const { return m_interfaceProtocol; }
    bool isHighSpeed() const { return m_highSpeed; }
    uint32_t bytesReturned() const { return m_bytesReturned; }
    const std::array<uint8_t, 18> &deviceDescriptor() const { return m_deviceDescriptor; }
    DriverPort::Handle handle() const { return m_handle; }
    bool hasHandle() const { return m_handle != DriverPort::InvalidHandle; }
    DriverPort::Registration classNotification() const { return m_classNotification; }
    DriverPort::Registration handleNotification() const { return m_handleNotification; }
    QUuid interfaceGuid() const { return m_interfaceGuid; }
    uint8_t storedDeviceCount() const { return m_deviceCount; }
    uint8_t interfaceCount() const { return m_interfaceCount; }
    uint8_t altSettingCount() const { return m_altSettingCount; }
    uint8_t configurationCount() const { return m_configurationCount; }
    uint8_t deviceNumber() const { return m_deviceNumber; }
    uint8_t currentConfiguration() const { return m_currentConfiguration; }
    uint8_t interfaceNumber() const { return m_interfaceNumber; }
    uint8_t currentAltSettingIndex() const { return m_currentAltSettingIndex; }

private:
    bool readDescriptor(uint16_t wValue, uint16_t wIndex, uint16_t length,
                        std::vector<uint8_t> &reply, bool systemStatusToo);
    void readDeviceDescriptor();
    void readLanguage();
    void readString(uint8_t index, std::array<char16_t, TextLength> &text);
    void readConfiguration(int index);
    void queryDriver();
    void freeDescriptorObjects();

    DriverPort &m_port;
    CCyAltSetting *m_currentAltSetting = nullptr;
    std::unique_ptr<CCyControlEndPoint> m_controlEndPoint;
    CCyUSBEndPoint *m_isocIn = nullptr;
    CCyUSBEndPoint *m_isocOut = nullptr;
    CCyUSBEndPoint *m_bulkIn = nullptr;
    CCyUSBEndPoint *m_bulkOut = nullptr;
    CCyUSBEndPoint *m_interruptIn = nullptr;
    CCyUSBEndPoint *m_interruptOut = nullptr;
    uint16_t m_language = 0;
    uint32_t m_usbStatus = 0;
    uint32_t m_systemStatus = 0;
    uint32_t m_driverVersion = 0;
    uint32_t m_usbInterfaceVersion = 0;
    std::array<char, TextLength> m_deviceName{};
    std::array<char, TextLength> m_friendlyName{};
    std::array<char16_t, TextLength> m_manufacturer{};
    std::array<char16_t, TextLength> m_product{};
    std::array<char16_t, TextLength> m_serialNumber{};
    QString m_devicePath;
    uint16_t m_bcdUSB = 0;
    uint16_t m_vendorId = 0;
    uint16_t m_productId = 0;
    uint8_t m_address = 0;
    uint8_t m_deviceClass = 0;
    uint8_t m_deviceSubClass = 0;
    uint8_t m_deviceProtocol = 0;
    uint8_t m_maxPacketSize0 = 0;
    uint16_t m_bcdDevice = 0;
    uint8_t m_configValue = 0;
    uint8_t m_configAttributes = 0;
    uint8_t m_maxPower = 0;
    uint8_t m_interfaceClass = 0;
    uint8_t m_interfaceSubClass = 0;
    uint8_t m_interfaceProtocol = 0;
    bool m_highSpeed = false;
    uint32_t m_bytesReturned = 0;
    std::array<uint8_t, 18> m_deviceDescriptor{};
    std::array<std::vector<uint8_t>, MaxConfigurations> m_rawConfigurations;
    std::array<std::unique_ptr<CCyConfiguration>, MaxConfigurations> m_configurations;
    DriverPort::DeviceChangeHandler m_notificationHandler;
    DriverPort::Handle m_handle = DriverPort::InvalidHandle;
    DriverPort::Registration m_classNotification = 0;
    DriverPort::Registration m_handleNotification = 0;
    QUuid m_interfaceGuid;
    uint8_t m_deviceCount = 0;
    uint8_t m_interfaceCount = 0;
    uint8_t m_altSettingCount = 0;
    uint8_t m_configurationCount = 0;
    uint8_t m_deviceNumber = 0;
    uint8_t m_currentConfiguration = 0;
    uint8_t m_interfaceNumber = 0;
    uint8_t m_currentAltSettingIndex = 0;
};

#endif
