#ifndef BRANTLE_TESTS_FAULTYPORT_H
#define BRANTLE_TESTS_FAULTYPORT_H

#include "DriverPort.h"

#include <QSet>

// Passes everything to the generic driver, failing what a test asks for.
class FaultyPort : public DriverPort {
public:
    explicit FaultyPort(DriverPort &target) : m_target(target) {}

    QSet<uint32_t> failingCodes;
    bool failUnregister = false;
    bool failClose = false;
    QString refuseOpen; // when set, every open fails for this reason

    bool listDevices(const QUuid &c, QStringList &paths) override {
        return m_target.listDevices(c, paths);
    }
    Handle openDevice(const QString &path) override {
        return refuseOpen.isEmpty() ? m_target.openDevice(path) : InvalidHandle;
    }
    bool closeDevice(Handle handle) override { return !failClose && m_target.closeDevice(handle); }
    bool ioControl(Handle handle, uint32_t code, uint8_t *in, uint32_t inLength, uint8_t *out,
                   uint32_t outLength, uint32_t &bytesReturned) override {
        bytesReturned = 0;
        if (failingCodes.contains(code))
            return false;
        return m_target.ioControl(handle, code, in, inLength, out, outLength, bytesReturned);
    }
    uint32_t startRequest(Handle handle, uint32_t code, uint8_t *in, uint32_t inLength,
                          uint8_t *out, uint32_t outLength, CompletionRecord &record) override {
        return m_target.startRequest(handle, code, in, inLength, out, outLength, record);
    }
    WaitResult waitRequest(CompletionRecord &record, int timeoutMs) override {
        return m_target.waitRequest(record, timeoutMs);
    }
    bool requestResult(CompletionRecord &record, uint32_t &bytes) override {
        return m_target.requestResult(record, bytes);
    }
    void releaseRequest(CompletionRecord &record) override { m_target.releaseRequest(record); }
    Registration registerClassNotification(const QUuid &c, DeviceChangeHandler h) override {
        return m_target.registerClassNotification(c, std::move(h));
    }
    Registration registerHandleNotification(Handle handle, DeviceChangeHandler h) override {
        return m_target.registerHandleNotification(handle, std::move(h));
    }
    bool unregisterNotification(Registration r) override {
        return !failUnregister && m_target.unregisterNotification(r);
    }

    QString lastOpenError() const override {
        return refuseOpen.isEmpty() ? m_target.lastOpenError() : refuseOpen;
    }

private:
    DriverPort &m_target;
};

#endif
