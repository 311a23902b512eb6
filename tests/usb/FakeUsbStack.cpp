#include "FakeUsbStack.h"

#include <algorithm>
#include <cstring>

FakeUsbStack::Device *FakeUsbStack::find(const QString &path) {
    for (Device &device : present) {
        if (device.info.path == path)
            return &device;
    }
    return nullptr;
}

int FakeUsbStack::liveTransfers() const {
    return int(m_transfers.size());
}

void FakeUsbStack::plug(const Device &device) {
    present.append(device);
    if (m_hotplug)
        m_hotplug(device.info.path, true);
}

void FakeUsbStack::unplug(const QString &path) {
    present.erase(std::remove_if(present.begin(), present.end(),
                                 [&](const Device &d) { return d.info.path == path; }),
                  present.end());
    if (m_hotplug)
        m_hotplug(path, false);
}

QVector<UsbDeviceInfo> FakeUsbStack::devices() {
    ++devicesCalls;
    QVector<UsbDeviceInfo> infos;
    for (const Device &device : present)
        infos.append(device.info);
    return infos;
}

UsbStack::SessionId FakeUsbStack::open(const QString &path, QString *error) {
    ++opens;
    Device *device = find(path);
    if (!device || device->openFails) {
        if (error)
            *error = QStringLiteral("cannot open");
        return -1;
    }
    m_sessions[m_nextSession] = path;
    return m_nextSession++;
}

void FakeUsbStack::close(SessionId session) {
    ++closes;
    m_sessions.erase(session);
}

UsbTransferResult FakeUsbStack::controlTransfer(SessionId session, const UsbSetupPacket &setup,
                                                uint8_t *data, int timeoutMs) {
    const auto it = m_sessions.find(session);
    Device *device = it == m_sessions.end() ? nullptr : find(it->second);
    Control control{it == m_sessions.end() ? QString() : it->second, setup, {}, timeoutMs};
    const bool in = setup.bmRequestType & 0x80;
    if (!in)
        control.out = QByteArray(reinterpret_cast<const char *>(data), setup.wLength);
    controls.append(control);
    if (!device)
        return {UsbTransferStatus::NoDevice, 0};
    if (setup.bmRequestType == 0x80 && setup.bRequest == 6) {
        const auto found = device->descriptors.find({setup.wValue, setup.wIndex});
        if (found == device->descriptors.end())
            return {UsbTransferStatus::Stalled, 0};
        const int n = std::min<int>(setup.wLength, found->second.size());
        std::memcpy(data, found->second.constData(), size_t(n));
        return {UsbTransferStatus::Completed, n};
    }
    if (in) {
        const int n = std::min<int>(setup.wLength, vendorReply.size());
        std::memcpy(data, vendorReply.constData(), size_t(n));
        return {UsbTransferStatus::Completed, n};
    }
    return {UsbTransferStatus::Completed, setup.wLength};
}

UsbStack::TransferId FakeUsbStack::submit(SessionId session, uint8_t endpointAddress,
                                          uint8_t *buffer, int length) {
    const auto it = m_sessions.find(session);
    if (it == m_sessions.end() || !find(it->second))
        return 0;
    Submission submission{it->second, endpointAddress, length, {}};
    if (!(endpointAddress & 0x80))
        submission.sent = QByteArray(reinterpret_cast<const char *>(buffer), length);
    submissions.append(submission);
    Transfer transfer;
    transfer.endpoint = endpointAddress;
    transfer.buffer = buffer;
    transfer.length = length;
    if (!replies.isEmpty())
        transfer.reply = replies.takeFirst();
    m_transfers[m_nextTransfer] = transfer;
    return m_nextTransfer++;
}

void FakeUsbStack::finish(Transfer &transfer) {
    if (transfer.result.status != UsbTransferStatus::Pending)
        return;
    if (transfer.cancelRequested) {
        transfer.result = {UsbTransferStatus::Cancelled, 0};
        return;
    }
    if (transfer.reply.never)
        return;
    int bytes = transfer.reply.bytes;
    if (transfer.endpoint & 0x80) {
        const int n = std::min<int>(transfer.length, transfer.reply.data.size());
        std::memcpy(transfer.buffer, transfer.reply.data.constData(), size_t(n));
        if (bytes < 0)
            bytes = n;
    } else if (bytes < 0) {
        bytes = transfer.length;
    }
    transfer.result = {transfer.reply.status, bytes};
}

bool FakeUsbStack::wait(TransferId id, int) {
    const auto it = m_transfers.find(id);
    if (it == m_transfers.end())
        return true;
    finish(it->second);
    return it->second.result.status != UsbTransferStatus::Pending;
}

UsbTransferResult FakeUsbStack::result(TransferId id) {
    const auto it = m_transfers.find(id);
    if (it == m_transfers.end())
        return {UsbTransferStatus::Failed, 0};
    return it->second.result;
}

void FakeUsbStack::cancel(TransferId id) {
    cancelled.append(id);
    const auto it = m_transfers.find(id);
    if (it != m_transfers.end())
        it->second.cancelRequested = true;
}

void FakeUsbStack::release(TransferId id) {
    m_transfers.erase(id);
}

int FakeUsbStack::altSetting(SessionId session) {
    const auto it = m_sessions.find(session);
    Device *device = it == m_sessions.end() ? nullptr : find(it->second);
    if (!device || device->altQueryFails)
        return -1;
    return device->alt;
}

bool FakeUsbStack::setAltSetting(SessionId session, int alternateSetting) {
    altSelections.append(alternateSetting);
    const auto it = m_sessions.find(session);
    Device *device = it == m_sessions.end() ? nullptr : find(it->second);
    if (!device || device->setAltFails)
        return false;
    device->alt = alternateSetting;
    return true;
}

int FakeUsbStack::speed(SessionId session) {
    const auto it = m_sessions.find(session);
    Device *device = it == m_sessions.end() ? nullptr : find(it->second);
    return device ? device->speed : 0;
}
