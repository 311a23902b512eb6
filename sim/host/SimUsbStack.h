#ifndef BRANTLE_SIM_SIMUSBSTACK_H
#define BRANTLE_SIM_SIMUSBSTACK_H

#include "Fx2Chip.h"
#include "UsbStack.h"
#include "WallClockPacer.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVector>

#include <map>
#include <memory>

// A USB host with simulated FX2 adapters plugged into it. Transfers take the
// time the chip needs: the chip runs while the host waits, an OUT transfer
// ends when the chip has taken its packets (the host NAKs while its buffers
// are full), an IN transfer when the chip has committed the packets, a
// control request the firmware serves when it answers.
//
// Time is virtual by default: nothing ever sleeps, and a wait that nothing
// ends runs the chip to its time-out at once. Paced by the wall clock (for
// interactive use), simulated time never runs ahead of real time: a wait of
// half a second in a transaction takes half a second, and time the host
// spends elsewhere passes on the chips too. Faults can be injected per kind
// of transfer, and the latest finished transfers are logged.
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
    enum class Pacing { Virtual, WallClock };
    // The log keeps at least this many of the latest entries.
    static constexpr int DefaultLogCapacity = 4096;
    // A control transfer "without limit" (time-out 0, as a host controller
    // library takes it) still ends after this much simulated time.
    static constexpr int NoLimitCapMs = 60'000;
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

    void setPacing(Pacing pacing);
    Pacing pacing() const { return pacing_; }
    int64_t nowNs() const { return nowNs_; }
    // Time passes on every plugged chip (their CPUs run meanwhile).
    void advanceTime(int64_t ns);

    // The latest finished transfers, oldest first.
    const QVector<LogEntry> &log() const { return log_; }
    void clearLog() { log_.clear(); }
    void setLogCapacity(int entries) { logCapacity_ = entries > 0 ? entries : 1; }

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
        bool zeroLengthSent = false;
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
    void catchUp();
    void syncChip(Fx2Chip &chip);
    bool runChip(Fx2Chip &chip, int64_t deadlineNs, const std::function<bool()> &done);
    // How far the chip runs ahead of the wall clock while the host waits.
    static constexpr int64_t RunAheadNs = 2'000'000;
    int64_t deadline(int timeoutMs, bool zeroIsNoLimit) const;
    void appendLog(LogEntry entry);
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
    int logCapacity_ = DefaultLogCapacity;
    Pacing pacing_ = Pacing::Virtual;
    WallClockPacer pacer_;
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
