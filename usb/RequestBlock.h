#ifndef BRANTLE_REQUESTBLOCK_H
#define BRANTLE_REQUESTBLOCK_H

#include <cstdint>
#include <vector>

// One transfer request to the driver: a 38-byte little-endian header (the USB
// setup packet, a time-out, the endpoint, the status words the driver writes
// back and where the packet table and the data lie), followed by the
// isochronous packet table and/or the data when the header places them inside
// the block. A fresh block is all zeroes.
class RequestBlock {
public:
    static constexpr uint32_t HeaderSize = 38;
    static constexpr uint32_t PacketEntrySize = 8;

    enum Field : uint32_t {
        RequestTypeField = 0, // the 8-byte setup packet starts here
        RequestField = 1,
        ValueField = 2,
        IndexField = 4,
        LengthField = 6,
        TimeoutField = 8, // seconds, control transfers only
        ReservedField = 12,
        EndpointField = 13,
        SystemStatusField = 14,
        UsbStatusField = 18,
        PacketTableOffsetField = 22,
        PacketTableLengthField = 26,
        DataOffsetField = 30,
        DataLengthField = 34
    };

    // Zero-filled; never shorter than the header.
    explicit RequestBlock(uint32_t size = HeaderSize);
    // A copy of `size` bytes (at least the header; missing header bytes read as 0).
    RequestBlock(const uint8_t *bytes, uint32_t size);

    uint8_t *bytes() { return m_bytes.data(); }
    const uint8_t *bytes() const { return m_bytes.data(); }
    uint32_t size() const { return static_cast<uint32_t>(m_bytes.size()); }

    uint8_t bmRequestType() const { return m_bytes[RequestTypeField]; }
    uint8_t bRequest() const { return m_bytes[RequestField]; }
    uint16_t wValue() const { return read16(bytes(), ValueField); }
    uint16_t wIndex() const { return read16(bytes(), IndexField); }
    uint16_t wLength() const { return read16(bytes(), LengthField); }
    uint32_t timeoutSeconds() const { return read32(bytes(), TimeoutField); }
    uint8_t endpointAddress() const { return m_bytes[EndpointField]; }
    uint32_t systemStatus() const { return read32(bytes(), SystemStatusField); }
    uint32_t usbStatus() const { return read32(bytes(), UsbStatusField); }
    uint32_t packetTableOffset() const { return read32(bytes(), PacketTableOffsetField); }
    uint32_t packetTableLength() const { return read32(bytes(), PacketTableLengthField); }
    uint32_t dataOffset() const { return read32(bytes(), DataOffsetField); }
    uint32_t dataLength() const { return read32(bytes(), DataLengthField); }

    void setSetupPacket(uint8_t bmRequestType, uint8_t bRequest, uint16_t wValue, uint16_t wIndex,
                        uint16_t wLength);
    void setTimeoutSeconds(uint32_t seconds) { write32(bytes(), TimeoutField, seconds); }
    void setEndpointAddress(uint8_t address) { m_bytes[EndpointField] = address; }
    void setSystemStatus(uint32_t status) { write32(bytes(), SystemStatusField, status); }
    void setUsbStatus(uint32_t status) { write32(bytes(), UsbStatusField, status); }
    void setPacketTable(uint32_t offset, uint32_t length);
    void setData(uint32_t offset, uint32_t length);

    // The data area when the header places it wholly inside the block, else null.
    uint8_t *data();
    const uint8_t *data() const;
    // The packet table when the header places it wholly inside the block, else null.
    const uint8_t *packetTable() const;

    static uint16_t read16(const uint8_t *p, uint32_t offset);
    static uint32_t read32(const uint8_t *p, uint32_t offset);
    static void write16(uint8_t *p, uint32_t offset, uint16_t value);
    static void write32(uint8_t *p, uint32_t offset, uint32_t value);
    // Whether [offset, offset + length) lies within `size` bytes, without overflow.
    static bool fits(uint32_t offset, uint32_t length, uint32_t size);

private:
    std::vector<uint8_t> m_bytes;
};

#endif
