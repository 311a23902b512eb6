#ifndef BRANTLE_TESTS_USBDEVFSADAPTER_H
#define BRANTLE_TESTS_USBDEVFSADAPTER_H

#include "Fx2Chip.h"
#include "WallClockPacer.h"

#include <QString>

#include <deque>
#include <memory>
#include <mutex>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

// A simulated FX2 chip seen through the kernel's USB device interface: a
// umockdev device with the chip's identity and descriptors in sysfs, whose
// usbdevfs requests (URBs, interface claims, alternate settings) are carried
// out on the chip model. Requests arrive on umockdev's own thread; the chip is
// only touched under the lock. The chip runs paced by the wall clock: at
// every request it catches up with the time that has passed, so transfers
// take the chip's time and the host's time-outs are real ones.
class UsbdevfsAdapter {
public:
    static constexpr int Bus = 1;

    UsbdevfsAdapter(UMockdevTestbed *testbed, std::shared_ptr<Fx2Chip> chip);
    ~UsbdevfsAdapter();
    UsbdevfsAdapter(const UsbdevfsAdapter &) = delete;
    UsbdevfsAdapter &operator=(const UsbdevfsAdapter &) = delete;

    // Appears at port 1 of bus 1 with bus address `address`, the chip freshly
    // powered; announced by an "add" uevent. A device that is not
    // `answering` has no request handler: its node is a plain file.
    void plug(int address, bool answering = true);
    // Pending URBs end with ESHUTDOWN, later requests fail with ENODEV, and
    // the device leaves sysfs after its "remove" uevent.
    void unplug();
    bool plugged() const;

    QString sysfsPath() const { return m_sysfsPath; }
    QString deviceNode() const { return m_deviceNode; }
    // Runs `f` on the chip with no request in progress.
    template <typename F> auto withChip(F f) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return f(*m_chip);
    }
    int pendingUrbs() const;
    int discardedUrbs() const;

private:
    struct Urb;
    struct Port; // one plug-in: its ioctl handler and URBs

    static int onIoctl(UMockdevIoctlBase *handler, UMockdevIoctlClient *client, void *self);
    bool handle(Port &port, UMockdevIoctlClient *client);
    void submit(Port &port, UMockdevIoctlClient *client, UMockdevIoctlData *arg);
    void reap(Port &port, UMockdevIoctlClient *client, UMockdevIoctlData *arg);
    void discard(Port &port, UMockdevIoctlClient *client, UMockdevIoctlData *arg);
    void catchUp();
    void beginControl(Urb &urb);
    void progress(Port &port);
    int progress(Urb &urb);
    void finish(Port &port, std::unique_ptr<Urb> urb, int status);

    UMockdevTestbed *m_testbed;
    std::shared_ptr<Fx2Chip> m_chip;
    WallClockPacer m_pacer;
    mutable std::mutex m_mutex;
    std::deque<std::unique_ptr<Port>> m_ports; // the current one last
    QString m_sysfsPath;
    QString m_deviceNode;
    int m_discarded = 0;
};

#endif
