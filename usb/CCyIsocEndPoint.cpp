#include "CCyIsocEndPoint.h"

#include "ControlCode.h"

uint32_t CCyIsocEndPoint::packetCount(int length) const {
    // An endpoint descriptor may claim a packet size of 0.
    if (length <= 0 || maxPacketSize == 0)
        return 0;
    const uint64_t packets = (uint64_t(length) + maxPacketSize - 1) / maxPacketSize;
    // Header, packet table and data must fit one block.
    if (RequestBlock::HeaderSize + packets * RequestBlock::PacketEntrySize + uint64_t(length) >
        UINT32_MAX)
        return 0;
    return uint32_t(packets);
}

std::unique_ptr<RequestBlock> CCyIsocEndPoint::beginDirect(uint8_t *buffer, int length,
                                                           CompletionRecord &record) {
    const uint32_t packets = packetCount(length);
    if (!hasHandle() || packets == 0)
        return nullptr;
    const uint32_t tableLength = packets * RequestBlock::PacketEntrySize;
    auto block = std::make_unique<RequestBlock>(RequestBlock::HeaderSize + tableLength);
    block->setEndpointAddress(address);
    block->setPacketTable(RequestBlock::HeaderSize, tableLength);
    return start(ControlCode::DirectTransfer, std::move(block), buffer, uint32_t(length), record);
}

std::unique_ptr<RequestBlock> CCyIsocEndPoint::beginBuffered(uint8_t *buffer, int length,
                                                             CompletionRecord &record) {
    const uint32_t packets = packetCount(length);
    if (!hasHandle() || packets == 0)
        return nullptr;
    auto block = bufferedBlock(buffer, uint32_t(length), packets * RequestBlock::PacketEntrySize);
    uint8_t *bytes = block->bytes();
    const uint32_t size = block->size();
    return start(ControlCode::BufferedTransfer, std::move(block), bytes, size, record);
}

std::unique_ptr<RequestBlock> CCyIsocEndPoint::beginTransfer(uint8_t *buffer, int length,
                                                             CompletionRecord &record) {
    return useDirect == 1 ? beginDirect(buffer, length, record)
                          : beginBuffered(buffer, length, record);
}
