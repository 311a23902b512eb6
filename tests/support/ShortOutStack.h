#ifndef BRANTLE_TESTS_SHORTOUTSTACK_H
#define BRANTLE_TESTS_SHORTOUTSTACK_H

#include "SimUsbStack.h"

#include <algorithm>

// The simulated host with one more fault: the n-th bulk OUT transfer from
// now on carries only its first `bytes` bytes and completes as if that were
// all, as a host controller reports a transfer cut short. Everything else
// goes to the simulator unchanged.
class ShortOutStack : public UsbStack {
public:
    explicit ShortOutStack(SimUsbStack &sim) : m_sim(sim) {}

    void shortenOut(int nth, int bytes) {
        m_nth = nth;
        m_bytes = bytes;
    }

    QVector<UsbDeviceInfo> devices() override { return m_sim.devices(); }
    SessionId open(const QString &path, QString *error) override { return m_sim.open(path, error); }
    void close(SessionId session) override { m_sim.close(session); }
    UsbTransferResult controlTransfer(SessionId session, const UsbSetupPacket &setup, uint8_t *data,
                                      int timeoutMs) override {
        return m_sim.controlTransfer(session, setup, data, timeoutMs);
    }
    TransferId submit(SessionId session, uint8_t endpointAddress, uint8_t *buffer,
                      int length) override {
        if (!(endpointAddress & 0x80) && m_nth > 0 && --m_nth == 0)
            length = std::min(length, m_bytes);
        return m_sim.submit(session, endpointAddress, buffer, length);
    }
    bool wait(TransferId transfer, int timeoutMs) override {
        return m_sim.wait(transfer, timeoutMs);
    }
    UsbTransferResult result(TransferId transfer) override { return m_sim.result(transfer); }
    void cancel(TransferId transfer) override { m_sim.cancel(transfer); }
    void release(TransferId transfer) override { m_sim.release(transfer); }
    int altSetting(SessionId session) override { return m_sim.altSetting(session); }
    bool setAltSetting(SessionId session, int alternateSetting) override {
        return m_sim.setAltSetting(session, alternateSetting);
    }
    int speed(SessionId session) override { return m_sim.speed(session); }
    void setHotplugHandler(HotplugHandler handler) override {
        m_sim.setHotplugHandler(std::move(handler));
    }

private:
    SimUsbStack &m_sim;
    int m_nth = 0;
    int m_bytes = 0;
};

#endif
