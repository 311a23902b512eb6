#include "UsbdevfsAdapter.h"

#include <umockdev.h>

#include <sys/ioctl.h>

#include <linux/usbdevice_fs.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

namespace {

constexpr int UsbDeviceMajor = 189;
// An empty reap is answered after this pause: libusb polls a umockdev device
// node that always looks ready, and would otherwise spin on it.
constexpr gulong EmptyReapPauseUs = 1000;

QString hex(const QByteArray &bytes) {
    return QString::fromLatin1(bytes.toHex().toUpper());
}

} // namespace

struct UsbdevfsAdapter::Urb {
    UMockdevIoctlData *urb = nullptr; // the client's usbdevfs_urb, kept until reaped
    UMockdevIoctlData *buffer = nullptr;
    unsigned long clientAddress = 0;
    bool control = false;
    bool zeroLengthSent = false;

    Urb() = default;
    Urb(const Urb &) = delete;
    Urb &operator=(const Urb &) = delete;
    ~Urb() {
        if (buffer)
            g_object_unref(buffer);
        if (urb)
            g_object_unref(urb);
    }
    usbdevfs_urb &fields() { return *reinterpret_cast<usbdevfs_urb *>(urb->data); }
    uint8_t *data() { return buffer ? buffer->data : nullptr; }
};

struct UsbdevfsAdapter::Port {
    UsbdevfsAdapter *owner = nullptr;
    UMockdevIoctlBase *handler = nullptr;
    QString deviceNode;
    bool plugged = true;
    bool attached = false;
    std::deque<std::unique_ptr<Urb>> pending;
    std::deque<std::unique_ptr<Urb>> done;
    std::unique_ptr<Urb> lastReaped; // alive until its reap has been answered
};

UsbdevfsAdapter::UsbdevfsAdapter(UMockdevTestbed *testbed, std::shared_ptr<Fx2Chip> chip)
    : m_testbed(testbed), m_chip(std::move(chip)) {}

UsbdevfsAdapter::~UsbdevfsAdapter() {
    if (plugged())
        unplug();
    for (auto &port : m_ports) {
        if (port->attached)
            umockdev_testbed_detach_ioctl(m_testbed, port->deviceNode.toUtf8().constData(),
                                          nullptr);
        g_object_unref(port->handler);
    }
}

bool UsbdevfsAdapter::plugged() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_ports.empty() && m_ports.back()->plugged;
}

int UsbdevfsAdapter::pendingUrbs() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ports.empty() ? 0 : int(m_ports.back()->pending.size());
}

int UsbdevfsAdapter::discardedUrbs() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_discarded;
}

void UsbdevfsAdapter::plug(int address, bool answering) {
    const QString node = QStringLiteral("bus/usb/%1/%2")
                             .arg(Bus, 3, 10, QLatin1Char('0'))
                             .arg(address, 3, 10, QLatin1Char('0'));
    QByteArray descriptors;
    QString product;
    QString manufacturer;
    bool highSpeed = true;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_chip->powerOn();
        m_pacer.start(m_chip->nowNs());
        // The kernel's "descriptors" file: the device descriptor followed by
        // every configuration descriptor in full.
        descriptors = m_chip->deviceDescriptor() + m_chip->configurationDescriptor();
        product = m_chip->productName();
        manufacturer = m_chip->manufacturerName();
        highSpeed = m_chip->highSpeed();
    }
    const QString record = QStringLiteral("P: /devices/pci0000:00/0000:00:14.0/usb%1/%1-1\n"
                                          "N: %2\n"
                                          "E: SUBSYSTEM=usb\n"
                                          "E: DEVTYPE=usb_device\n"
                                          "E: DEVNAME=/dev/%2\n"
                                          "E: BUSNUM=%3\n"
                                          "E: DEVNUM=%4\n"
                                          "E: PRODUCT=4b4/8613/a001\n"
                                          "A: busnum=%1\n"
                                          "A: devnum=%5\n"
                                          "A: dev=%6:%7\n"
                                          "A: speed=%11\n"
                                          "A: bConfigurationValue=1\n"
                                          "A: bNumConfigurations=1\n"
                                          "A: idVendor=04b4\n"
                                          "A: idProduct=8613\n"
                                          "A: product=%8\n"
                                          "A: manufacturer=%9\n"
                                          "H: descriptors=%10\n")
                               .arg(Bus)
                               .arg(node)
                               .arg(Bus, 3, 10, QLatin1Char('0'))
                               .arg(address, 3, 10, QLatin1Char('0'))
                               .arg(address)
                               .arg(UsbDeviceMajor)
                               .arg((Bus - 1) * 128 + address - 1)
                               .arg(product, manufacturer, hex(descriptors))
                               .arg(highSpeed ? 480 : 12); // Mbit/s
    GError *error = nullptr;
    if (!umockdev_testbed_add_from_string(m_testbed, record.toUtf8().constData(), &error))
        qFatal("cannot add the simulated adapter: %s", error ? error->message : "?");
    m_sysfsPath = QStringLiteral("/sys/devices/pci0000:00/0000:00:14.0/usb%1/%1-1").arg(Bus);
    m_deviceNode = QStringLiteral("/dev/") + node;

    auto port = std::make_unique<Port>();
    port->owner = this;
    port->deviceNode = m_deviceNode;
    port->handler = umockdev_ioctl_base_new();
    g_signal_connect(port->handler, "handle-ioctl", G_CALLBACK(onIoctl), port.get());
    if (answering) {
        if (!umockdev_testbed_attach_ioctl(m_testbed, m_deviceNode.toUtf8().constData(),
                                           port->handler, &error))
            qFatal("cannot attach the usbdevfs handler: %s", error ? error->message : "?");
        port->attached = true;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ports.push_back(std::move(port));
    }
    // Sent once sysfs is complete, so that a listener reads whole descriptors.
    umockdev_testbed_uevent(m_testbed, m_sysfsPath.toUtf8().constData(), "add");
}

void UsbdevfsAdapter::unplug() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_ports.empty() || !m_ports.back()->plugged)
            return;
        Port &port = *m_ports.back();
        port.plugged = false;
        while (!port.pending.empty()) {
            std::unique_ptr<Urb> urb = std::move(port.pending.front());
            port.pending.pop_front();
            finish(port, std::move(urb), -ESHUTDOWN);
        }
        m_chip->powerOn(); // power is gone, and the firmware with it
    }
    // Listeners read the device's attributes when they hear of the removal:
    // the uevent goes out while sysfs still has them.
    const QByteArray path = m_sysfsPath.toUtf8();
    umockdev_testbed_uevent(m_testbed, path.constData(), "remove");
    umockdev_testbed_remove_device(m_testbed, path.constData());
}

int UsbdevfsAdapter::onIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, void *self) {
    Port &port = *static_cast<Port *>(self);
    return port.owner->handle(port, client);
}

bool UsbdevfsAdapter::handle(Port &port, UMockdevIoctlClient *client) {
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    auto answer = [client](long result, int error) {
        umockdev_ioctl_client_complete(client, result, error);
        return true;
    };
    auto resolved = [arg](size_t length) {
        return umockdev_ioctl_data_resolve(arg, 0, length, nullptr);
    };

    if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY) {
        reap(port, client, arg);
        return true;
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!port.plugged)
        return answer(-1, ENODEV);
    catchUp();

    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData *data = resolved(sizeof(uint32_t));
        if (!data)
            return answer(-1, EFAULT);
        const uint32_t caps = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM;
        std::memcpy(data->data, &caps, sizeof caps);
        answer(0, 0);
        g_object_unref(data);
        return true;
    }
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE: {
        UMockdevIoctlData *data = resolved(sizeof(unsigned int));
        if (!data)
            return answer(-1, EFAULT);
        const unsigned int interface = *reinterpret_cast<unsigned int *>(data->data);
        g_object_unref(data);
        return answer(interface == 0 ? 0 : -1, interface == 0 ? 0 : ENOENT);
    }
    case USBDEVFS_DISCONNECT_CLAIM: {
        UMockdevIoctlData *data = resolved(sizeof(usbdevfs_disconnect_claim));
        if (!data)
            return answer(-1, EFAULT);
        const unsigned int interface =
            reinterpret_cast<usbdevfs_disconnect_claim *>(data->data)->interface;
        g_object_unref(data);
        return answer(interface == 0 ? 0 : -1, interface == 0 ? 0 : ENOENT);
    }
    case USBDEVFS_GETDRIVER:
        return answer(-1, ENODATA); // no kernel driver is bound to the chip
    case USBDEVFS_SETINTERFACE: {
        UMockdevIoctlData *data = resolved(sizeof(usbdevfs_setinterface));
        if (!data)
            return answer(-1, EFAULT);
        const usbdevfs_setinterface setting =
            *reinterpret_cast<usbdevfs_setinterface *>(data->data);
        g_object_unref(data);
        const bool ok = setting.interface == 0 && m_chip->setAltSetting(int(setting.altsetting));
        return answer(ok ? 0 : -1, ok ? 0 : EINVAL);
    }
    case USBDEVFS_SETCONFIGURATION:
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESETEP:
    case USBDEVFS_RESET:
        return answer(0, 0);
    case USBDEVFS_SUBMITURB:
        submit(port, client, arg);
        return true;
    case USBDEVFS_DISCARDURB:
        discard(port, client, arg);
        return true;
    default:
        return answer(-1, ENOTTY);
    }
}

void UsbdevfsAdapter::submit(Port &port, UMockdevIoctlClient *client, UMockdevIoctlData *arg) {
    auto urb = std::make_unique<Urb>();
    urb->urb = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
    if (!urb->urb) {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    urb->clientAddress = urb->urb->client_addr;
    usbdevfs_urb &f = urb->fields();
    if (f.buffer_length > 0) {
        urb->buffer = umockdev_ioctl_data_resolve(urb->urb, offsetof(usbdevfs_urb, buffer),
                                                  size_t(f.buffer_length), nullptr);
        if (!urb->buffer) {
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return;
        }
    }
    f.status = 0;
    f.actual_length = 0;

    switch (f.type) {
    case USBDEVFS_URB_TYPE_CONTROL:
        if (f.buffer_length < 8) {
            umockdev_ioctl_client_complete(client, -1, EINVAL);
            return;
        }
        beginControl(*urb);
        port.pending.push_back(std::move(urb));
        progress(port);
        break;
    case USBDEVFS_URB_TYPE_BULK:
    case USBDEVFS_URB_TYPE_INTERRUPT:
        // The kernel refuses endpoints that the current setting lacks.
        if (m_chip->endpoint(f.endpoint).maxPacket == 0) {
            umockdev_ioctl_client_complete(client, -1, ENOENT);
            return;
        }
        port.pending.push_back(std::move(urb));
        progress(port);
        break;
    default:
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return;
    }
    umockdev_ioctl_client_complete(client, 0, 0);
}

void UsbdevfsAdapter::catchUp() {
    m_chip->runUntil(m_pacer.allowedNs());
}

// A control URB carries the setup packet in its first eight bytes; the data
// stage follows. The chip answers at once or, when its firmware serves the
// request, once the firmware has answered.
void UsbdevfsAdapter::beginControl(Urb &urb) {
    urb.control = true;
    uint8_t *buffer = urb.data();
    UsbSetupPacket setup;
    setup.bmRequestType = buffer[0];
    setup.bRequest = buffer[1];
    setup.wValue = uint16_t(buffer[2] | buffer[3] << 8);
    setup.wIndex = uint16_t(buffer[4] | buffer[5] << 8);
    setup.wLength = uint16_t(buffer[6] | buffer[7] << 8);
    if (setup.wLength > urb.fields().buffer_length - 8)
        setup.wLength = 0; // refused below
    m_chip->beginControl(setup, buffer + 8);
}

void UsbdevfsAdapter::progress(Port &port) {
    for (auto it = port.pending.begin(); it != port.pending.end();) {
        const int status = progress(**it);
        if (status > 0) {
            ++it;
            continue;
        }
        std::unique_ptr<Urb> urb = std::move(*it);
        it = port.pending.erase(it);
        finish(port, std::move(urb), status);
    }
}

// 1 while the URB waits for the chip, else its final status. OUT data goes
// over packet by packet whenever the chip has a buffer free; an IN URB
// collects packets until it is full or a short packet ends it.
int UsbdevfsAdapter::progress(Urb &urb) {
    usbdevfs_urb &f = urb.fields();
    if (urb.control) {
        uint8_t *buffer = urb.data();
        if ((buffer[6] | buffer[7] << 8) > f.buffer_length - 8)
            return -EINVAL;
        if (m_chip->controlPending())
            return 1;
        const UsbTransferResult result = m_chip->controlResult(buffer + 8);
        if (result.status != UsbTransferStatus::Completed)
            return result.status == UsbTransferStatus::Stalled ? -EPIPE : -EPROTO;
        f.actual_length = result.bytes;
        return 0;
    }
    const Fx2Chip::Endpoint ep = m_chip->endpoint(f.endpoint);
    if (ep.maxPacket == 0)
        return 1;
    if (m_chip->endpointHalted(f.endpoint))
        return -EPIPE;
    uint8_t *buffer = urb.data();
    if (!(f.endpoint & 0x80)) {
        while (f.actual_length < f.buffer_length || (f.buffer_length == 0 && !urb.zeroLengthSent)) {
            if (!m_chip->acceptsOut(f.endpoint))
                return 1;
            const int n = std::min(ep.maxPacket, f.buffer_length - f.actual_length);
            m_chip->receiveOut(
                f.endpoint,
                QByteArray(reinterpret_cast<const char *>(buffer) + f.actual_length, n));
            f.actual_length += n;
            urb.zeroLengthSent = true;
        }
        return 0;
    }
    while (m_chip->hasIn(f.endpoint)) {
        const QByteArray packet = m_chip->takeIn(f.endpoint);
        if (packet.size() > f.buffer_length - f.actual_length)
            return -EOVERFLOW;
        std::memcpy(buffer + f.actual_length, packet.constData(), size_t(packet.size()));
        f.actual_length += int(packet.size());
        if (f.actual_length == f.buffer_length || packet.size() < ep.maxPacket)
            return 0;
    }
    return 1;
}

void UsbdevfsAdapter::finish(Port &port, std::unique_ptr<Urb> urb, int status) {
    urb->fields().status = status;
    port.done.push_back(std::move(urb));
}

void UsbdevfsAdapter::reap(Port &port, UMockdevIoctlClient *client, UMockdevIoctlData *arg) {
    std::unique_lock<std::mutex> lock(m_mutex);
    port.lastReaped.reset();
    if (port.plugged) {
        catchUp();
        progress(port);
    }
    if (!port.done.empty()) {
        UMockdevIoctlData *target = umockdev_ioctl_data_resolve(arg, 0, sizeof(void *), nullptr);
        if (!target) {
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return;
        }
        port.lastReaped = std::move(port.done.front());
        port.done.pop_front();
        umockdev_ioctl_data_set_ptr(target, 0, port.lastReaped->urb);
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(target);
        return;
    }
    if (!port.plugged) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return;
    }
    lock.unlock();
    g_usleep(EmptyReapPauseUs);
    umockdev_ioctl_client_complete(client, -1, EAGAIN);
}

void UsbdevfsAdapter::discard(Port &port, UMockdevIoctlClient *client, UMockdevIoctlData *arg) {
    // DISCARDURB passes the URB's address itself, not a pointer to it.
    unsigned long address = 0;
    std::memcpy(&address, arg->data, std::min<size_t>(sizeof address, size_t(arg->data_len)));
    for (auto it = port.pending.begin(); it != port.pending.end(); ++it) {
        if ((*it)->clientAddress != address)
            continue;
        std::unique_ptr<Urb> urb = std::move(*it);
        port.pending.erase(it);
        finish(port, std::move(urb), -ENOENT);
        ++m_discarded;
        umockdev_ioctl_client_complete(client, 0, 0);
        return;
    }
    umockdev_ioctl_client_complete(client, -1, EINVAL);
}
