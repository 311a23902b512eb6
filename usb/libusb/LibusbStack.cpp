#include "LibusbStack.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMetaObject>
#include <QSocketNotifier>
#include <QtGlobal>

#include <libusb.h>

#include <algorithm>
#ifndef Q_OS_WIN
#include <poll.h>
#include <sys/time.h>
#endif

namespace {

constexpr int AdapterInterface = 0;
constexpr int StringTimeoutMs = 1000;
constexpr int AltSettingTimeoutMs = 5000;
// A cancelled transfer comes back as soon as the kernel has discarded it;
// this only bounds the wait for a host controller that never answers.
constexpr int CancelGraceMs = 10000;
constexpr uint16_t LanguageEnglishUs = 0x0409;

constexpr uint8_t GetInterfaceRequestType = 0x81; // IN, standard, interface
constexpr uint8_t GetInterfaceRequest = 0x0A;

const char *const UdevRuleName = "60-brantle.rules";

UsbTransferStatus statusOfError(int error) {
    switch (error) {
    case LIBUSB_ERROR_PIPE:
        return UsbTransferStatus::Stalled;
    case LIBUSB_ERROR_TIMEOUT:
    case LIBUSB_ERROR_INTERRUPTED:
        return UsbTransferStatus::Cancelled;
    case LIBUSB_ERROR_NO_DEVICE:
        return UsbTransferStatus::NoDevice;
    default:
        return UsbTransferStatus::Failed;
    }
}

UsbTransferStatus statusOfTransfer(int status) {
    switch (status) {
    case LIBUSB_TRANSFER_COMPLETED:
        return UsbTransferStatus::Completed;
    case LIBUSB_TRANSFER_STALL:
        return UsbTransferStatus::Stalled;
    case LIBUSB_TRANSFER_CANCELLED:
    case LIBUSB_TRANSFER_TIMED_OUT:
        return UsbTransferStatus::Cancelled;
    case LIBUSB_TRANSFER_NO_DEVICE:
        return UsbTransferStatus::NoDevice;
    default: // error, overflow
        return UsbTransferStatus::Failed;
    }
}

QString hex4(uint16_t value) {
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0')).toUpper();
}

QString plainDescription(uint16_t vendorId, uint16_t productId) {
    return QStringLiteral("USB device %1:%2").arg(hex4(vendorId), hex4(productId));
}

timeval interval(qint64 ms) {
    timeval tv{};
    tv.tv_sec = decltype(tv.tv_sec)(ms / 1000);
    tv.tv_usec = decltype(tv.tv_usec)((ms % 1000) * 1000);
    return tv;
}

QString deviceNode(libusb_device *device) {
#ifdef Q_OS_WIN
    return QStringLiteral("USB bus %1, device %2")
        .arg(libusb_get_bus_number(device))
        .arg(libusb_get_device_address(device));
#else
    return QStringLiteral("/dev/bus/usb/%1/%2")
        .arg(libusb_get_bus_number(device), 3, 10, QLatin1Char('0'))
        .arg(libusb_get_device_address(device), 3, 10, QLatin1Char('0'));
#endif
}

// Bus first, then the ports from the root hub down, compared as numbers.
std::vector<int> sortKey(libusb_device *device) {
    std::vector<int> key{libusb_get_bus_number(device)};
    uint8_t ports[8];
    const int n = libusb_get_port_numbers(device, ports, int(sizeof ports));
    for (int i = 0; i < n; ++i)
        key.push_back(ports[i]);
    return key;
}

QString openFailure(int error, const QString &path, const QString &node) {
#ifdef Q_OS_WIN
    Q_UNUSED(node) // no device node to name there
#endif
    switch (error) {
#ifdef Q_OS_WIN
    // WinUSB lets one program at a time open a device.
    case LIBUSB_ERROR_ACCESS:
        return QCoreApplication::translate("LibusbStack",
                                           "The adapter at USB port %1 is in use by another "
                                           "program, or you may not use it.")
            .arg(path);
#else
    case LIBUSB_ERROR_ACCESS:
        return QStringLiteral(
                   "No permission to use the adapter at USB port %1 (%2). Install the udev "
                   "rule: copy packaging/%3 to /etc/udev/rules.d/, run \"udevadm control "
                   "--reload-rules && udevadm trigger\" and plug the adapter in again.")
            .arg(path, node, QLatin1String(UdevRuleName));
#endif
    case LIBUSB_ERROR_BUSY:
        return QStringLiteral("The adapter at USB port %1 is in use by another program.").arg(path);
    case LIBUSB_ERROR_NO_DEVICE:
    case LIBUSB_ERROR_NOT_FOUND:
        return QStringLiteral("The adapter at USB port %1 is no longer there.").arg(path);
    default:
        return QStringLiteral("Cannot open the adapter at USB port %1: %2")
            .arg(path, QString::fromUtf8(libusb_strerror(error)));
    }
}

} // namespace

// libusb calls plain C functions; these forward to the stack.
struct LibusbCallbacks {
    static void LIBUSB_CALL transferDone(libusb_transfer *transfer) {
        auto *t = static_cast<LibusbStack::Transfer *>(transfer->user_data);
        t->outcome.status = statusOfTransfer(transfer->status);
        t->outcome.bytes = transfer->actual_length;
        t->done = 1;
        if (t->outcome.status == UsbTransferStatus::NoDevice) {
            if (LibusbStack::Session *s = t->stack->session(t->session))
                s->gone = true;
        }
    }

    // Runs inside libusb's event handling, where the device list must not be
    // touched: the change is queued and handled from the event loop.
    static int LIBUSB_CALL hotplug(libusb_context *, libusb_device *device,
                                   libusb_hotplug_event event, void *self) {
        auto *stack = static_cast<LibusbStack *>(self);
        const QString path = LibusbStack::pathOf(device);
        const bool arrived = event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED;
        if (!arrived)
            stack->markGone(device);
        QMetaObject::invokeMethod(
            stack, [stack, path, arrived] { stack->deviceChanged(path, arrived); },
            Qt::QueuedConnection);
        return 0;
    }

    static void LIBUSB_CALL pollfdAdded(int fd, short events, void *self) {
        static_cast<LibusbStack *>(self)->watch(fd, events);
    }

    static void LIBUSB_CALL pollfdRemoved(int fd, void *self) {
        static_cast<LibusbStack *>(self)->unwatch(fd);
    }
};

const QVector<LibusbStack::Identity> &LibusbStack::adapterIdentities() {
    // The FX2's own identity, which it shows until firmware says otherwise;
    // the adapter firmware keeps it.
    static const QVector<Identity> table{{0x04B4, 0x8613}};
    return table;
}

LibusbStack::LibusbStack(QObject *parent, ChangeSource changes, int pollIntervalMs,
                         EventSource events)
    : QObject(parent) {
    const int r = libusb_init(&m_context);
    if (r != LIBUSB_SUCCESS) {
        m_context = nullptr;
        m_initError = QStringLiteral("USB access could not be started: %1")
                          .arg(QString::fromUtf8(libusb_strerror(r)));
        return;
    }
#ifndef Q_OS_WIN
    if (events != EventSource::Timer) {
        libusb_set_pollfd_notifiers(m_context, LibusbCallbacks::pollfdAdded,
                                    LibusbCallbacks::pollfdRemoved, this);
        if (const libusb_pollfd **fds = libusb_get_pollfds(m_context)) {
            for (const libusb_pollfd **p = fds; *p; ++p)
                watch((*p)->fd, (*p)->events);
            libusb_free_pollfds(fds);
        }
    }
#endif
    // On Windows libusb has no descriptors to give: finished transfers are
    // only picked up by handling its events. Waits do that themselves; the
    // timer covers a transfer that is looked at without waiting.
    if (m_notifiers.empty()) {
        if (events != EventSource::Timer)
            libusb_set_pollfd_notifiers(m_context, nullptr, nullptr, nullptr);
        m_timerEvents = true;
        m_eventTimer.setInterval(EventTimerMs);
        connect(&m_eventTimer, &QTimer::timeout, this, &LibusbStack::handleEventsOnTimer);
    }
    // Bulk transfers carry no libusb time-out and control transfers handle
    // their own, so libusb never needs a timer of ours even where it has no
    // timer descriptor.

    if (changes == ChangeSource::Automatic && libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) {
        for (const Identity &id : adapterIdentities()) {
            libusb_hotplug_callback_handle handle = 0;
            const int events =
                LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT;
            if (libusb_hotplug_register_callback(m_context, libusb_hotplug_event(events),
                                                 LIBUSB_HOTPLUG_NO_FLAGS, id.vendorId, id.productId,
                                                 LIBUSB_HOTPLUG_MATCH_ANY, LibusbCallbacks::hotplug,
                                                 this, &handle) == LIBUSB_SUCCESS)
                m_hotplugHandles.append(handle);
        }
    }
    if (m_hotplugHandles.isEmpty()) {
        m_knownPaths = presentPaths();
        bool polling = changes == ChangeSource::Polling;
#ifndef Q_OS_WIN
        // Windows has the device-change message instead: listing there asks
        // the system for every USB device, too dear to do every second.
        polling = polling || changes == ChangeSource::Automatic;
#endif
        m_onSystemMessages = !polling;
        if (polling) {
            m_pollTimer.setInterval(std::max(1, pollIntervalMs));
            connect(&m_pollTimer, &QTimer::timeout, this, &LibusbStack::pollDeviceList);
            m_pollTimer.start();
        }
    }
}

LibusbStack::~LibusbStack() {
    if (!m_context)
        return;
    m_pollTimer.stop();
    m_eventTimer.stop();
    for (int handle : m_hotplugHandles)
        libusb_hotplug_deregister_callback(m_context, handle);
    while (!m_sessions.empty())
        close(m_sessions.begin()->first);
    for (auto it = m_transfers.begin(); it != m_transfers.end();) {
        const TransferId id = it->first;
        ++it;
        release(id);
    }
    libusb_set_pollfd_notifiers(m_context, nullptr, nullptr, nullptr);
    m_notifiers.clear();
    libusb_exit(m_context);
}

QString LibusbStack::pathOf(libusb_device *device) {
    QString path = QString::number(libusb_get_bus_number(device));
    uint8_t ports[8];
    const int n = libusb_get_port_numbers(device, ports, int(sizeof ports));
    for (int i = 0; i < n; ++i)
        path += (i == 0 ? QLatin1Char('-') : QLatin1Char('.')) + QString::number(ports[i]);
    return path;
}

bool LibusbStack::isAdapter(libusb_device *device) {
    libusb_device_descriptor descriptor;
    if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS)
        return false;
    const QVector<Identity> &table = adapterIdentities();
    return std::any_of(table.begin(), table.end(), [&descriptor](const Identity &id) {
        return id.vendorId == descriptor.idVendor && id.productId == descriptor.idProduct;
    });
}

// libusb lists every USB device, also those bound to a driver it cannot use
// (on Windows the chip maker's generic driver, which serves the adapter
// through its own port); opening one fails as not supported. Those are left
// out, so that no adapter is listed twice. Whether a device is held so is
// asked once per plug-in.
bool LibusbStack::servedByOtherDriver(libusb_device *device, const QString &path) {
    const auto known = m_foreign.find(path);
    if (known != m_foreign.end())
        return known->second;
    for (const auto &entry : m_sessions) {
        if (libusb_get_device(entry.second.handle) == device)
            return false;
    }
    libusb_device_handle *handle = nullptr;
    const int r = libusb_open(device, &handle);
    if (r == LIBUSB_SUCCESS)
        libusb_close(handle);
    // Other failures (in use, no access) are the user's to hear of when
    // the adapter is opened, and may pass; they are asked again.
    if (r == LIBUSB_SUCCESS || r == LIBUSB_ERROR_NOT_SUPPORTED)
        m_foreign[path] = r == LIBUSB_ERROR_NOT_SUPPORTED;
    return r == LIBUSB_ERROR_NOT_SUPPORTED;
}

QVector<UsbDeviceInfo> LibusbStack::devices() {
    QVector<UsbDeviceInfo> list;
    if (!m_context)
        return list;
    libusb_device **all = nullptr;
    const ssize_t count = libusb_get_device_list(m_context, &all);
    if (count < 0)
        return list;
    std::vector<std::pair<std::vector<int>, UsbDeviceInfo>> found;
    QSet<QString> adapterPaths;
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device *device = all[i];
        if (!isAdapter(device))
            continue;
        const QString path = pathOf(device);
        adapterPaths.insert(path);
        if (servedByOtherDriver(device, path))
            continue;
        libusb_device_descriptor descriptor;
        libusb_get_device_descriptor(device, &descriptor);
        UsbDeviceInfo info;
        info.path = path;
        info.address = libusb_get_device_address(device);
        info.vendorId = descriptor.idVendor;
        info.productId = descriptor.idProduct;
        info.friendlyName = productName(device, info.path);
        info.deviceName = deviceNode(device);
        found.emplace_back(sortKey(device), info);
    }
    libusb_free_device_list(all, 1);
    std::sort(found.begin(), found.end(),
              [](const auto &a, const auto &b) { return a.first < b.first; });
    // Names of devices that have gone are forgotten: a device plugged into
    // the same port later may be another one.
    for (auto it = m_names.begin(); it != m_names.end();) {
        const bool present = std::any_of(found.begin(), found.end(), [&it](const auto &f) {
            return f.second.path == it->first;
        });
        it = present ? std::next(it) : m_names.erase(it);
    }
    // A device that another driver held may come back bound to WinUSB.
    for (auto it = m_foreign.begin(); it != m_foreign.end();)
        it = adapterPaths.contains(it->first) ? std::next(it) : m_foreign.erase(it);
    for (auto &f : found)
        list.append(f.second);
    return list;
}

// The product string needs the device opened; it is read once per plug-in.
// Without access (no udev rule yet) the list still shows the adapter, by its
// identity.
QString LibusbStack::productName(libusb_device *device, const QString &path) {
    const auto cached = m_names.find(path);
    if (cached != m_names.end())
        return cached->second;

    libusb_device_descriptor descriptor;
    libusb_get_device_descriptor(device, &descriptor);
    QString name = plainDescription(descriptor.idVendor, descriptor.idProduct);
    if (descriptor.iProduct == 0) {
        m_names[path] = name;
        return name;
    }

    libusb_device_handle *handle = nullptr;
    bool ownHandle = false;
    for (const auto &entry : m_sessions) {
        if (libusb_get_device(entry.second.handle) == device)
            handle = entry.second.handle;
    }
    if (!handle) {
        if (libusb_open(device, &handle) != LIBUSB_SUCCESS)
            return name; // asked again next time: access may be granted meanwhile
        ownHandle = true;
    }
    unsigned char buffer[255];
    uint16_t language = 0;
    int n = libusb_get_string_descriptor(handle, 0, 0, buffer, sizeof buffer);
    for (int i = 2; i + 1 < n; i += 2) {
        const uint16_t id = uint16_t(buffer[i] | buffer[i + 1] << 8);
        if (i == 2 || id == LanguageEnglishUs)
            language = id;
    }
    bool read = false;
    if (n >= 4) {
        n = libusb_get_string_descriptor(handle, descriptor.iProduct, language, buffer,
                                         sizeof buffer);
        if (n > 2 && buffer[1] == LIBUSB_DT_STRING) {
            const int length = std::min<int>(n, buffer[0]);
            QString text;
            for (int i = 2; i + 1 < length; i += 2)
                text += QChar(char16_t(buffer[i] | buffer[i + 1] << 8));
            if (!text.trimmed().isEmpty())
                name = text;
            read = true;
        }
    }
    if (ownHandle)
        libusb_close(handle);
    if (read || n == LIBUSB_ERROR_PIPE)
        m_names[path] = name;
    return name;
}

libusb_device *LibusbStack::findDevice(const QString &path, libusb_device **list,
                                       long count) const {
    for (long i = 0; i < count; ++i) {
        if (isAdapter(list[i]) && pathOf(list[i]) == path)
            return list[i];
    }
    return nullptr;
}

UsbStack::SessionId LibusbStack::open(const QString &path, QString *error) {
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return SessionId(-1);
    };
    if (!m_context)
        return fail(m_initError);
    libusb_device **all = nullptr;
    const ssize_t count = libusb_get_device_list(m_context, &all);
    if (count < 0)
        return fail(openFailure(int(count), path, QString()));
    libusb_device *device = findDevice(path, all, long(count));
    if (!device) {
        libusb_free_device_list(all, 1);
        return fail(openFailure(LIBUSB_ERROR_NO_DEVICE, path, QString()));
    }
    const QString node = deviceNode(device);
    libusb_device_handle *handle = nullptr;
    int r = libusb_open(device, &handle);
    libusb_free_device_list(all, 1);
    if (r != LIBUSB_SUCCESS)
        return fail(openFailure(r, path, node));

    Session s;
    s.handle = handle;
    s.path = path;
    // A kernel driver bound to the interface (usbtest, say) would keep it
    // from us; it gets the interface back when we close.
    if (libusb_kernel_driver_active(handle, AdapterInterface) == 1 &&
        libusb_detach_kernel_driver(handle, AdapterInterface) == LIBUSB_SUCCESS)
        s.reattachKernelDriver = true;
    r = libusb_claim_interface(handle, AdapterInterface);
    if (r != LIBUSB_SUCCESS) {
        if (s.reattachKernelDriver)
            libusb_attach_kernel_driver(handle, AdapterInterface);
        libusb_close(handle);
        return fail(openFailure(r, path, node));
    }
    const SessionId id = m_nextSession++;
    m_sessions[id] = s;
    altSetting(id); // the endpoints of submit() are those of this setting
    return id;
}

void LibusbStack::close(SessionId id) {
    const auto it = m_sessions.find(id);
    if (it == m_sessions.end())
        return;
    // libusb must not see a handle closed under a transfer still in flight.
    for (auto &entry : m_transfers) {
        Transfer &t = *entry.second;
        if (t.session != id || t.done)
            continue;
        libusb_cancel_transfer(t.transfer);
        wait(entry.first, CancelGraceMs);
    }
    Session &s = it->second;
    libusb_release_interface(s.handle, AdapterInterface);
    if (s.reattachKernelDriver)
        libusb_attach_kernel_driver(s.handle, AdapterInterface);
    libusb_close(s.handle);
    m_sessions.erase(it);
    for (auto &entry : m_transfers) {
        if (entry.second->session == id)
            entry.second->session = -1;
    }
}

// libusb 1.0.26 leaves a handle unusable for libusb_close() once
// libusb_set_interface_alt_setting() was called on it after its device had
// gone (the close aborts); sessions of a gone device therefore stop asking.
void LibusbStack::markGone(libusb_device *device) {
    for (auto &entry : m_sessions) {
        if (libusb_get_device(entry.second.handle) == device)
            entry.second.gone = true;
    }
}

LibusbStack::Session *LibusbStack::session(SessionId id) {
    const auto it = m_sessions.find(id);
    return it == m_sessions.end() ? nullptr : &it->second;
}

UsbTransferResult LibusbStack::controlTransfer(SessionId id, const UsbSetupPacket &setup,
                                               uint8_t *data, int timeoutMs) {
    UsbTransferResult result;
    Session *s = session(id);
    if (!s || (setup.wLength > 0 && !data))
        return result;
    if (s->gone) {
        result.status = UsbTransferStatus::NoDevice;
        return result;
    }
    const int r = libusb_control_transfer(s->handle, setup.bmRequestType, setup.bRequest,
                                          setup.wValue, setup.wIndex, data, setup.wLength,
                                          unsigned(std::max(timeoutMs, 0)));
    if (r < 0) {
        result.status = statusOfError(r);
        if (r == LIBUSB_ERROR_NO_DEVICE)
            s->gone = true;
        return result;
    }
    result.status = UsbTransferStatus::Completed;
    result.bytes = r;
    return result;
}

// The transfer type of an endpoint of the current alternate setting, or -1
// when that setting has no such endpoint.
int LibusbStack::endpointType(const Session &s, uint8_t endpointAddress) const {
    libusb_config_descriptor *config = nullptr;
    if (libusb_get_active_config_descriptor(libusb_get_device(s.handle), &config) != LIBUSB_SUCCESS)
        return -1;
    int type = -1;
    for (int i = 0; i < config->bNumInterfaces && type < 0; ++i) {
        const libusb_interface &interface = config->interface[i];
        for (int a = 0; a < interface.num_altsetting && type < 0; ++a) {
            const libusb_interface_descriptor &alt = interface.altsetting[a];
            if (alt.bInterfaceNumber != AdapterInterface || alt.bAlternateSetting != s.altSetting)
                continue;
            for (int e = 0; e < alt.bNumEndpoints; ++e) {
                if (alt.endpoint[e].bEndpointAddress == endpointAddress)
                    type = alt.endpoint[e].bmAttributes & LIBUSB_TRANSFER_TYPE_MASK;
            }
        }
    }
    libusb_free_config_descriptor(config);
    return type;
}

UsbStack::TransferId LibusbStack::submit(SessionId id, uint8_t endpointAddress, uint8_t *buffer,
                                         int length) {
    Session *s = session(id);
    if (!s || s->gone || length < 0 || (!buffer && length > 0))
        return 0;
    const int type = endpointType(*s, endpointAddress);
    if (type != LIBUSB_TRANSFER_TYPE_BULK && type != LIBUSB_TRANSFER_TYPE_INTERRUPT)
        return 0;

    auto t = std::make_unique<Transfer>();
    t->transfer = libusb_alloc_transfer(0);
    if (!t->transfer)
        return 0;
    t->stack = this;
    t->session = id;
    t->outcome.status = UsbTransferStatus::Pending;
    // No libusb time-out: the waiter decides how long to wait, then cancels.
    if (type == LIBUSB_TRANSFER_TYPE_BULK)
        libusb_fill_bulk_transfer(t->transfer, s->handle, endpointAddress, buffer, length,
                                  LibusbCallbacks::transferDone, t.get(), 0);
    else
        libusb_fill_interrupt_transfer(t->transfer, s->handle, endpointAddress, buffer, length,
                                       LibusbCallbacks::transferDone, t.get(), 0);
    if (libusb_submit_transfer(t->transfer) != LIBUSB_SUCCESS) {
        libusb_free_transfer(t->transfer);
        return 0;
    }
    const TransferId transferId = m_nextTransfer++;
    m_transfers[transferId] = std::move(t);
    if (m_timerEvents && !m_eventTimer.isActive())
        m_eventTimer.start();
    return transferId;
}

bool LibusbStack::wait(TransferId id, int timeoutMs) {
    const auto it = m_transfers.find(id);
    if (it == m_transfers.end())
        return false;
    Transfer &t = *it->second;
    QElapsedTimer clock;
    clock.start();
    while (!t.done) {
        const qint64 left = std::max<qint64>(0, timeoutMs - clock.elapsed());
        timeval tv = interval(left);
        libusb_handle_events_timeout_completed(m_context, &tv, &t.done);
        if (left == 0)
            break;
    }
    return t.done;
}

UsbTransferResult LibusbStack::result(TransferId id) {
    auto it = m_transfers.find(id);
    if (m_timerEvents && it != m_transfers.end() && !it->second->done) {
        handleEventsNow();
        it = m_transfers.find(id);
    }
    return it == m_transfers.end() ? UsbTransferResult() : it->second->outcome;
}

void LibusbStack::cancel(TransferId id) {
    const auto it = m_transfers.find(id);
    if (it != m_transfers.end() && !it->second->done)
        libusb_cancel_transfer(it->second->transfer);
}

void LibusbStack::release(TransferId id) {
    const auto it = m_transfers.find(id);
    if (it == m_transfers.end())
        return;
    if (!it->second->done) {
        libusb_cancel_transfer(it->second->transfer);
        if (!wait(id, CancelGraceMs)) {
            // Freeing it now would let libusb write into freed memory later.
            qWarning("LibusbStack: a cancelled transfer did not come back; it is abandoned");
            it->second.release();
            m_transfers.erase(it);
            return;
        }
    }
    libusb_free_transfer(it->second->transfer);
    m_transfers.erase(it);
}

int LibusbStack::altSetting(SessionId id) {
    Session *s = session(id);
    if (!s || s->gone)
        return -1;
    uint8_t alt = 0;
    const int r = libusb_control_transfer(s->handle, GetInterfaceRequestType, GetInterfaceRequest,
                                          0, AdapterInterface, &alt, 1, AltSettingTimeoutMs);
    if (r == LIBUSB_ERROR_NO_DEVICE)
        s->gone = true;
    if (r != 1)
        return -1;
    s->altSetting = alt;
    return alt;
}

bool LibusbStack::setAltSetting(SessionId id, int alternateSetting) {
    Session *s = session(id);
    if (!s || s->gone || alternateSetting < 0 || alternateSetting > 0xFF)
        return false;
    const int r = libusb_set_interface_alt_setting(s->handle, AdapterInterface, alternateSetting);
    if (r == LIBUSB_ERROR_NO_DEVICE)
        s->gone = true;
    if (r != LIBUSB_SUCCESS)
        return false;
    s->altSetting = alternateSetting;
    return true;
}

int LibusbStack::speed(SessionId id) {
    Session *s = session(id);
    if (!s)
        return 0;
    switch (libusb_get_device_speed(libusb_get_device(s->handle))) {
    case LIBUSB_SPEED_LOW:
    case LIBUSB_SPEED_FULL:
        return 1;
    case LIBUSB_SPEED_UNKNOWN:
        return 0;
    default: // an FX2 on a faster port still runs at high speed
        return 2;
    }
}

void LibusbStack::setHotplugHandler(HotplugHandler handler) {
    m_hotplug = std::move(handler);
}

void LibusbStack::watch(int fd, short events) {
#ifdef Q_OS_WIN
    Q_UNUSED(fd)
    Q_UNUSED(events)
#else
    unwatch(fd);
    Notifiers &n = m_notifiers[fd];
    if (events & POLLIN) {
        n.read = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(n.read.get(), &QSocketNotifier::activated, this, &LibusbStack::handleEventsNow);
    }
    // usbfs signals finished transfers as writable.
    if (events & POLLOUT) {
        n.write = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
        connect(n.write.get(), &QSocketNotifier::activated, this, &LibusbStack::handleEventsNow);
    }
#endif
}

// libusb may drop a descriptor from inside the event handling that one of
// its notifiers started; the notifier is deleted once that has returned.
void LibusbStack::unwatch(int fd) {
    const auto it = m_notifiers.find(fd);
    if (it == m_notifiers.end())
        return;
    for (std::unique_ptr<QSocketNotifier> *n : {&it->second.read, &it->second.write}) {
        if (!*n)
            continue;
        (*n)->setEnabled(false);
        (*n)->disconnect(this);
        n->release()->deleteLater();
    }
    m_notifiers.erase(it);
}

void LibusbStack::handleEventsNow() {
    if (m_inEvents || !m_context)
        return;
    m_inEvents = true;
    timeval zero{0, 0};
    libusb_handle_events_timeout_completed(m_context, &zero, nullptr);
    m_inEvents = false;
}

bool LibusbStack::transfersInFlight() const {
    return std::any_of(m_transfers.begin(), m_transfers.end(),
                       [](const auto &entry) { return !entry.second->done; });
}

void LibusbStack::handleEventsOnTimer() {
    handleEventsNow();
    if (!transfersInFlight())
        m_eventTimer.stop();
}

void LibusbStack::systemDeviceChange() {
    if (m_context && m_hotplugHandles.isEmpty())
        pollDeviceList();
}

void LibusbStack::deviceChanged(const QString &path, bool arrived) {
    m_names.erase(path);
    if (arrived)
        m_knownPaths.insert(path);
    else
        m_knownPaths.remove(path);
    if (m_hotplug)
        m_hotplug(path, arrived);
}

QSet<QString> LibusbStack::presentPaths() {
    QSet<QString> paths;
    libusb_device **all = nullptr;
    const ssize_t count = libusb_get_device_list(m_context, &all);
    if (count < 0)
        return paths;
    QSet<QString> adapterPaths;
    for (ssize_t i = 0; i < count; ++i) {
        if (!isAdapter(all[i]))
            continue;
        const QString path = pathOf(all[i]);
        adapterPaths.insert(path);
        if (!servedByOtherDriver(all[i], path))
            paths.insert(path);
    }
    for (auto it = m_foreign.begin(); it != m_foreign.end();)
        it = adapterPaths.contains(it->first) ? std::next(it) : m_foreign.erase(it);
    libusb_free_device_list(all, 1);
    return paths;
}

// Without hot-plug events from libusb the list is compared on a timer.
void LibusbStack::pollDeviceList() {
    const QSet<QString> now = presentPaths();
    const QSet<QString> before = m_knownPaths;
    for (const QString &path : before) {
        if (!now.contains(path))
            deviceChanged(path, false);
    }
    for (const QString &path : now) {
        if (!before.contains(path))
            deviceChanged(path, true);
    }
}
