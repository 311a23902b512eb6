#ifndef BRANTLE_CCYUSBENDPOINT_H
#define BRANTLE_CCYUSBENDPOINT_H

#include "DriverPort.h"
#include "RequestBlock.h"

#include <cstdint>
#include <memory>

class CompletionRecord;

// One endpoint of the open device. Transfers go to the driver as request
// blocks, each started asynchronously, waited on with the endpoint's time-out
// and then finished; the rest of the program only uses the synchronous
// transfer().
class CCyUSBEndPoint {
public:
    static constexpr uint32_t DefaultTimeoutMs = 10000;
    static constexpr int DescriptorSize = 7;

    // The device's control endpoint; the device sets its descriptor values.
    CCyUSBEndPoint(DriverPort &port, DriverPort::Handle handle);
    // From a 7-byte endpoint descriptor in the USB 2.0 layout.
    CCyUSBEndPoint(DriverPort &port, DriverPort::Handle handle, const uint8_t *descriptor);
    virtual ~CCyUSBEndPoint() = default;
    CCyUSBEndPoint(const CCyUSBEndPoint &) = delete;
    CCyUSBEndPoint &operator=(const CCyUSBEndPoint &) = delete;

    // Each begin returns the block it started (null when it started none);
    // the block must live until finishTransfer.
    virtual std::unique_ptr<RequestBlock> beginDirect(uint8_t *buffer, int length,
                                                      CompletionRecord &record);
    virtual std::unique_ptr<RequestBlock> beginBuffered(uint8_t *buffer, int length,
                                                        CompletionRecord &record);
    virtual std::unique_ptr<RequestBlock> beginTransfer(uint8_t *buffer, int length,
                                                        CompletionRecord &record) = 0;
    // `length` is the requested length on entry and the data bytes moved on return.
    virtual bool finishTransfer(uint8_t *buffer, int &length, CompletionRecord &record,
                                std::unique_ptr<RequestBlock> block,
                                uint8_t *packetTable = nullptr);

    bool waitForTransfer(CompletionRecord &record);
    bool transfer(uint8_t *buffer, int &length, uint8_t *packetTable = nullptr);
    void abort();

    DriverPort::Handle handle() const { return m_handle; }

    uint8_t descriptorLength = 0;
    uint8_t descriptorType = 0;
    uint8_t address = 0; // bit 7 set = IN
    uint8_t attributes = 0;
    uint16_t maxPacketSize = 0; // bytes per microframe, all packets included
    uint16_t packetsPerFrame = 0;
    uint8_t interval = 0;
    uint32_t timeoutMs = DefaultTimeoutMs;
    uint32_t usbStatus = 0;
    uint32_t systemStatus = 0;
    uint32_t bytesTransferred = 0;
    uint32_t lastError = 0; // DriverPort::Error after the last begin or wait
    bool isIn = false;
    uint32_t useDirect = 1; // 1: bulk data goes straight to the caller's buffer

protected:
    bool hasHandle() const { return m_handle != DriverPort::InvalidHandle; }
    // Starts `block` with request `code`; the driver's answer goes to `out`.
    std::unique_ptr<RequestBlock> start(uint32_t code, std::unique_ptr<RequestBlock> block,
                                        uint8_t *out, uint32_t outLength, CompletionRecord &record);
    // A buffered block of `length` data bytes after `tableLength` bytes of packet table.
    std::unique_ptr<RequestBlock> bufferedBlock(const uint8_t *buffer, uint32_t length,
                                                uint32_t tableLength) const;

    DriverPort &m_port;
    DriverPort::Handle m_handle;
};

#endif
