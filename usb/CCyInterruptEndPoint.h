#ifndef BRANTLE_CCYINTERRUPTENDPOINT_H
#define BRANTLE_CCYINTERRUPTENDPOINT_H

#include "CCyUSBEndPoint.h"

class CCyInterruptEndPoint : public CCyUSBEndPoint {
public:
    using CCyUSBEndPoint::CCyUSBEndPoint;

    std::unique_ptr<RequestBlock> beginTransfer(uint8_t *buffer, int length,
                                                CompletionRecord &record) override;
};

#endif
