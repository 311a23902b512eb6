#include "RequestBlock.h"

#include <algorithm>
#include <cstring>

RequestBlock::RequestBlock(uint32_t size) : m_bytes(std::max(size, HeaderSize), 0) {}

RequestBlock::RequestBlock(const uint8_t *bytes, uint32_t size)
    : m_bytes(std::max(size, HeaderSize), 0) {
    if (bytes && size > 0)
        std::memcpy(m_bytes.data(), bytes, size);
}

void RequestBlock::setSetupPacket(uint8_t bmRequestType, uint8_t bRequest, uint16_t wValue,
                                  uint16_t wIndex, uint16_t wLength) {
    m_bytes[RequestTypeField] = bmRequestType;
    m_bytes[RequestField] = bRequest;
    write16(bytes(), ValueField, wValue);
    write16(bytes(), IndexField, wIndex);
    write16(bytes(), LengthField, wLength);
}

void RequestBlock::setPacketTable(uint32_t offset, uint32_t length) {
    write32(bytes(), PacketTableOffsetField, offset);
    write32(bytes(), PacketTableLengthField, length);
}

void RequestBlock::setData(uint32_t offset, uint32_t length) {
    write32(bytes(), DataOffsetField, offset);
    write32(bytes(), DataLengthField, length);
}

uint8_t *RequestBlock::data() {
    return const_cast<uint8_t *>(static_cast<const RequestBlock *>(this)->data());
}

const uint8_t *RequestBlock::data() const {
    const uint32_t offset = dataOffset();
    if (offset < HeaderSize || !fits(offset, dataLength(), size()))
        return nullptr;
    return bytes() + offset;
}

const uint8_t *RequestBlock::packetTable() const {
    const uint32_t offset = packetTableOffset();
    if (offset < HeaderSize || !fits(offset, packetTableLength(), size()))
        return nullptr;
    return bytes() + offset;
}

uint16_t RequestBlock::read16(const uint8_t *p, uint32_t offset) {
    return static_cast<uint16_t>(p[offset] | p[offset + 1] << 8);
}

uint32_t RequestBlock::read32(const uint8_t *p, uint32_t offset) {
    return uint32_t(p[offset]) | uint32_t(p[offset + 1]) << 8 | uint32_t(p[offset + 2]) << 16 |
           uint32_t(p[offset + 3]) << 24;
}

void RequestBlock::write16(uint8_t *p, uint32_t offset, uint16_t value) {
    p[offset] = static_cast<uint8_t>(value);
    p[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void RequestBlock::write32(uint8_t *p, uint32_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        p[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

bool RequestBlock::fits(uint32_t offset, uint32_t length, uint32_t size) {
    return offset <= size && length <= size - offset;
}
