#include "Fx2Endpoints.h"

#include "Fx2Registers.h"

#include <algorithm>

using namespace fx2;

BulkEndpoint::BulkEndpoint(int number) : number_(number) {
    // Valid, bulk; EP6 and EP8 IN; EP2 and EP6 with two buffers of 512.
    const uint8_t in = number >= 6 ? bit::EPCFG_DIR_IN : 0;
    const uint8_t buffering = (number == 2 || number == 6) ? 0x02 : 0x00;
    configure(uint8_t(bit::EPCFG_VALID | in | 0x20 | buffering));
}

void BulkEndpoint::configure(uint8_t config) {
    config_ = config;
    count_ = 2;
    size_ = 512;
    if (number_ == 2 || number_ == 6) {
        const int buffering = config & bit::EPCFG_BUF;
        count_ = buffering == 0 ? 4 : buffering == 3 ? 3 : 2;
        if (config & bit::EPCFG_SIZE)
            size_ = 1024;
    }
    resetBuffers();
}

void BulkEndpoint::resetBuffers() {
    head_ = 0;
    length_.fill(0);
    countHigh_ = 0;
    lastCount_ = 0;
    // OUT buffers start with the CPU, IN buffers free for it.
    owned_ = in() ? 0 : count_;
}

bool BulkEndpoint::valid() const {
    return config_ & bit::EPCFG_VALID;
}

bool BulkEndpoint::in() const {
    return config_ & bit::EPCFG_DIR_IN;
}

uint8_t *BulkEndpoint::cpuWindow() {
    const int index = in() ? (head_ + owned_) % count_ : head_;
    return data_[size_t(index)].data();
}

uint16_t BulkEndpoint::byteCount() const {
    if (in())
        return lastCount_;
    return owned_ > 0 ? length_[size_t(head_)] : 0;
}

void BulkEndpoint::writeByteCountHigh(uint8_t value) {
    countHigh_ = value & 0x07;
}

bool BulkEndpoint::writeByteCountLow(uint8_t value) {
    if (in()) {
        lastCount_ = uint16_t(std::min((countHigh_ << 8) | value, size_));
        if (owned_ >= count_)
            return false; // no free buffer: the commit goes nowhere
        length_[size_t((head_ + owned_) % count_)] = lastCount_;
        ++owned_;
        return true;
    }
    if (!(value & bit::BCL_SKIP) && owned_ > 0)
        ++fifoCommits_;
    return skip();
}

bool BulkEndpoint::skip() {
    if (in() || owned_ == 0)
        return false;
    // The oldest CPU-owned buffer becomes the last armed one in the ring.
    head_ = (head_ + 1) % count_;
    --owned_;
    return true;
}

bool BulkEndpoint::empty() const {
    return owned_ == 0;
}

bool BulkEndpoint::full() const {
    return owned_ >= count_;
}

int BulkEndpoint::packets() const {
    return owned_;
}

bool BulkEndpoint::acceptsPacket() const {
    return valid() && !in() && !stalled_ && owned_ < count_;
}

void BulkEndpoint::receivePacket(const QByteArray &packet) {
    if (!acceptsPacket())
        return;
    const int index = (head_ + owned_) % count_;
    const int n = std::min<int>(packet.size(), size_);
    std::copy(packet.constData(), packet.constData() + n, data_[size_t(index)].begin());
    length_[size_t(index)] = uint16_t(n);
    ++owned_;
    toggle_ = !toggle_;
}

bool BulkEndpoint::hasPacket() const {
    return valid() && in() && !stalled_ && owned_ > 0;
}

QByteArray BulkEndpoint::takePacket() {
    if (!hasPacket())
        return QByteArray();
    const auto &buffer = data_[size_t(head_)];
    QByteArray packet(reinterpret_cast<const char *>(buffer.data()), length_[size_t(head_)]);
    head_ = (head_ + 1) % count_;
    --owned_;
    toggle_ = !toggle_;
    return packet;
}

void BulkEndpoint::appendBuffers(std::vector<uint8_t> &state) const {
    for (int i = 0; i < count_; ++i)
        state.insert(state.end(), data_[size_t(i)].begin(), data_[size_t(i)].begin() + size_);
}
