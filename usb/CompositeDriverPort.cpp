#include "CompositeDriverPort.h"

#include "CompletionRecord.h"

#include <utility>

CompositeDriverPort::CompositeDriverPort(QVector<Member> members) : m_members(std::move(members)) {}

CompositeDriverPort::~CompositeDriverPort() {
    while (!m_registrations.empty())
        unregisterNotification(m_registrations.begin()->first);
    while (!m_opened.empty())
        closeDevice(m_opened.begin()->first);
}

QString CompositeDriverPort::outerPath(int member, const QString &path) const {
    return m_members[member].tag + u':' + path;
}

bool CompositeDriverPort::listDevices(const QUuid &interfaceClass, QStringList &paths) {
    paths.clear();
    bool listed = false;
    for (int m = 0; m < m_members.size(); ++m) {
        QStringList own;
        // A member that cannot list (its driver is not installed, say) must
        // not hide the adapters of the others.
        if (!m_members[m].port->listDevices(interfaceClass, own))
            continue;
        listed = true;
        for (const QString &path : std::as_const(own))
            paths.append(outerPath(m, path));
    }
    return listed || m_members.isEmpty();
}

DriverPort::Handle CompositeDriverPort::openDevice(const QString &path) {
    m_lastOpenError.clear();
    for (int m = 0; m < m_members.size(); ++m) {
        const QString prefix = m_members[m].tag + u':';
        if (!path.startsWith(prefix))
            continue;
        DriverPort &port = *m_members[m].port;
        const Handle inner = port.openDevice(path.mid(prefix.size()));
        if (inner == InvalidHandle) {
            m_lastOpenError = port.lastOpenError();
            return InvalidHandle;
        }
        const Handle handle = m_nextHandle++;
        m_opened[handle] = Opened{m, inner};
        return handle;
    }
    m_lastOpenError = QStringLiteral("Cannot open %1.").arg(path);
    return InvalidHandle;
}

const CompositeDriverPort::Opened *CompositeDriverPort::opened(Handle handle) const {
    const auto it = m_opened.find(handle);
    return it == m_opened.end() ? nullptr : &it->second;
}

bool CompositeDriverPort::closeDevice(Handle handle) {
    const auto it = m_opened.find(handle);
    if (it == m_opened.end())
        return false;
    const Opened o = it->second;
    m_opened.erase(it);
    return m_members[o.member].port->closeDevice(o.inner);
}

bool CompositeDriverPort::ioControl(Handle handle, uint32_t code, uint8_t *in, uint32_t inLength,
                                    uint8_t *out, uint32_t outLength, uint32_t &bytesReturned) {
    bytesReturned = 0;
    const Opened *o = opened(handle);
    return o && m_members[o->member].port->ioControl(o->inner, code, in, inLength, out, outLength,
                                                     bytesReturned);
}

uint32_t CompositeDriverPort::startRequest(Handle handle, uint32_t code, uint8_t *in,
                                           uint32_t inLength, uint8_t *out, uint32_t outLength,
                                           CompletionRecord &record) {
    const Opened *o = opened(handle);
    if (!o) {
        record.release();
        record.setStartError(BadHandle);
        return BadHandle;
    }
    // The member attaches itself to the record; later calls find it there.
    return m_members[o->member].port->startRequest(o->inner, code, in, inLength, out, outLength,
                                                   record);
}

DriverPort *CompositeDriverPort::owner(const CompletionRecord &record) const {
    for (const Member &member : m_members) {
        if (member.port == record.port())
            return member.port;
    }
    return nullptr;
}

DriverPort::WaitResult CompositeDriverPort::waitRequest(CompletionRecord &record, int timeoutMs) {
    DriverPort *port = owner(record);
    return port ? port->waitRequest(record, timeoutMs) : WaitResult::Failed;
}

bool CompositeDriverPort::requestResult(CompletionRecord &record, uint32_t &bytes) {
    bytes = 0;
    DriverPort *port = owner(record);
    return port && port->requestResult(record, bytes);
}

void CompositeDriverPort::releaseRequest(CompletionRecord &record) {
    if (DriverPort *port = owner(record))
        port->releaseRequest(record);
}

DriverPort::Registration CompositeDriverPort::keep(std::vector<Inner> inner) {
    if (inner.empty())
        return 0;
    const Registration id = m_nextRegistration++;
    m_registrations[id] = std::move(inner);
    return id;
}

DriverPort::Registration
CompositeDriverPort::registerClassNotification(const QUuid &interfaceClass,
                                               DeviceChangeHandler handler) {
    std::vector<Inner> inner;
    for (int m = 0; m < m_members.size(); ++m) {
        const Registration r = m_members[m].port->registerClassNotification(
            interfaceClass, [this, m, handler](const DeviceChange &change) {
                DeviceChange outer = change;
                outer.path = outerPath(m, change.path);
                outer.handle = InvalidHandle;
                handler(outer);
            });
        if (r != 0)
            inner.push_back(Inner{m, r});
    }
    return keep(std::move(inner));
}

DriverPort::Registration
CompositeDriverPort::registerHandleNotification(Handle handle, DeviceChangeHandler handler) {
    const Opened *o = opened(handle);
    if (!o)
        return 0;
    const int m = o->member;
    const Registration r = m_members[m].port->registerHandleNotification(
        o->inner, [this, m, handle, handler](const DeviceChange &change) {
            DeviceChange outer = change;
            outer.path = outerPath(m, change.path);
            outer.handle = handle;
            handler(outer);
        });
    if (r == 0)
        return 0;
    return keep({Inner{m, r}});
}

// Each member registers the window for what it serves; the window then
// rebuilds its list on any of their messages.
DriverPort::Registration
CompositeDriverPort::registerWindowNotification(quintptr nativeWindow,
                                                const QUuid &interfaceClass) {
    std::vector<Inner> inner;
    for (int m = 0; m < m_members.size(); ++m) {
        const Registration r =
            m_members[m].port->registerWindowNotification(nativeWindow, interfaceClass);
        if (r != 0)
            inner.push_back(Inner{m, r});
    }
    return keep(std::move(inner));
}

bool CompositeDriverPort::unregisterNotification(Registration registration) {
    const auto it = m_registrations.find(registration);
    if (it == m_registrations.end())
        return false;
    const std::vector<Inner> inner = std::move(it->second);
    m_registrations.erase(it);
    bool all = true;
    for (const Inner &i : inner)
        all = m_members[i.member].port->unregisterNotification(i.registration) && all;
    return all;
}

void CompositeDriverPort::systemDeviceChange() {
    for (const Member &member : std::as_const(m_members))
        member.port->systemDeviceChange();
}
