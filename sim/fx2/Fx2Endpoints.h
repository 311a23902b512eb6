#ifndef BRANTLE_SIM_FX2_FX2ENDPOINTS_H
#define BRANTLE_SIM_FX2_FX2ENDPOINTS_H

#include <QByteArray>

#include <array>
#include <cstdint>
#include <vector>

// The buffers of one of the FX2's large endpoints (EP2, EP4, EP6, EP8) as
// the firmware handles them by hand (no slave FIFO): a ring of two to four
// buffers, each owned either by the CPU or by the USB side.
//
// OUT: the host fills USB-owned ("armed") buffers in ring order, which hands
// them to the CPU with their byte count. Writing EPxBCL with SKIP set hands
// the oldest CPU-owned buffer back to the USB side. Without SKIP the packet
// would be committed to the slave FIFO, which this model does not have: the
// buffer goes back to the USB side as with SKIP, and the commit is counted.
// After reset every buffer belongs to the CPU with a byte count of 0, so the
// firmware has to arm them.
//
// IN: the CPU fills the next free buffer and commits it by writing EPxBCL
// (EPxBCH first); the host takes committed packets in order, which frees
// their buffers.
//
// EMPTY: no buffer holds data for its reader (OUT: the CPU, IN: the host).
// FULL: no buffer is left to its writer. NPAK: packets waiting for the reader.
class BulkEndpoint {
public:
    static constexpr int MaxBuffers = 4;
    static constexpr int MaxBufferSize = 1024;

    // `number`: 2, 4, 6 or 8. The power-on configuration is the chip's:
    // EP2 and EP4 OUT, EP6 and EP8 IN, all bulk, 512 bytes, double buffered.
    explicit BulkEndpoint(int number);

    int number() const { return number_; }
    uint8_t config() const { return config_; }
    // EPxCFG: valid, direction, type, (EP2, EP6) size and buffering. The
    // buffers start again in their reset state.
    void configure(uint8_t config);
    bool valid() const;
    bool in() const;
    int bufferCount() const { return count_; }
    int bufferSize() const { return size_; }

    // The buffer the CPU sees at EPxFIFOBUF now.
    uint8_t *cpuWindow();

    // CPU side.
    uint16_t byteCount() const; // OUT: of the oldest CPU-owned packet; IN: as last written
    void writeByteCountHigh(uint8_t value);
    // Returns true when a buffer changed hands (something the host may see).
    bool writeByteCountLow(uint8_t value);
    // OUTPKTEND with SKIP: the same as EPxBCL with SKIP.
    bool skip();
    bool empty() const;
    bool full() const;
    int packets() const;
    int fifoCommits() const { return fifoCommits_; }

    // USB side.
    bool acceptsPacket() const;
    void receivePacket(const QByteArray &packet);
    bool hasPacket() const;
    QByteArray takePacket();

    bool stalled() const { return stalled_; }
    void setStalled(bool stalled) { stalled_ = stalled; }
    void appendBuffers(std::vector<uint8_t> &state) const;
    bool toggle() const { return toggle_; }
    void setToggle(bool toggle) { toggle_ = toggle; }

private:
    void resetBuffers();

    int number_;
    uint8_t config_ = 0;
    int count_ = 2;
    int size_ = 512;
    std::array<std::array<uint8_t, MaxBufferSize>, MaxBuffers> data_{};
    std::array<uint16_t, MaxBuffers> length_{};
    int head_ = 0;  // OUT: oldest CPU-owned buffer; IN: oldest committed buffer
    int owned_ = 0; // OUT: CPU-owned buffers; IN: committed buffers
    uint8_t countHigh_ = 0;
    uint16_t lastCount_ = 0;
    int fifoCommits_ = 0;
    bool stalled_ = false;
    bool toggle_ = false;
};

#endif
