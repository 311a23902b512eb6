#include "CCyUSBEndPoint.h"

#include "CompletionRecord.h"
#include "ControlCode.h"

#include <algorithm>
#include <climits>
#include <cstring>

CCyUSBEndPoint::CCyUSBEndPoint(DriverPort &port, DriverPort::Handle handle)
    : m_port(port), m_handle(handle) {}

CCyUSBEndPoint::CCyUSBEndPoint(DriverPort &port, DriverPort::Handle handle,
                               const uint8_t *descriptor)
    : m_port(port), m_handle(handle) {
    descriptorLength = descriptor[0];
    descriptorType = descriptor[1];
    address = descriptor[2];
    attributes = descriptor[3];
    const uint16_t wMaxPacketSize = RequestBlock::read16(descriptor, 4);
    // Bits 12..11 give the additional transactions per microframe of a
    // high-bandwidth endpoint.
    packetsPerFrame = uint16_t(((wMaxPacketSize >> 11) & 3) + 1);
    maxPacketSize = uint16_t((wMaxPacketSize & 0x7FF) * packetsPerFrame);
    interval = descriptor[6];
    isIn = (address & 0x80) != 0;
}

std::unique_ptr<RequestBlock> CCyUSBEndPoint::start(uint32_t code,
                                                    std::unique_ptr<RequestBlock> block,
                                                    uint8_t *out, uint32_t outLength,
                                                    CompletionRecord &record) {
    lastError =
        m_port.startRequest(m_handle, code, block->bytes(), block->size(), out, outLength, record);
    usbStatus = block->usbStatus();
    systemStatus = block->systemStatus();
    return block;
}

std::unique_ptr<RequestBlock> CCyUSBEndPoint::bufferedBlock(const uint8_t *buffer, uint32_t length,
                                                            uint32_t tableLength) const {
    auto block = std::make_unique<RequestBlock>(RequestBlock::HeaderSize + tableLength + length);
    block->setEndpointAddress(address);
    if (tableLength > 0)
        block->setPacketTable(RequestBlock::HeaderSize, tableLength);
    block->setData(RequestBlock::HeaderSize + tableLength, length);
    if (buffer && length > 0)
        std::memcpy(block->data(), buffer, length);
    return block;
}

std::unique_ptr<RequestBlock> CCyUSBEndPoint::beginDirect(uint8_t *buffer, int length,
                                                          CompletionRecord &record) {
    if (!hasHandle() || length < 0)
        return nullptr;
    auto block = std::make_unique<RequestBlock>();
    block->setEndpointAddress(address);
    return start(ControlCode::DirectTransfer, std::move(block), buffer, uint32_t(length), record);
}

std::unique_ptr<RequestBlock> CCyUSBEndPoint::beginBuffered(uint8_t *buffer, int length,
                                                            CompletionRecord &record) {
    if (!hasHandle() || length < 0 || uint32_t(length) > UINT32_MAX - RequestBlock::HeaderSize)
        return nullptr;
    auto block = bufferedBlock(buffer, uint32_t(length), 0);
    uint8_t *bytes = block->bytes();
    const uint32_t size = block->size();
    return start(ControlCode::BufferedTransfer, std::move(block), bytes, size, record);
}

bool CCyUSBEndPoint::waitForTransfer(CompletionRecord &record) {
    lastError = record.startError();
    if (lastError == DriverPort::NoError)
        return true;
    if (lastError != DriverPort::IoPending)
        return false;
    const int wait = int(std::min<uint32_t>(timeoutMs, INT_MAX));
    switch (m_port.waitRequest(record, wait)) {
    case DriverPort::WaitResult::Signalled:
        return true;
    case DriverPort::WaitResult::TimedOut:
        // The request still owns the buffers: it must end before they go.
        abort();
        m_port.waitRequest(record, DriverPort::WaitForever);
        return false;
    case DriverPort::WaitResult::Failed:
        break;
    }
    return false;
}

bool CCyUSBEndPoint::finishTransfer(uint8_t *buffer, int &length, CompletionRecord &record,
                                    std::unique_ptr<RequestBlock> block, uint8_t *packetTable) {
    const uint32_t requested = length > 0 ? uint32_t(length) : 0;
    uint32_t bytes = 0;
    const bool fetched = m_port.requestResult(record, bytes);
    // A request that has not ended by now is ended here, before its block goes.
    record.release();
    if (!block) {
        length = 0;
        bytesTransferred = 0;
        return false;
    }

    // A buffered request returns the whole block, header included; a direct
    // one only the data, and its block's data offset is 0. Never believe more
    // than the request could have carried.
    uint32_t n = 0;
    if (bytes != 0 && bytes > block->dataOffset())
        n = std::min(bytes - block->dataOffset(), requested);
    length = int(n);
    bytesTransferred = n;

    usbStatus = block->usbStatus();
    systemStatus = block->systemStatus();

    const uint8_t *data = block->data();
    if (isIn && n > 0 && data && buffer)
        std::memcpy(buffer, data, std::min(n, block->dataLength()));

    const uint8_t *table = block->packetTable();
    if (packetTable && n > 0 && table) {
        std::memset(packetTable, 0, block->packetTableLength());
        std::memcpy(packetTable, table, block->packetTableLength());
    }
    block.reset();
    return fetched && usbStatus == 0 && systemStatus == 0;
}

bool CCyUSBEndPoint::transfer(uint8_t *buffer, int &length, uint8_t *packetTable) {
    CompletionRecord record;
    std::unique_ptr<RequestBlock> block = beginTransfer(buffer, length, record);
    if (!block) {
        length = 0;
        bytesTransferred = 0;
        return false;
    }
    const bool waited = waitForTransfer(record);
    const bool finished = finishTransfer(buffer, length, record, std::move(block), packetTable);
    return waited && finished;
}

void CCyUSBEndPoint::abort() {
    if (!hasHandle())
        return;
    uint8_t endpoint = address;
    uint32_t bytes = 0;
    m_port.ioControl(m_handle, ControlCode::AbortEndpoint, &endpoint, 1, nullptr, 0, bytes);
}
