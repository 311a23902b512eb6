#ifndef BRANTLE_CCYISOCENDPOINT_H
#define BRANTLE_CCYISOCENDPOINT_H

#include "CCyUSBEndPoint.h"

// Isochronous requests carry a packet table of one 8-byte entry per packet,
// which the driver fills in.
class CCyIsocEndPoint : public CCyUSBEndPoint {
public:
    using CCyUSBEndPoint::CCyUSBEndPoint;

    std::unique_ptr<RequestBlock> beginDirect(uint8_t *buffer, int length,
                                              CompletionRecord &record) override;
    std::unique_ptr<RequestBlock> beginBuffered(uint8_t *buffer, int length,
                                                CompletionRecord &record) override;
    std::unique_ptr<RequestBlock> beginTransfer(uint8_t *buffer, int length,
                                                CompletionRecord &record) override;

    // Packets for `length` bytes; 0 when none can be started.
    uint32_t packetCount(int length) const;
};

#endif
