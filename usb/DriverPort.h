#ifndef BRANTLE_DRIVERPORT_H
#define BRANTLE_DRIVERPORT_H

#include <QString>
#include <QStringList>
#include <QUuid>

#include <cstdint>
#include <functional>

class CompletionRecord;

// What the USB layer needs of "the driver": the platform seam beneath
// CCyDriverDevice and its endpoints. The layer speaks to it in control codes
// (ControlCode.h) and request blocks (RequestBlock.h) only. Everything is
// called on the GUI thread.
class DriverPort {
public:
    using Handle = int64_t;
    static constexpr Handle InvalidHandle = -1;
    // A device-change registration; 0 = none.
    using Registration = uint64_t;
    static constexpr int WaitForever = -1;

    // Error codes of the port, kept by endpoints as their last error and
    // written into request blocks as the system status.
    enum Error : uint32_t {
        NoError = 0,   // completed at once
        IoPending = 1, // an asynchronous request is under way
        BadHandle = 2,
        BadParameter = 3,
        NotSupported = 4,
        DeviceGone = 5,
        RequestFailed = 6,
        RequestCancelled = 7
    };

    // USB status word of a finished request block.
    enum UsbStatus : uint32_t {
        UsbSuccess = 0,
        UsbStalled = 1,   // the device stalled the endpoint
        UsbCancelled = 2, // aborted or timed out
        UsbNoDevice = 3,  // the device went away
        UsbError = 4      // a bad request, or any other bus error
    };

    enum class WaitResult { Signalled, TimedOut, Failed };

    struct DeviceChange {
        enum Kind { Arrival, Removal };
        Kind kind = Arrival;
        QString path;                  // the device that came or went
        Handle handle = InvalidHandle; // set for handle registrations
    };
    // Called on the thread that created the port, from its event loop, never
    // from inside a request.
    using DeviceChangeHandler = std::function<void(const DeviceChange &)>;

    virtual ~DriverPort() = default;

    // The interface class under which the adapters appear.
    static QUuid adapterInterfaceClass();

    // 1. Present devices of the interface class, in a stable order; false
    // when the list itself cannot be had.
    virtual bool listDevices(const QUuid &interfaceClass, QStringList &paths) = 0;

    // 2. Open by path for shared, asynchronous use; InvalidHandle on failure.
    virtual Handle openDevice(const QString &path) = 0;
    virtual bool closeDevice(Handle handle) = 0;

    // 3. Synchronous request. `in` and `out` may be the same buffer. True when
    // the driver carried it out; `bytesReturned` is what it wrote to `out`.
    virtual bool ioControl(Handle handle, uint32_t code, uint8_t *in, uint32_t inLength,
                           uint8_t *out, uint32_t outLength, uint32_t &bytesReturned) = 0;

    // 4. Asynchronous request. Returns NoError (completed at once), IoPending or
    // another error (nothing started); the code is also kept in the record.
    // `in` and `out` must stay valid until the record is released; a request
    // block passed as `in` gets its status words written back on completion.
    virtual uint32_t startRequest(Handle handle, uint32_t code, uint8_t *in, uint32_t inLength,
                                  uint8_t *out, uint32_t outLength, CompletionRecord &record) = 0;
    // Waits up to timeoutMs (WaitForever: no limit) for the request to end.
    virtual WaitResult waitRequest(CompletionRecord &record, int timeoutMs) = 0;
    // Without waiting: true when the request ended successfully; `bytes` is
    // what it returned (also after a failure). False while it still runs.
    virtual bool requestResult(CompletionRecord &record, uint32_t &bytes) = 0;
    // Ends the request, cancelling it and waiting for it if it still runs, so
    // its buffers are no longer touched. Called by CompletionRecord.
    virtual void releaseRequest(CompletionRecord &record) = 0;

    // 5. Aborting an endpoint's transfers is ioControl(ControlCode::AbortEndpoint).

    // 6. Arrival and removal of devices of the interface class, and the
    // removal of the device behind an open handle.
    virtual Registration registerClassNotification(const QUuid &interfaceClass,
                                                   DeviceChangeHandler handler) = 0;
    virtual Registration registerHandleNotification(Handle handle, DeviceChangeHandler handler) = 0;
    virtual bool unregisterNotification(Registration registration) = 0;
    // Where the system reports device changes to windows as messages
    // (Windows): registers the native window `nativeWindow` for the interface
    // class, and the window handles the device-change message itself. 0 where
    // changes reach handlers instead; unregisterNotification() ends it.
    virtual Registration registerWindowNotification(quintptr /*nativeWindow*/,
                                                    const QUuid & /*interfaceClass*/) {
        return 0;
    }

    // Why the last openDevice() failed, in words a user can act on (a missing
    // access right, say); empty when it did not fail or the port cannot tell.
    virtual QString lastOpenError() const { return QString(); }

    // The window calls this for every device-change message the system sends
    // it (0x0219 on Windows). A port that hears of arrivals and removals no
    // other way looks at its devices again and reports what came and went
    // through its notifications, later, from the event loop.
    virtual void systemDeviceChange() {}
};

#endif
