#ifndef BRANTLE_LIBUSBSTACK_H
#define BRANTLE_LIBUSBSTACK_H

#include "UsbStack.h"

#include <QObject>
#include <QSet>
#include <QTimer>

#include <map>
#include <memory>

struct libusb_context;
struct libusb_device;
struct libusb_device_handle;
struct libusb_transfer;
class QSocketNotifier;

// Real adapters through libusb-1.0. Everything runs on the thread that
// created the stack: libusb's file descriptors are watched by the event loop
// and its events are handled without blocking, so transfers finish and
// hot-plug is heard while the window idles. Waits on a transfer handle events
// until the transfer ends or the time runs out.
class LibusbStack : public QObject, public UsbStack {
public:
    struct Identity {
        uint16_t vendorId;
        uint16_t productId;
    };
    // USB identities under which an adapter appears; the udev rule grants
    // access to exactly these.
    static const QVector<Identity> &adapterIdentities();

    enum class ChangeSource {
        // libusb's hot-plug events where it has them; else, on Windows, the
        // system's device-change messages, elsewhere polling
        Automatic,
        Polling,       // compare the device list every pollIntervalMs
        SystemMessages // compare it when systemDeviceChange() is called
    };
    static constexpr int DefaultPollIntervalMs = 1000;

    enum class EventSource {
        Automatic,   // libusb's file descriptors where it has them, else Timer
        Descriptors, // watch libusb's file descriptors
        // No descriptors (Windows): events are handled inside the waits, and
        // on a short timer while transfers are in flight.
        Timer
    };
    static constexpr int EventTimerMs = 10;

    explicit LibusbStack(QObject *parent = nullptr, ChangeSource changes = ChangeSource::Automatic,
                         int pollIntervalMs = DefaultPollIntervalMs,
                         EventSource events = EventSource::Automatic);
    ~LibusbStack() override;
    LibusbStack(const LibusbStack &) = delete;
    LibusbStack &operator=(const LibusbStack &) = delete;

    // False when libusb could not be started; initError() says why.
    bool isAvailable() const { return m_context != nullptr; }
    QString initError() const { return m_initError; }
    // True when libusb reports arrivals itself, false when the device list is
    // polled instead.
    bool hasNativeHotplug() const { return !m_hotplugHandles.isEmpty(); }
    // True when libusb's events are handled on a timer and inside waits
    // rather than when its file descriptors become ready.
    bool handlesEventsOnTimer() const { return m_timerEvents; }

    // UsbStack
    QVector<UsbDeviceInfo> devices() override;
    SessionId open(const QString &path, QString *error = nullptr) override;
    void close(SessionId session) override;
    UsbTransferResult controlTransfer(SessionId session, const UsbSetupPacket &setup, uint8_t *data,
                                      int timeoutMs) override;
    TransferId submit(SessionId session, uint8_t endpointAddress, uint8_t *buffer,
                      int length) override;
    bool wait(TransferId transfer, int timeoutMs) override;
    UsbTransferResult result(TransferId transfer) override;
    void cancel(TransferId transfer) override;
    void release(TransferId transfer) override;
    int altSetting(SessionId session) override;
    bool setAltSetting(SessionId session, int alternateSetting) override;
    int speed(SessionId session) override;
    void setHotplugHandler(HotplugHandler handler) override;
    // Windows: the window passes on its device-change messages (registered
    // for every USB device by UsbDeviceNotification), as libusb has no
    // hot-plug events there.
    void systemDeviceChange() override;
    bool needsSystemDeviceChanges() const override { return m_onSystemMessages; }

private:
    struct Session {
        libusb_device_handle *handle = nullptr;
        QString path;
        int altSetting = 0;
        bool reattachKernelDriver = false;
        bool gone = false; // the device was unplugged: only close() is left
    };
    struct Transfer {
        libusb_transfer *transfer = nullptr;
        LibusbStack *stack = nullptr;
        SessionId session = -1;
        int done = 0; // libusb's "completed" flag for its event loop
        UsbTransferResult outcome;
    };
    struct Notifiers {
        std::unique_ptr<QSocketNotifier> read;
        std::unique_ptr<QSocketNotifier> write;
    };

    friend struct LibusbCallbacks; // libusb's C callbacks

    static QString pathOf(libusb_device *device);
    bool servedByOtherDriver(libusb_device *device, const QString &path);
    static bool isAdapter(libusb_device *device);

    libusb_device *findDevice(const QString &path, libusb_device **list, long count) const;
    QString productName(libusb_device *device, const QString &path);
    Session *session(SessionId id);
    void markGone(libusb_device *device);
    int endpointType(const Session &session, uint8_t endpointAddress) const;
    void watch(int fd, short events);
    void unwatch(int fd);
    void handleEventsNow();
    void handleEventsOnTimer();
    bool transfersInFlight() const;
    void deviceChanged(const QString &path, bool arrived);
    void pollDeviceList();
    QSet<QString> presentPaths();

    libusb_context *m_context = nullptr;
    QString m_initError;
    std::map<SessionId, Session> m_sessions;
    SessionId m_nextSession = 1;
    std::map<TransferId, std::unique_ptr<Transfer>> m_transfers;
    TransferId m_nextTransfer = 1;
    std::map<int, Notifiers> m_notifiers;
    QVector<int> m_hotplugHandles;
    QTimer m_pollTimer;
    QTimer m_eventTimer;
    bool m_timerEvents = false;
    bool m_onSystemMessages = false;
    // Devices libusb lists but cannot open because another driver holds
    // them (Windows: the chip maker's), by path, while plugged.
    std::map<QString, bool> m_foreign;
    QSet<QString> m_knownPaths;
    std::map<QString, QString> m_names; // product strings by path, while plugged
    HotplugHandler m_hotplug;
    bool m_inEvents = false;
};

#endif
