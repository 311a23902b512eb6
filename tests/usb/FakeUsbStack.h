#ifndef BRANTLE_TESTS_FAKEUSBSTACK_H
#define BRANTLE_TESTS_FAKEUSBSTACK_H

#include "UsbStack.h"

#include <QByteArray>
#include <QVector>

#include <map>

// A scripted USB host for the layer's tests: devices answer GET_DESCRIPTOR
// from a table, the alternate setting is a number, and every bulk transfer
// finishes as the next scripted reply says.
class FakeUsbStack : public UsbStack {
public:
    struct Device {
        UsbDeviceInfo info;
        // GET_DESCRIPTOR answers by (wValue, wIndex); strings use wIndex = language.
        std::map<std::pair<uint16_t, uint16_t>, QByteArray> descriptors;
        int alt = 0;
        bool altQueryFails = false;
        bool setAltFails = false;
        int speed = 2;
        bool openFails = false;
    };

    struct Reply {
        UsbTransferStatus status = UsbTransferStatus::Completed;
        QByteArray data;    // delivered to an IN transfer
        int bytes = -1;     // -1: all of `data` (IN) or the whole length (OUT)
        bool never = false; // the device never answers (only a cancel ends it)
    };

    struct Control {
        QString path;
        UsbSetupPacket setup;
        QByteArray out;
        int timeoutMs = 0;
    };

    struct Submission {
        QString path;
        uint8_t endpoint = 0;
        int length = 0;
        QByteArray sent;
    };

    QVector<Device> present;
    QVector<Control> controls;
    QVector<Submission> submissions;
    QVector<Reply> replies; // consumed in order; none left = complete in full
    QByteArray vendorReply; // answer to any other IN control request
    QVector<int> altSelections;
    QVector<TransferId> cancelled;
    int opens = 0;
    int closes = 0;
    int devicesCalls = 0;
    int systemChanges = 0;

    Device *find(const QString &path);
    int liveTransfers() const;
    int openSessions() const { return int(m_sessions.size()); }
    void plug(const Device &device);
    void unplug(const QString &path);

    QVector<UsbDeviceInfo> devices() override;
    SessionId open(const QString &path, QString *error) override;
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
    void setHotplugHandler(HotplugHandler handler) override { m_hotplug = std::move(handler); }
    void systemDeviceChange() override { ++systemChanges; }

private:
    struct Transfer {
        uint8_t endpoint = 0;
        uint8_t *buffer = nullptr;
        int length = 0;
        Reply reply;
        UsbTransferResult result{UsbTransferStatus::Pending, 0};
        bool cancelRequested = false;
    };
    void finish(Transfer &transfer);

    std::map<SessionId, QString> m_sessions;
    SessionId m_nextSession = 1;
    std::map<TransferId, Transfer> m_transfers;
    TransferId m_nextTransfer = 1;
    HotplugHandler m_hotplug;
};

#endif
