// The descriptor walk of open() on a device whose descriptors are the input:
// device descriptor, two configurations, the language list and three
// strings, and the alternate setting the host reports. Every object the walk
// builds is then visited, every setting selected and a transfer tried on
// each of its endpoints; AddressSanitizer watches the reads, and the objects
// must agree with the bytes they came from.

#include "CCyAltSetting.h"
#include "CCyConfiguration.h"
#include "CCyDriverDevice.h"
#include "CCyUSBEndPoint.h"
#include "FakeUsbStack.h"
#include "FuzzInput.h"
#include "GenericUsbDriver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput input(data, size);
    FakeUsbStack stack;
    FakeUsbStack::Device device;
    device.info.path = QStringLiteral("fuzz");
    device.info.friendlyName = QStringLiteral("fuzzed adapter");
    device.alt = input.byte();
    device.altQueryFails = device.alt == 0xFF;
    const uint16_t language = input.word();
    device.descriptors[{0x0100, 0}] = input.piece();
    device.descriptors[{0x0200, 0}] = input.longPiece();
    device.descriptors[{0x0201, 0}] = input.longPiece();
    device.descriptors[{0x0300, 0}] = input.piece();
    for (uint16_t index = 1; index <= 3; ++index)
        device.descriptors[{uint16_t(0x0300 + index), language}] = input.piece();
    const QByteArray transferData = input.rest();
    stack.present.append(device);

    GenericUsbDriver driver(stack);
    CCyDriverDevice usb(driver, {}, DriverPort::adapterInterfaceClass(), true);
    (void)usb.manufacturer();
    (void)usb.product();
    (void)usb.serialNumber();

    for (int c = 0; c < CCyDriverDevice::MaxConfigurations; ++c) {
        const CCyConfiguration *configuration = usb.configurations(c);
        if (!configuration)
            continue;
        const auto &raw = usb.rawConfigurationDescriptor(c);
        FUZZ_CHECK(configuration->altSettingCount <= CCyConfiguration::MaxAltSettings);
        for (int a = 0; a < configuration->altSettingCount; ++a) {
            const CCyAltSetting *setting = configuration->altSettings(a);
            FUZZ_CHECK(setting != nullptr);
            // An endpoint object stands for a descriptor that was there.
            int endpoints = 0;
            for (int slot = 1; slot < CCyAltSetting::SlotCount; ++slot) {
                if (setting->endPoints(slot)) {
                    FUZZ_CHECK(slot <= setting->bNumEndpoints);
                    ++endpoints;
                }
            }
            FUZZ_CHECK(size_t(endpoints) < raw.size()); // each took a byte at least
        }
    }

    const CCyConfiguration *first = usb.configurations(0);
    for (int a = 0; first && a < first->altSettingCount; ++a) {
        const uint8_t alt = first->altSettings(a)->bAlternateSetting;
        usb.SetAltIntfc(alt);
        CCyAltSetting *current = usb.currentAltSetting();
        if (!current)
            continue;
        for (int slot = 0; slot < CCyAltSetting::SlotCount; ++slot) {
            CCyUSBEndPoint *endPoint = current->endPoints(slot);
            if (!endPoint || slot == 0)
                continue;
            FakeUsbStack::Reply reply;
            reply.data = transferData;
            stack.replies.append(reply);
            QByteArray buffer = transferData.left(64);
            buffer.resize(64);
            int length = int(buffer.size());
            endPoint->transfer(reinterpret_cast<uint8_t *>(buffer.data()), length);
            FUZZ_CHECK(length >= 0 && length <= 64);
        }
    }
    usb.release();
    return 0;
}
