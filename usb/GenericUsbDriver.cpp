#include "GenericUsbDriver.h"

#include "CompletionRecord.h"
#include "ControlCode.h"
#include "RequestBlock.h"
#include "UsbDeviceNotification.h"

#include <QMetaObject>

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

// A standard SET_INTERFACE request: the stack wants it through setAltSetting.
constexpr uint8_t StandardInterfaceOut = 0x01;
constexpr uint8_t SetInterfaceRequest = 11;

// Waiting "without limit" is done in slices so that a stack with a bounded
// wait still gets there.
constexpr int ForeverSliceMs = 10000;

std::pair<uint32_t, uint32_t> statusWords(UsbTransferStatus status) {
    switch (status) {
    case UsbTransferStatus::Completed:
        return {DriverPort::UsbSuccess, DriverPort::NoError};
    case UsbTransferStatus::Stalled:
        return {DriverPort::UsbStalled, DriverPort::RequestFailed};
    case UsbTransferStatus::Cancelled:
        return {DriverPort::UsbCancelled, DriverPort::RequestCancelled};
    case UsbTransferStatus::NoDevice:
        return {DriverPort::UsbNoDevice, DriverPort::DeviceGone};
    case UsbTransferStatus::Pending:
    case UsbTransferStatus::Failed:
        break;
    }
    return {DriverPort::UsbError, DriverPort::RequestFailed};
}

bool isTransferCode(uint32_t code) {
    return code == ControlCode::BufferedTransfer || code == ControlCode::DirectTransfer;
}

} // namespace

GenericUsbDriver::GenericUsbDriver(UsbStack &stack, const QUuid &interfaceClass)
    : m_stack(stack), m_interfaceClass(interfaceClass) {
    m_stack.setHotplugHandler(
        [this](const QString &path, bool arrived) { onHotplug(path, arrived); });
}

GenericUsbDriver::~GenericUsbDriver() {
    m_stack.setHotplugHandler({});
    while (!m_devices.empty())
        closeDevice(m_devices.begin()->first);
    // Records that outlive the driver must not call back into it.
    for (auto &entry : m_requests) {
        finishCancelled(*entry.second);
        entry.second->record->detach();
    }
}

bool GenericUsbDriver::listDevices(const QUuid &interfaceClass, QStringList &paths) {
    paths.clear();
    if (interfaceClass != m_interfaceClass)
        return true;
    for (const UsbDeviceInfo &info : m_stack.devices())
        paths.append(info.path);
    return true;
}

DriverPort::Handle GenericUsbDriver::openDevice(const QString &path) {
    m_lastOpenError.clear();
    const UsbStack::SessionId session = m_stack.open(path, &m_lastOpenError);
    if (session < 0) {
        if (m_lastOpenError.isEmpty())
            m_lastOpenError = QStringLiteral("Cannot open %1.").arg(path);
        return InvalidHandle;
    }
    m_lastOpenError.clear();
    const Handle handle = m_nextHandle++;
    m_devices[handle] = OpenDevice{session, path};
    return handle;
}

bool GenericUsbDriver::closeDevice(Handle handle) {
    auto it = m_devices.find(handle);
    if (it == m_devices.end())
        return false;
    // Closing cancels what still runs; the records keep the outcome.
    for (auto &entry : m_requests) {
        Request &request = *entry.second;
        if (request.handle != handle || request.transfer == 0)
            continue;
        m_stack.cancel(request.transfer);
        while (!m_stack.wait(request.transfer, ForeverSliceMs)) {
        }
        complete(request);
        if (!request.done)
            finishCancelled(request);
    }
    m_stack.close(it->second.session);
    m_devices.erase(it);
    return true;
}

const GenericUsbDriver::OpenDevice *GenericUsbDriver::device(Handle handle) const {
    auto it = m_devices.find(handle);
    return it == m_devices.end() ? nullptr : &it->second;
}

bool GenericUsbDriver::deviceInfo(Handle handle, UsbDeviceInfo &info) {
    const OpenDevice *open = device(handle);
    if (!open)
        return false;
    for (const UsbDeviceInfo &candidate : m_stack.devices()) {
        if (candidate.path == open->path) {
            info = candidate;
            return true;
        }
    }
    return false;
}

bool GenericUsbDriver::ioControl(Handle handle, uint32_t code, uint8_t *in, uint32_t inLength,
                                 uint8_t *out, uint32_t outLength, uint32_t &bytesReturned) {
    bytesReturned = 0;
    if (!device(handle))
        return false;
    if (!isTransferCode(code))
        return ioControlAtOnce(handle, code, in, inLength, out, outLength, bytesReturned);

    CompletionRecord record;
    const uint32_t error = startRequest(handle, code, in, inLength, out, outLength, record);
    if (error != NoError && error != IoPending)
        return false;
    waitRequest(record, WaitForever);
    return requestResult(record, bytesReturned);
}

bool GenericUsbDriver::ioControlAtOnce(Handle handle, uint32_t code, uint8_t *in, uint32_t inLength,
                                       uint8_t *out, uint32_t outLength, uint32_t &bytesReturned) {
    bytesReturned = 0;
    const OpenDevice *open = device(handle);
    if (!open)
        return false;
    const UsbStack::SessionId session = open->session;

    auto answer32 = [&](uint32_t value) {
        if (!out || outLength < 4)
            return false;
        RequestBlock::write32(out, 0, value);
        bytesReturned = 4;
        return true;
    };
    auto answer8 = [&](uint8_t value) {
        if (!out || outLength < 1)
            return false;
        out[0] = value;
        bytesReturned = 1;
        return true;
    };
    auto answerText = [&](const QString &text) {
        if (!out || outLength < 1)
            return false;
        const QByteArray bytes = text.toLocal8Bit();
        const uint32_t n = std::min<uint32_t>(uint32_t(bytes.size()), outLength - 1);
        std::memcpy(out, bytes.constData(), n);
        std::memset(out + n, 0, outLength - n);
        bytesReturned = outLength;
        return true;
    };

    switch (code) {
    case ControlCode::DriverVersion:
        return answer32(m_driverVersion);
    case ControlCode::UsbInterfaceVersion:
        return answer32(m_usbInterfaceVersion);
    case ControlCode::BusSpeed:
        return answer32(uint32_t(std::max(0, m_stack.speed(session))));
    case ControlCode::CurrentAltSetting: {
        const int alt = m_stack.altSetting(session);
        return alt >= 0 && alt <= 0xFF && answer8(uint8_t(alt));
    }
    case ControlCode::SelectAltSetting: {
        if (!in || inLength < 1 || !out || outLength < 1)
            return false;
        const uint8_t alt = in[0];
        return m_stack.setAltSetting(session, alt) && answer8(alt);
    }
    case ControlCode::DeviceAddress: {
        UsbDeviceInfo info;
        return deviceInfo(handle, info) && answer8(info.address);
    }
    case ControlCode::DeviceName: {
        UsbDeviceInfo info;
        return deviceInfo(handle, info) && answerText(info.deviceName);
    }
    case ControlCode::FriendlyName: {
        UsbDeviceInfo info;
        return deviceInfo(handle, info) && answerText(info.friendlyName);
    }
    case ControlCode::AbortEndpoint: {
        if (!in || inLength < 1)
            return false;
        for (auto &entry : m_requests) {
            Request &request = *entry.second;
            if (request.handle == handle && request.endpoint == in[0] && request.transfer != 0)
                m_stack.cancel(request.transfer);
        }
        return true;
    }
    case ControlCode::ControlTransfer:
        return runControlBlock(session, in, inLength, out, outLength, bytesReturned);
    default:
        return false;
    }
}

// Carries out the control transfer a request block describes, on the driver's
// own copy of the block; the caller gets the whole block back, status words
// and received data included.
bool GenericUsbDriver::runControlBlock(UsbStack::SessionId session, uint8_t *in, uint32_t inLength,
                                       uint8_t *out, uint32_t outLength, uint32_t &bytesReturned) {
    bytesReturned = 0;
    if (!in || inLength < RequestBlock::HeaderSize || !out)
        return false;
    RequestBlock block(in, inLength);
    const ControlOutcome outcome = controlTransfer(session, block);
    block.setUsbStatus(outcome.usbStatus);
    block.setSystemStatus(outcome.systemStatus);
    const uint32_t copied = std::min(outLength, block.size());
    std::memcpy(out, block.bytes(), copied);
    // The block comes back up to the end of the data received or sent.
    const uint64_t returned =
        uint64_t(std::max(block.dataOffset(), RequestBlock::HeaderSize)) + outcome.transferred;
    bytesReturned = uint32_t(std::min<uint64_t>(returned, copied));
    return outcome.ok;
}

GenericUsbDriver::ControlOutcome GenericUsbDriver::controlTransfer(UsbStack::SessionId session,
                                                                   RequestBlock &block) {
    ControlOutcome outcome;
    const uint16_t wLength = block.wLength();
    uint8_t *data = block.data();
    if (wLength > 0 && (!data || wLength > block.dataLength())) {
        outcome.systemStatus = BadParameter;
        return outcome;
    }

    UsbSetupPacket setup;
    setup.bmRequestType = block.bmRequestType();
    setup.bRequest = block.bRequest();
    setup.wValue = block.wValue();
    setup.wIndex = block.wIndex();
    setup.wLength = wLength;

    UsbTransferResult result;
    if (setup.bmRequestType == StandardInterfaceOut && setup.bRequest == SetInterfaceRequest) {
        if (setup.wIndex != 0) { // only interface 0 is claimed
            outcome.systemStatus = NotSupported;
            return outcome;
        }
        result.status = m_stack.setAltSetting(session, setup.wValue) ? UsbTransferStatus::Completed
                                                                     : UsbTransferStatus::Stalled;
        result.bytes = 0;
    } else {
        uint8_t none = 0;
        // A block time-out of 0 seconds goes down as 0 ms, which a host
        // controller library takes as "no limit".
        const uint64_t timeoutMs = uint64_t(block.timeoutSeconds()) * 1000;
        result = m_stack.controlTransfer(session, setup, data ? data : &none,
                                         int(std::min<uint64_t>(timeoutMs, INT_MAX)));
    }
    const auto words = statusWords(result.status);
    outcome.ok = result.status == UsbTransferStatus::Completed;
    outcome.transferred = uint32_t(std::clamp(result.bytes, 0, int(wLength)));
    outcome.usbStatus = words.first;
    outcome.systemStatus = words.second;
    return outcome;
}

uint32_t GenericUsbDriver::startRequest(Handle handle, uint32_t code, uint8_t *in,
                                        uint32_t inLength, uint8_t *out, uint32_t outLength,
                                        CompletionRecord &record) {
    record.release();
    auto fail = [&record](uint32_t error) {
        record.setStartError(error);
        return error;
    };
    const OpenDevice *open = device(handle);
    if (!open)
        return fail(BadHandle);

    auto request = std::make_unique<Request>();
    request->handle = handle;
    if (isTransferCode(code)) {
        const uint32_t error =
            submitTransfer(*request, open->session, code, in, inLength, out, outLength);
        if (error != NoError)
            return fail(error);
        complete(*request);
    } else {
        request->ok = ioControlAtOnce(handle, code, in, inLength, out, outLength, request->bytes);
        request->done = true;
    }
    const uint32_t error = request->done ? NoError : IoPending;
    addRequest(std::move(request), record);
    record.setStartError(error);
    return error;
}

uint32_t GenericUsbDriver::submitTransfer(Request &request, UsbStack::SessionId session,
                                          uint32_t code, uint8_t *in, uint32_t inLength,
                                          uint8_t *out, uint32_t outLength) {
    if (!in || inLength < RequestBlock::HeaderSize)
        return BadParameter;
    const RequestBlock header(in, RequestBlock::HeaderSize);
    request.endpoint = header.endpointAddress();
    if ((request.endpoint & 0x7F) == 0)
        return BadParameter;
    // The stack carries bulk and interrupt transfers only.
    if (header.packetTableLength() != 0 || header.packetTableOffset() != 0)
        return NotSupported;

    uint8_t *buffer = nullptr;
    uint32_t length = 0;
    if (code == ControlCode::BufferedTransfer) {
        const uint32_t offset = header.dataOffset();
        length = header.dataLength();
        if (offset < RequestBlock::HeaderSize || !RequestBlock::fits(offset, length, inLength) ||
            !out || !RequestBlock::fits(offset, length, outLength))
            return BadParameter;
        request.systemBlock = std::make_unique<RequestBlock>(in, inLength);
        request.callerOut = out;
        request.callerOutLength = outLength;
        buffer = request.systemBlock->data();
    } else {
        if (!out && outLength > 0)
            return BadParameter;
        request.callerBlock = in;
        buffer = out;
        length = outLength;
    }
    if (length > uint32_t(INT_MAX))
        return BadParameter;
    static uint8_t none = 0; // a zero-length transfer still needs a buffer
    request.submitted = int(length);
    request.transfer =
        m_stack.submit(session, request.endpoint, buffer ? buffer : &none, request.submitted);
    return request.transfer != 0 ? NoError : RequestFailed;
}

// Takes the stack's outcome when the transfer has finished, writes the status
// words and the received data back to the caller and forgets the transfer.
void GenericUsbDriver::complete(Request &request) {
    if (request.done || request.transfer == 0)
        return;
    const UsbTransferResult result = m_stack.result(request.transfer);
    if (result.status == UsbTransferStatus::Pending)
        return;
    m_stack.release(request.transfer);
    request.transfer = 0;
    request.done = true;
    request.ok = result.status == UsbTransferStatus::Completed;
    const uint32_t transferred = uint32_t(std::clamp(result.bytes, 0, request.submitted));
    const auto words = statusWords(result.status);

    if (request.systemBlock) {
        RequestBlock &block = *request.systemBlock;
        block.setUsbStatus(words.first);
        block.setSystemStatus(words.second);
        const uint32_t copied = std::min(request.callerOutLength, block.size());
        std::memcpy(request.callerOut, block.bytes(), copied);
        request.bytes = std::min(block.dataOffset() + transferred, copied);
    } else {
        RequestBlock::write32(request.callerBlock, RequestBlock::UsbStatusField, words.first);
        RequestBlock::write32(request.callerBlock, RequestBlock::SystemStatusField, words.second);
        request.bytes = transferred;
    }
}

// Ends a transfer without handing anything back: its caller is going away.
void GenericUsbDriver::finishCancelled(Request &request) {
    if (request.transfer == 0)
        return;
    m_stack.cancel(request.transfer);
    while (!m_stack.wait(request.transfer, ForeverSliceMs)) {
    }
    m_stack.release(request.transfer);
    request.transfer = 0;
    request.done = true;
    request.ok = false;
}

GenericUsbDriver::Request *GenericUsbDriver::findRequest(const CompletionRecord &record) {
    if (record.port() != this)
        return nullptr;
    auto it = m_requests.find(record.request());
    return it == m_requests.end() ? nullptr : it->second.get();
}

void GenericUsbDriver::addRequest(std::unique_ptr<Request> request, CompletionRecord &record) {
    const uint64_t id = m_nextRequest++;
    request->record = &record;
    m_requests[id] = std::move(request);
    record.attach(this, id);
}

DriverPort::WaitResult GenericUsbDriver::waitRequest(CompletionRecord &record, int timeoutMs) {
    Request *request = findRequest(record);
    if (!request)
        return WaitResult::Failed;
    if (timeoutMs < 0) {
        while (!request->done) {
            m_stack.wait(request->transfer, ForeverSliceMs);
            complete(*request);
        }
        return WaitResult::Signalled;
    }
    if (!request->done && m_stack.wait(request->transfer, timeoutMs))
        complete(*request);
    return request->done ? WaitResult::Signalled : WaitResult::TimedOut;
}

bool GenericUsbDriver::requestResult(CompletionRecord &record, uint32_t &bytes) {
    bytes = 0;
    Request *request = findRequest(record);
    if (!request)
        return false;
    complete(*request);
    if (!request->done)
        return false;
    bytes = request->bytes;
    return request->ok;
}

void GenericUsbDriver::releaseRequest(CompletionRecord &record) {
    Request *request = findRequest(record);
    if (!request)
        return;
    finishCancelled(*request);
    m_requests.erase(record.request());
}

DriverPort::Registration GenericUsbDriver::registerClassNotification(const QUuid &interfaceClass,
                                                                     DeviceChangeHandler handler) {
    if (!handler)
        return 0;
    const Registration id = m_nextRegistration++;
    m_subscriptions[id] = Subscription{true, interfaceClass, InvalidHandle, std::move(handler)};
    return id;
}

DriverPort::Registration GenericUsbDriver::registerHandleNotification(Handle handle,
                                                                      DeviceChangeHandler handler) {
    if (!handler || !device(handle))
        return 0;
    const Registration id = m_nextRegistration++;
    m_subscriptions[id] = Subscription{false, QUuid(), handle, std::move(handler)};
    return id;
}

DriverPort::Registration GenericUsbDriver::registerWindowNotification(quintptr nativeWindow,
                                                                      const QUuid &interfaceClass) {
    if (interfaceClass != m_interfaceClass || !m_stack.needsSystemDeviceChanges())
        return 0;
    auto notification = std::make_unique<UsbDeviceNotification>(nativeWindow);
    if (!notification->isRegistered())
        return 0;
    const Registration id = m_nextRegistration++;
    m_windowRegistrations[id] = std::move(notification);
    return id;
}

bool GenericUsbDriver::unregisterNotification(Registration registration) {
    if (m_windowRegistrations.erase(registration))
        return true;
    return m_subscriptions.erase(registration) > 0;
}

// The stack may report a change from inside a transfer's wait; handlers run
// later from the event loop, so they never see the layer in mid-request.
void GenericUsbDriver::onHotplug(const QString &path, bool arrived) {
    QMetaObject::invokeMethod(
        &m_context, [this, path, arrived] { dispatch(path, arrived); }, Qt::QueuedConnection);
}

void GenericUsbDriver::dispatch(const QString &path, bool arrived) {
    std::vector<Registration> ids;
    for (const auto &entry : m_subscriptions)
        ids.push_back(entry.first);
    // A handler may register or unregister others (or itself) while we go.
    for (Registration id : ids) {
        auto it = m_subscriptions.find(id);
        if (it == m_subscriptions.end())
            continue;
        DeviceChange change;
        change.kind = arrived ? DeviceChange::Arrival : DeviceChange::Removal;
        change.path = path;
        const Subscription &subscription = it->second;
        if (subscription.forClass) {
            if (subscription.interfaceClass != m_interfaceClass)
                continue;
        } else {
            const OpenDevice *open = device(subscription.handle);
            if (arrived || !open || open->path != path)
                continue;
            change.handle = subscription.handle;
        }
        const DeviceChangeHandler handler = subscription.handler;
        handler(change);
    }
}
