#include "ScriptedDriverPort.h"

#include "CompletionRecord.h"
#include "RequestBlock.h"

#include <algorithm>
#include <cstring>

bool ScriptedDriverPort::listDevices(const QUuid &, QStringList &paths) {
    paths = QStringList{QStringLiteral("dev0")};
    return true;
}

bool ScriptedDriverPort::ioControl(Handle handle, uint32_t code, uint8_t *in, uint32_t inLength,
                                   uint8_t *out, uint32_t outLength, uint32_t &bytesReturned) {
    ioCalls.append({handle, code, QByteArray(reinterpret_cast<const char *>(in), int(inLength)),
                    outLength, out == in && out});
    bytesReturned = 0;
    return true;
}

uint32_t ScriptedDriverPort::startRequest(Handle handle, uint32_t code, uint8_t *in,
                                          uint32_t inLength, uint8_t *out, uint32_t outLength,
                                          CompletionRecord &record) {
    starts.append({handle, code, QByteArray(reinterpret_cast<const char *>(in), int(inLength)),
                   outLength, out == in});
    m_in = in;
    m_inLength = inLength;
    m_out = out;
    m_outLength = outLength;
    m_completed = false;
    record.setStartError(startError);
    if (startError == NoError || startError == IoPending)
        record.attach(this, uint64_t(starts.size()));
    if (startError == NoError)
        complete();
    return startError;
}

void ScriptedDriverPort::complete() {
    if (m_completed)
        return;
    m_completed = true;
    RequestBlock::write32(m_in, RequestBlock::UsbStatusField, usbStatusWord);
    RequestBlock::write32(m_in, RequestBlock::SystemStatusField, systemStatusWord);
    const bool buffered = m_out == m_in;
    uint8_t *target = m_out;
    uint32_t room = m_outLength;
    if (buffered) {
        const uint32_t offset = RequestBlock::read32(m_in, RequestBlock::DataOffsetField);
        target = m_in + offset;
        room = RequestBlock::read32(m_in, RequestBlock::DataLengthField);
    }
    if (target)
        std::memcpy(target, reply.constData(), std::min<size_t>(size_t(reply.size()), room));
}

DriverPort::WaitResult ScriptedDriverPort::waitRequest(CompletionRecord &, int timeoutMs) {
    waits.append(timeoutMs);
    WaitResult result = WaitResult::Signalled;
    if (timeoutMs != WaitForever && !waitResults.isEmpty())
        result = waitResults.takeFirst();
    if (result == WaitResult::Signalled)
        complete();
    return result;
}

bool ScriptedDriverPort::requestResult(CompletionRecord &, uint32_t &bytes) {
    if (resultBytes >= 0)
        bytes = uint32_t(resultBytes);
    else
        bytes = m_out == m_in ? m_inLength : m_outLength;
    return resultOk;
}

void ScriptedDriverPort::releaseRequest(CompletionRecord &) {
    ++releases;
}
