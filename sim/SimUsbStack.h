#ifndef BRANTLE_SIM_SIMUSBSTACK_H
#define BRANTLE_SIM_SIMUSBSTACK_H

#include "Fx2Chip.h"
#include "UsbStack.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVector>

#include <map>
#include <memory>

// A USB host with simulated FX2 adapters plugged into it. Time is virtual:
// nothing ever sleeps, a wait that runs out advances the clock by its
// time-out at once, and bus work on a chip's I2C bus advances it by the bus
// time it takes. Faults can be injected per kind of transfer, and every
// finished transfer is logged.
//
//     SimUsbStack stack;
//     QString path;
//     auto chip = stack.plugBenchAdapter(firmwareImage, &path); // EEPROM 0x51, sensor 0x48
//     stack.injectFault(SimUsbStack::TransferKind::BulkIn, 1,
//                       SimUsbStack::FaultAction::ForceStatus, 0x80);
//     // hand &stack to the driver layer, or make the UsbStack calls directly
//
// Hot-plug notifications for plug()/unplug() called from outside the stack
// arrive at once; an unplug injected into a transfer is reported from the
// event loop after the call has returned.
class SimUsbStack : public UsbStack {
public:
    enum class TransferKind { Control, BulkOut, BulkIn, AltSettingQuery, AltSettingSelect };
    enum class FaultAction {
        Refuse,      // a bulk transfer cannot be started (submit returns 0)
        Fail,        // finishes as Failed; nothing reaches the device
        TimeOut,     // never finishes: a wait runs into its time-out
        ShortReply,  // finishes after `value` bytes; the rest is lost (a control OUT
                     // delivers only those bytes)
        ForceStatus, // the last byte received is replaced by `value`
        Unplug       // the device is unplugged while the transfer runs
    };

    // One finished transfer. `data` is what was sent (OUT) or received (IN);
    // `setup` is meaningful for control transfers, which include the
    // alternate-setting query and selection.
    struct LogEntry {
        int64_t atNs = 0;
        QString path;
        TransferKind kind = TransferKind::Control;
        uint8_t endpoint = 0;
        UsbSetupPacket setup;
        QByteArray data;
        UsbTransferStatus status = UsbTransferStatus::Failed;
    };

    SimUsbStack();
    ~SimUsbStack() override;

    // Plugs a chip in (powered on fresh) and returns its path, or an empty
    // string when the path is taken. Address 0 picks the next free one.
    QString plug(std::shared_ptr<Fx2Chip> chip, const QString &path = QString(),
                 uint8_t address = 0);
    // An adapter as on the bench: an EEPROM at 0x51 and a temperature sensor
    // at 0x48, with `firmware` registered as the adapter firmware.
    std::shared_ptr<Fx2Chip> plugBenchAdapter(const QByteArray &firmware, QString *path = nullptr);
    bool unplug(const QString &path);
    std::shared_ptr<Fx2Chip> chip(const QString &path) const;

    // The n-th transfer of `kind` from now on (1 = the next) meets `action`.
    void injectFault(TransferKind kind, int nth, FaultAction action, int value = 0);
    void clearFaults();

    int64_t nowNs() const { return nowNs_; }
    void advanceTime(int64_t ns);

    const QVector<LogEntry> &log() const { return log_; }
    void clearLog() { log_.clear(); }

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

private:
    struct Device {
        QString path;
        std::shared_ptr<Fx2Chip> chip;
        uint8_t address = 0;
    };
    struct Fault {
        TransferKind kind;
        int remaining;
        FaultAction action;
        int value;
    };
    struct Transfer {
        TransferId id = 0;
        SessionId session = -1;
        QString path;
        std::shared_ptr<Fx2Chip> chip;
        uint8_t endpoint = 0;
        uint8_t *buffer = nullptr;
        int length = 0;
        int bytes = 0;
        UsbTransferStatus status = UsbTransferStatus::Pending;
        bool stuck = false;
        int shortAfter = -1;
        int forcedLast = -1;
    };
    class CallScope;

    Device *device(const QString &path);
    Device *deviceOf(SessionId session);
    const Fault *takeFault(TransferKind kind);
    void pump();
    void progress(Transfer &t);
    void finish(Transfer &t, UsbTransferStatus status);
    void syncBus(Fx2Chip &chip);
    void settleBus(Fx2Chip &chip);
    void logControl(const QString &path, const UsbSetupPacket &setup, const uint8_t *data,
                    int bytes, UsbTransferStatus status, TransferKind kind);
    void notify(const QString &path, bool arrived);
    void cancelPending(const QString &path, SessionId session, UsbTransferStatus status);

    QVector<Device> devices_;
    std::map<SessionId, QString> sessions_;
    std::map<TransferId, Transfer> transfers_;
    QVector<Fault> faults_;
    Fault firedFault_{};
    QVector<LogEntry> log_;
    HotplugHandler hotplug_;
    QObject notifier_; // context of deferred notifications; dies with the stack
    int64_t nowNs_ = 0;
    SessionId nextSession_ = 1;
    TransferId nextTransfer_ = 1;
    int plugCount_ = 0;
    uint8_t lastAddress_ = 0;
    int callDepth_ = 0;
};

#endif
