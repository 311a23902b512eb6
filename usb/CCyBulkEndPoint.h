#ifndef BRANTLE_CCYBULKENDPOINT_H
#define BRANTLE_CCYBULKENDPOINT_H

#include "CCyUSBEndPoint.h"

class CCyBulkEndPoint : public CCyUSBEndPoint {
public:
    using CCyUSBEndPoint::CCyUSBEndPoint;

    std::unique_ptr<RequestBlock> beginTransfer(uint8_t *buffer, int length,
                                                CompletionRecord &record) override;
};

#endif
