#ifndef BRANTLE_TESTS_SCRIPTEDDRIVERPORT_H
#define BRANTLE_TESTS_SCRIPTEDDRIVERPORT_H

#include "DriverPort.h"

#include <QByteArray>
#include <QVector>

// A driver that records the request blocks an endpoint starts and ends each
// request as the test scripts it: how it starts, how the waits go, what comes
// back.
class ScriptedDriverPort : public DriverPort {
public:
    struct Call {
        Handle handle = InvalidHandle;
        uint32_t code = 0;
        QByteArray in; // the input as it was when the request was made
        uint32_t outLength = 0;
        bool outIsIn = false;
    };

    QVector<Call> starts;
    QVector<Call> ioCalls;
    QVector<int> waits; // time-out of every wait, WaitForever included
    int releases = 0;

    uint32_t startError = IoPending;
    QVector<WaitResult> waitResults; // for waits with a time-out; none left = Signalled
    bool resultOk = true;
    int64_t resultBytes = -1; // -1: the whole block (buffered) or the whole buffer (direct)
    QByteArray reply;         // data the device sends, written on completion
    uint32_t usbStatusWord = 0;
    uint32_t systemStatusWord = 0;

    bool listDevices(const QUuid &, QStringList &paths) override;
    Handle openDevice(const QString &) override { return 1; }
    bool closeDevice(Handle) override { return true; }
    bool ioControl(Handle handle, uint32_t code, uint8_t *in, uint32_t inLength, uint8_t *out,
                   uint32_t outLength, uint32_t &bytesReturned) override;
    uint32_t startRequest(Handle handle, uint32_t code, uint8_t *in, uint32_t inLength,
                          uint8_t *out, uint32_t outLength, CompletionRecord &record) override;
    WaitResult waitRequest(CompletionRecord &record, int timeoutMs) override;
    bool requestResult(CompletionRecord &record, uint32_t &bytes) override;
    void releaseRequest(CompletionRecord &record) override;
    Registration registerClassNotification(const QUuid &, DeviceChangeHandler) override {
        return 0;
    }
    Registration registerHandleNotification(Handle, DeviceChangeHandler) override { return 0; }
    bool unregisterNotification(Registration) override { return true; }

private:
    void complete();

    uint8_t *m_in = nullptr;
    uint32_t m_inLength = 0;
    uint8_t *m_out = nullptr;
    uint32_t m_outLength = 0;
    bool m_completed = false;
};

#endif
