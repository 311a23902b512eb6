#include "CCyDriverDevice.h"

#include "CCyAltSetting.h"
#include "CCyConfiguration.h"
#include "CCyControlEndPoint.h"
#include "ControlCode.h"
#include "RequestBlock.h"

#include <QStringList>

#include <algorithm>
#include <cstring>

namespace {

// Standard GET_DESCRIPTOR, device to host.
constexpr uint8_t GetDescriptorRequestType = 0x80;
constexpr uint8_t GetDescriptor = 6;
constexpr uint16_t DeviceDescriptorValue = 0x0100;
constexpr uint16_t ConfigurationDescriptorValue = 0x0200;
constexpr uint16_t StringDescriptorValue = 0x0300;
constexpr uint8_t StringDescriptorType = 3;
constexpr uint16_t EnglishUs = 0x0409;
constexpr int DeviceDescriptorSize = 18;
constexpr int ConfigurationHeaderSize = 9;
constexpr uint8_t HighSpeed = 2;

// Endpoint types by bmAttributes.
constexpr uint8_t Isochronous = 1;
constexpr uint8_t Bulk = 2;
constexpr uint8_t Interrupt = 3;

} // namespace

CCyDriverDevice::CCyDriverDevice(DriverPort &port,
                                 DriverPort::DeviceChangeHandler notificationHandler,
                                 const QUuid &interfaceGuid, bool openNow)
    : m_port(port), m_notificationHandler(std::move(notificationHandler)),
      m_interfaceGuid(interfaceGuid) {
    if (m_notificationHandler)
        m_classNotification =
            m_port.registerClassNotification(m_interfaceGuid, m_notificationHandler);
    if (openNow)
        open(m_deviceNumber);
}

CCyDriverDevice::~CCyDriverDevice() {
    // Unlike close(), never raise from here.
    if (m_handleNotification)
        m_port.unregisterNotification(m_handleNotification);
    if (hasHandle())
        m_port.closeDevice(m_handle);
    if (m_classNotification)
        m_port.unregisterNotification(m_classNotification);
}

uint8_t CCyDriverDevice::deviceCount() {
    QStringList paths;
    const bool listed = m_port.listDevices(m_interfaceGuid, paths);
    m_deviceCount = listed ? uint8_t(std::min<qsizetype>(paths.size(), 0xFF)) : 0;
    return m_deviceCount;
}

bool CCyDriverDevice::openHandle(uint8_t n) {
    // A handle still open here would be lost for good.
    close();
    auto fail = [this] {
        m_handle = DriverPort::InvalidHandle;
        m_deviceNumber = 0;
        return false;
    };
    const uint8_t count = deviceCount();
    if (count == 0 || n > count - 1)
        return fail();
    QStringList paths;
    if (!m_port.listDevices(m_interfaceGuid, paths) || n >= paths.size())
        return fail();
    m_devicePath = paths.at(n);
    m_handle = m_port.openDevice(m_devicePath);
    if (!hasHandle())
        return fail();
    return true;
}

void CCyDriverDevice::close() {
    if (!hasHandle())
        return;
    if (m_handleNotification) {
        if (!m_port.unregisterNotification(m_handleNotification))
            throw "Failed to close the handle notification handle.";
        m_handleNotification = 0;
    }
    if (!m_port.closeDevice(m_handle))
        throw "Failed to close handle to driver.";
    m_handle = DriverPort::InvalidHandle;
}

bool CCyDriverDevice::ioControl(uint32_t code, uint8_t *buffer, uint32_t length) {
    if (!hasHandle())
        return false;
    uint32_t bytes = 0;
    const bool ok = m_port.ioControl(m_handle, code, buffer, length, buffer, length, bytes);
    m_bytesReturned = bytes;
    return ok && bytes == length;
}

uint8_t CCyDriverDevice::altSetting() {
    uint8_t alt = 0;
    return ioControl(ControlCode::CurrentAltSetting, &alt, 1) ? alt : 0xFF;
}

bool CCyDriverDevice::open(uint8_t n) {
    release();
    if (!openHandle(n))
        return false;
    m_deviceNumber = n;

    readDeviceDescriptor();
    readLanguage();
    readString(m_deviceDescriptor[14], m_manufacturer);
    readString(m_deviceDescriptor[15], m_product);
    readString(m_deviceDescriptor[16], m_serialNumber);
    queryDriver();
    // Only two configurations are kept.
    for (int i = 0; i < std::min<int>(m_configurationCount, MaxConfigurations); ++i)
        readConfiguration(i);

    m_controlEndPoint = std::make_unique<CCyControlEndPoint>(m_port, m_handle);
    m_controlEndPoint->descriptorLength = 7;
    m_controlEndPoint->descriptorType = 5;
    m_controlEndPoint->address = 0;
    m_controlEndPoint->attributes = 0;
    m_controlEndPoint->maxPacketSize = m_maxPacketSize0;
    m_controlEndPoint->interval = 0;

    if (!m_configurations[0] || m_configurations[0]->altSettingCount == 0)
        return false;
    selectConfiguration(0);

    if (m_classNotification)
        m_handleNotification = m_port.registerHandleNotification(m_handle, m_notificationHandler);
    return true;
}

void CCyDriverDevice::release() {
    close();
    freeDescriptorObjects();
}

void CCyDriverDevice::freeDescriptorObjects() {
    m_deviceDescriptor.fill(0);
    // Alternate settings point at the control endpoint in slot 0; they go first.
    m_currentAltSetting = nullptr;
    m_currentAltSettingIndex = 0;
    for (int i = 0; i < MaxConfigurations; ++i) {
        m_configurations[size_t(i)].reset();
        m_rawConfigurations[size_t(i)].clear();
    }
    m_controlEndPoint.reset();
    m_isocIn = m_isocOut = m_bulkIn = m_bulkOut = m_interruptIn = m_interruptOut = nullptr;
    m_deviceCount = 0;
    m_configurationCount = 0;
    m_interfaceCount = 0;
    m_altSettingCount = 0;
}

bool CCyDriverDevice::readDescriptor(uint16_t wValue, uint16_t wIndex, uint16_t length,
                                     std::vector<uint8_t> &reply, bool systemStatusToo) {
    RequestBlock block(RequestBlock::HeaderSize + length);
    block.setSetupPacket(GetDescriptorRequestType, GetDescriptor, wValue, wIndex, length);
    block.setTimeoutSeconds(DescriptorTimeoutSeconds);
    block.setEndpointAddress(0);
    block.setData(RequestBlock::HeaderSize, length);
    const bool ok = ioControl(ControlCode::ControlTransfer, block.bytes(), block.size());
    m_usbStatus = block.usbStatus();
    if (systemStatusToo)
        m_systemStatus = block.systemStatus();
    if (!ok)
        return false;
    // ioControl succeeds only with the whole block back, so all `length`
    // bytes came from the device.
    reply.assign(block.bytes() + RequestBlock::HeaderSize,
                 block.bytes() + RequestBlock::HeaderSize + length);
    return true;
}

void CCyDriverDevice::readDeviceDescriptor() {
    m_deviceDescriptor.fill(0);
    std::vector<uint8_t> d;
    if (!readDescriptor(DeviceDescriptorValue, 0, DeviceDescriptorSize, d, true))
        return;
    std::copy(d.begin(), d.end(), m_deviceDescriptor.begin());
    m_bcdUSB = RequestBlock::read16(d.data(), 2);
    m_deviceClass = d[4];
    m_deviceSubClass = d[5];
    m_deviceProtocol = d[6];
    m_maxPacketSize0 = d[7];
    m_vendorId = RequestBlock::read16(d.data(), 8);
    m_productId = RequestBlock::read16(d.data(), 10);
    m_bcdDevice = RequestBlock::read16(d.data(), 12);
    m_configurationCount = d[17];
}

void CCyDriverDevice::readLanguage() {
    std::vector<uint8_t> header;
    if (!readDescriptor(StringDescriptorValue, 0, 2, header, false))
        return;
    std::vector<uint8_t> list;
    if (!readDescriptor(StringDescriptorValue, 0, header[0], list, false))
        return;
    // Only the language IDs that came back count, whatever bLength claims.
    const int length = std::min<int>(header[0], int(list.size()));
    const int count = (length - 2) / 2;
    uint16_t language = 0;
    for (int i = 0; i < count; ++i) {
        const uint16_t id = RequestBlock::read16(list.data(), uint32_t(2 + 2 * i));
        if (i == 0)
            language = id;
        if (id == EnglishUs)
            language = EnglishUs;
    }
    m_language = language;
}

void CCyDriverDevice::readString(uint8_t index, std::array<char16_t, TextLength> &text) {
    // Index 0 means the device has no such string (descriptor 0 is the language list).
    if (index == 0)
        return;
    std::vector<uint8_t> header;
    const uint16_t value = uint16_t(StringDescriptorValue + index);
    if (!readDescriptor(value, m_language, 2, header, true))
        return;
    std::vector<uint8_t> d;
    if (!readDescriptor(value, m_language, header[0], d, true))
        return;
    if (d.size() < 2)
        return;
    const size_t length = std::min<size_t>(d[0], d.size());
    if (length <= 2 || d[1] != StringDescriptorType)
        return;
    text.fill(0);
    const size_t units = std::min<size_t>((length - 2) / 2, TextLength - 1);
    for (size_t i = 0; i < units; ++i)
        text[i] = char16_t(RequestBlock::read16(d.data(), uint32_t(2 + 2 * i)));
}

void CCyDriverDevice::readConfiguration(int index) {
    const uint16_t value = uint16_t(ConfigurationDescriptorValue + index);
    std::vector<uint8_t> header;
    if (!readDescriptor(value, 0, ConfigurationHeaderSize, header, true))
        return;
    const uint16_t totalLength = RequestBlock::read16(header.data(), 2);
    std::vector<uint8_t> raw;
    if (!readDescriptor(value, 0, totalLength, raw, true))
        return;
    m_configurations[size_t(index)] =
        std::make_unique<CCyConfiguration>(m_port, m_handle, raw.data(), uint32_t(raw.size()));
    m_rawConfigurations[size_t(index)] = std::move(raw);
}

void CCyDriverDevice::queryDriver() {
    uint8_t address = 0;
    m_address = ioControl(ControlCode::DeviceAddress, &address, 1) ? address : 0;

    // The names keep whatever the driver wrote, success or not.
    m_deviceName.fill(0);
    ioControl(ControlCode::DeviceName, reinterpret_cast<uint8_t *>(m_deviceName.data()),
              TextLength);
    m_deviceName.back() = 0;
    m_friendlyName.fill(0);
    ioControl(ControlCode::FriendlyName, reinterpret_cast<uint8_t *>(m_friendlyName.data()),
              TextLength);
    m_friendlyName.back() = 0;

    uint8_t word[4] = {};
    m_driverVersion =
        ioControl(ControlCode::DriverVersion, word, 4) ? RequestBlock::read32(word, 0) : 0;
    std::memset(word, 0, sizeof word);
    m_usbInterfaceVersion =
        ioControl(ControlCode::UsbInterfaceVersion, word, 4) ? RequestBlock::read32(word, 0) : 0;
    std::memset(word, 0, sizeof word);
    m_highSpeed =
        ioControl(ControlCode::BusSpeed, word, 4) && RequestBlock::read32(word, 0) == HighSpeed;
}

void CCyDriverDevice::selectConfiguration(uint8_t index) {
    if (index >= MaxConfigurations || !m_configurations[index])
        return;
    const CCyConfiguration &configuration = *m_configurations[index];
    m_currentConfiguration = index;
    m_configValue = configuration.bConfigurationValue;
    m_configAttributes = configuration.bmAttributes;
    m_maxPower = configuration.bMaxPower;
    m_interfaceCount = configuration.bNumInterfaces;
    m_altSettingCount = configuration.altSettingCount;
    if (const CCyAltSetting *first = configuration.altSettings(0))
        m_interfaceNumber = first->bInterfaceNumber;

    const uint8_t alt = altSetting();
    for (int i = 0; i < configuration.altSettingCount; ++i) {
        CCyAltSetting *setting = configuration.altSettings(i);
        if (setting->bAlternateSetting != alt)
            continue;
        m_currentAltSettingIndex = uint8_t(i);
        m_currentAltSetting = setting;
        m_interfaceClass = setting->bInterfaceClass;
        m_interfaceSubClass = setting->bInterfaceSubClass;
        m_interfaceProtocol = setting->bInterfaceProtocol;
        selectEndpoints();
        return;
    }
}

bool CCyDriverDevice::SetAltIntfc(uint8_t alt) {
    if (alt == altSetting())
        return true;
    const CCyConfiguration *configuration = configurations(m_currentConfiguration);
    if (!configuration)
        return false;
    for (int i = 0; i < configuration->altSettingCount; ++i) {
        const CCyAltSetting *setting = configuration->altSettings(i);
        if (setting->bAlternateSetting != alt)
            continue;
        m_currentAltSettingIndex = uint8_t(i);
        // The driver selects on the interface it serves; no interface number travels.
        uint8_t buffer = alt;
        const bool ok = ioControl(ControlCode::SelectAltSetting, &buffer, 1);
        m_interfaceClass = setting->bInterfaceClass;
        m_interfaceSubClass = setting->bInterfaceSubClass;
        m_interfaceProtocol = setting->bInterfaceProtocol;
        selectEndpoints();
        return ok;
    }
    return false;
}

void CCyDriverDevice::selectEndpoints() {
    if (m_configurationCount == 0 || m_interfaceCount == 0)
        return;
    const CCyConfiguration *configuration = configurations(m_currentConfiguration);
    CCyAltSetting *setting =
        configuration ? configuration->altSettings(m_currentAltSettingIndex) : nullptr;
    if (!setting)
        return;
    m_currentAltSetting = setting;
    setting->setControlEndPoint(m_controlEndPoint.get());
    m_isocIn = m_isocOut = m_bulkIn = m_bulkOut = m_interruptIn = m_interruptOut = nullptr;
    if (!hasHandle())
        return;

    const int last = std::min<int>(setting->bNumEndpoints, CCyAltSetting::MaxEndPoints);
    for (int slot = 1; slot <= last; ++slot) {
        CCyUSBEndPoint *endPoint = setting->endPoints(slot);
        if (!endPoint)
            continue;
        if (m_driverVersion < DirectTransferDriverVersion)
            endPoint->useDirect = 0;
        const bool in = (endPoint->address & 0x80) != 0;
        CCyUSBEndPoint **shortcut = nullptr;
        switch (endPoint->attributes) {
        case Isochronous:
            shortcut = in ? &m_isocIn : &m_isocOut;
            break;
        case Bulk:
            shortcut = in ? &m_bulkIn : &m_bulkOut;
            break;
        case Interrupt:
            shortcut = in ? &m_interruptIn : &m_interruptOut;
            break;
        default:
            break;
        }
        if (shortcut && !*shortcut)
            *shortcut = endPoint;
    }
}

CCyConfiguration *CCyDriverDevice::configurations(int index) const {
    if (index < 0 || index >= MaxConfigurations)
        return nullptr;
    return m_configurations[size_t(index)].get();
}

const std::vector<uint8_t> &CCyDriverDevice::rawConfigurationDescriptor(int index) const {
    static const std::vector<uint8_t> none;
    if (index < 0 || index >= MaxConfigurations)
        return none;
    return m_rawConfigurations[size_t(index)];
}

QString CCyDriverDevice::deviceName() const {
    return QString::fromLocal8Bit(m_deviceName.data());
}

QString CCyDriverDevice::friendlyName() const {
    return QString::fromLocal8Bit(m_friendlyName.data());
}

QString CCyDriverDevice::manufacturer() const {
    return QString::fromUtf16(m_manufacturer.data());
}

QString CCyDriverDevice::product() const {
    return QString::fromUtf16(m_product.data());
}

QString CCyDriverDevice::serialNumber() const {
    return QString::fromUtf16(m_serialNumber.data());
}
