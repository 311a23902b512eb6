#include "CCyBulkEndPoint.h"

std::unique_ptr<RequestBlock> CCyBulkEndPoint::beginTransfer(uint8_t *buffer, int length,
                                                             CompletionRecord &record) {
    return useDirect == 1 ? beginDirect(buffer, length, record)
                          : beginBuffered(buffer, length, record);
}
