#ifndef BRANTLE_COMPOSITEDRIVERPORT_H
#define BRANTLE_COMPOSITEDRIVERPORT_H

#include "DriverPort.h"

#include <QVector>

#include <map>
#include <vector>

// Several drivers seen as one: on Windows an adapter is served either by
// the chip maker's driver or, bound to WinUSB, through libusb. The device
// list holds the devices of every member, member by member, each path
// prefixed with its member's tag; handles, requests and notifications go to
// the member that owns them. The members must outlive the composite.
//
// An adapter appears once only if the members agree on who serves it: a
// member must leave out the devices it lists but cannot open because another
// driver holds them (LibusbStack does so for devices bound to a driver
// libusb cannot use).
class CompositeDriverPort : public DriverPort {
public:
    struct Member {
        DriverPort *port = nullptr;
        QString tag; // prefixes the member's paths: "<tag>:<path>"
    };

    explicit CompositeDriverPort(QVector<Member> members);
    ~CompositeDriverPort() override;
    CompositeDriverPort(const CompositeDriverPort &) = delete;
    CompositeDriverPort &operator=(const CompositeDriverPort &) = delete;

    // Lists what the members that can list do; false only when none can.
    bool listDevices(const QUuid &interfaceClass, QStringList &paths) override;
    Handle openDevice(const QString &path) override;
    bool closeDevice(Handle handle) override;
    bool ioControl(Handle handle, uint32_t code, uint8_t *in, uint32_t inLength, uint8_t *out,
                   uint32_t outLength, uint32_t &bytesReturned) override;
    uint32_t startRequest(Handle handle, uint32_t code, uint8_t *in, uint32_t inLength,
                          uint8_t *out, uint32_t outLength, CompletionRecord &record) override;
    WaitResult waitRequest(CompletionRecord &record, int timeoutMs) override;
    bool requestResult(CompletionRecord &record, uint32_t &bytes) override;
    void releaseRequest(CompletionRecord &record) override;
    Registration registerClassNotification(const QUuid &interfaceClass,
                                           DeviceChangeHandler handler) override;
    Registration registerHandleNotification(Handle handle, DeviceChangeHandler handler) override;
    bool unregisterNotification(Registration registration) override;
    Registration registerWindowNotification(quintptr nativeWindow,
                                            const QUuid &interfaceClass) override;
    QString lastOpenError() const override { return m_lastOpenError; }
    void systemDeviceChange() override;

private:
    struct Opened {
        int member = -1;
        Handle inner = InvalidHandle;
    };
    struct Inner {
        int member = -1;
        Registration registration = 0;
    };

    const Opened *opened(Handle handle) const;
    DriverPort *owner(const CompletionRecord &record) const;
    QString outerPath(int member, const QString &path) const;
    // A registration of ours for the members' own; 0 when no member made one.
    Registration keep(std::vector<Inner> inner);

    QVector<Member> m_members;
    std::map<Handle, Opened> m_opened;
    Handle m_nextHandle = 1;
    std::map<Registration, std::vector<Inner>> m_registrations;
    Registration m_nextRegistration = 1;
    QString m_lastOpenError;
};

#endif
