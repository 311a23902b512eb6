// How busy the firmware keeps the I2C bus: the firmware image we ship runs on
// the FX2 core (cycle-exact) and sends a 4 KiB write and a 4 KiB read at 100
// and 400 kHz. The counters relate the bus time from the first START to the
// end of the last STOP with what the bytes need at the least: 9 bit times a
// byte and one for each START and STOP.
//
// Around the core sits only what a transaction touches: RAM, the EP4 OUT and
// EP8 IN buffers with their byte counts and EP2468STAT, the auto-pointers,
// and an I2C controller that finishes each byte 9 bit times after the
// firmware starts it, on a bus where every byte is acknowledged.
#include "Fx2Registers.h"
#include "Mcs51Core.h"
#include "adapter_wire.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

constexpr uint64_t ClocksPerSecond = 48'000'000; // CLKOUT once the firmware set CPUCS

using namespace fx2::xreg;
using namespace fx2::sfr;

constexpr uint8_t Start = fx2::bit::I2CS_START, Stop = fx2::bit::I2CS_STOP,
                  LastRead = fx2::bit::I2CS_LASTRD, Ack = fx2::bit::I2CS_ACK,
                  Done = fx2::bit::I2CS_DONE;

std::vector<uint8_t> shippedImage() {
    std::ifstream file(BRANTLE_FIRMWARE_IMAGE, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

class Adapter : public mcs51::Bus {
public:
    explicit Adapter(const std::vector<uint8_t> &image) : core_(*this) {
        std::copy(image.begin(), image.begin() + std::min<size_t>(image.size(), ram_.size()),
                  ram_.begin());
        core_.setCodeMemory(ram_.data(), uint32_t(ram_.size()));
        for (unsigned p = 0; p < 0x40; ++p)
            core_.mapXdataPage(uint8_t(p), &ram_[p * 256]);
        for (unsigned p = 0; p < 2; ++p) {
            core_.mapXdataPage(uint8_t(0xE0 + p), &scratch_[p * 256]);
            core_.mapXdataPage(uint8_t(0xF4 + p), &ep4_[p * 256]);
            core_.mapXdataPage(uint8_t(0xFC + p), &ep8_[p * 256]);
        }
        for (uint8_t sfr : {AUTOPTRH1, AUTOPTRL1, AUTOPTRH2, AUTOPTRL2, EP2468STAT, AUTOPTRSETUP})
            core_.claimSfr(sfr);
        core_.reset();
    }

    // Sends the header and the stream as the host does and runs the core
    // until the reply is in. False if it never came.
    bool transaction(const std::vector<uint8_t> &stream, int reply) {
        // Start-up first: it arms the OUT buffers, which hands back whatever
        // they held.
        core_.run(core_.clocks() + ClocksPerSecond / 1000);
        const size_t length = stream.size() + WIRE_HEADER_SIZE;
        out_.push_back(
            {uint8_t(length), uint8_t(length >> 8), uint8_t(reply), uint8_t(reply >> 8)});
        for (size_t at = 0; at < stream.size(); at += 512)
            out_.emplace_back(stream.begin() + long(at),
                              stream.begin() + long(std::min(at + 512, stream.size())));
        loadPacket();
        const uint64_t limit = core_.clocks() + 2 * ClocksPerSecond;
        while (replied_ < size_t(reply) && core_.clocks() < limit &&
               core_.fault() == mcs51::Fault::None)
            core_.run(core_.clocks() + 100'000);
        return replied_ >= size_t(reply);
    }

    double occupancy() const {
        return double(idealBits_ * bitClocks_) / double(lastStopEnd_ - firstStart_);
    }
    double idleMicrosecondsPerByte() const {
        const double busy = double(idealBits_ * bitClocks_);
        return (double(lastStopEnd_ - firstStart_) - busy) / double(bytes_) * 1e6 /
               double(ClocksPerSecond);
    }
    uint64_t instructions() const { return core_.instructions(); }

    uint8_t readXdata(uint16_t address) override {
        const uint64_t now = core_.clocks();
        switch (address) {
        case I2CS: {
            uint8_t s = startPending_ ? Start : 0;
            if (stopPending_ && now < stopEnd_)
                s |= Stop;
            if (byteIssued_ && now >= doneAt_)
                s |= Done | Ack;
            return s;
        }
        case I2DAT:
            return fetch(now);
        case XAUTODAT1:
            return *xdata(autoPointer1_++);
        case XAUTODAT2:
            return *xdata(autoPointer2_++);
        case USBCS:
            return 0x80; // high speed
        case EP4BCH:
            return uint8_t(packetSize_ >> 8);
        case EP4BCL:
            return uint8_t(packetSize_);
        default:
            return registers_[address & 0xFF];
        }
    }

    void writeXdata(uint16_t address, uint8_t value) override {
        const uint64_t now = core_.clocks();
        switch (address) {
        case I2CS:
            if (value & Start)
                startPending_ = true;
            if (value & LastRead)
                lastRead_ = true;
            if ((value & Stop) && !readMode_)
                stop(std::max(now, doneAt_));
            else if (value & Stop)
                stopPending_ = true; // goes out when the last byte is fetched
            return;
        case I2DAT:
            send(now, value);
            return;
        case I2CTL:
            bitClocks_ = (value & 1) ? ClocksPerSecond / 400'000 : ClocksPerSecond / 100'000;
            return;
        case XAUTODAT1:
            *xdata(autoPointer1_++) = value;
            return;
        case XAUTODAT2:
            *xdata(autoPointer2_++) = value;
            return;
        case EP4BCL:
            // A byte count written back hands the packet back (or arms an
            // empty buffer at start-up).
            if (packetSize_ || packetLoaded_) {
                packetLoaded_ = false;
                packetSize_ = 0;
                loadPacket();
            }
            return;
        case EP8BCL:
            replied_ += (size_t(registers_[EP8BCH & 0xFF]) << 8) | value;
            return;
        default:
            registers_[address & 0xFF] = value;
        }
    }

    uint8_t readSfr(uint8_t address) override {
        switch (address) {
        case AUTOPTRH1:
            return uint8_t(autoPointer1_ >> 8);
        case AUTOPTRL1:
            return uint8_t(autoPointer1_);
        case AUTOPTRH2:
            return uint8_t(autoPointer2_ >> 8);
        case AUTOPTRL2:
            return uint8_t(autoPointer2_);
        case EP2468STAT:
            // EP2, EP6 and EP8 empty; EP4 empty until a packet waits; never full.
            return uint8_t(0x51 | (packetLoaded_ ? 0 : 0x04));
        default:
            return autoPointerSetup_;
        }
    }

    void writeSfr(uint8_t address, uint8_t value) override {
        switch (address) {
        case AUTOPTRH1:
            autoPointer1_ = uint16_t((autoPointer1_ & 0x00FF) | (value << 8));
            return;
        case AUTOPTRL1:
            autoPointer1_ = uint16_t((autoPointer1_ & 0xFF00) | value);
            return;
        case AUTOPTRH2:
            autoPointer2_ = uint16_t((autoPointer2_ & 0x00FF) | (value << 8));
            return;
        case AUTOPTRL2:
            autoPointer2_ = uint16_t((autoPointer2_ & 0xFF00) | value);
            return;
        case AUTOPTRSETUP:
            autoPointerSetup_ = value;
            return;
        default:
            return;
        }
    }

private:
    uint8_t *xdata(uint16_t address) {
        if (address < 0x4000)
            return &ram_[address];
        if (address >= 0xF400 && address < 0xF600)
            return &ep4_[address - 0xF400];
        if (address >= 0xFC00 && address < 0xFE00)
            return &ep8_[address - 0xFC00];
        return &scratch_[address & 0x1FF];
    }

    void loadPacket() {
        if (packetLoaded_ || out_.empty())
            return;
        std::copy(out_.front().begin(), out_.front().end(), ep4_.begin());
        packetSize_ = uint16_t(out_.front().size());
        out_.pop_front();
        packetLoaded_ = true;
    }

    void send(uint64_t now, uint8_t value) {
        uint64_t t = now;
        if (startPending_) {
            if (!started_) {
                started_ = true;
                firstStart_ = t;
            }
            startPending_ = false;
            readMode_ = value & 1;
            t += bitClocks_;
            ++idealBits_;
        }
        doneAt_ = t + 9 * bitClocks_;
        byteIssued_ = true;
        idealBits_ += 9;
        ++bytes_;
    }

    // Fetching I2DAT in a read hands over the byte received and starts the
    // next, or, with STOP set, sends the STOP instead.
    uint8_t fetch(uint64_t now) {
        const uint8_t value = received_++;
        if (!readMode_)
            return value;
        if (stopPending_) {
            readMode_ = false;
            stop(now);
            return value;
        }
        lastRead_ = false;
        doneAt_ = now + 9 * bitClocks_;
        idealBits_ += 9;
        ++bytes_;
        return value;
    }

    void stop(uint64_t from) {
        stopPending_ = true;
        stopEnd_ = from + bitClocks_;
        lastStopEnd_ = stopEnd_;
        readMode_ = false;
        ++idealBits_;
    }

    mcs51::Core core_;
    std::vector<uint8_t> ram_ = std::vector<uint8_t>(0x4000, 0);
    std::vector<uint8_t> scratch_ = std::vector<uint8_t>(0x200, 0);
    std::vector<uint8_t> ep4_ = std::vector<uint8_t>(0x200, 0);
    std::vector<uint8_t> ep8_ = std::vector<uint8_t>(0x200, 0);
    uint8_t registers_[256] = {};
    std::deque<std::vector<uint8_t>> out_;
    bool packetLoaded_ = false;
    uint16_t packetSize_ = 0;
    size_t replied_ = 0;
    uint16_t autoPointer1_ = 0;
    uint16_t autoPointer2_ = 0;
    uint8_t autoPointerSetup_ = 0;

    uint64_t bitClocks_ = ClocksPerSecond / 400'000;
    bool startPending_ = false;
    bool stopPending_ = false;
    bool lastRead_ = false;
    bool readMode_ = false;
    bool byteIssued_ = false;
    uint64_t doneAt_ = 0;
    uint64_t stopEnd_ = 0;
    uint8_t received_ = 0;

    bool started_ = false;
    uint64_t firstStart_ = 0;
    uint64_t lastStopEnd_ = 0;
    uint64_t idealBits_ = 0;
    uint64_t bytes_ = 0;
};

// 4 KiB to the EEPROM at 0x51 from address 0x0101 (bytes without zeros, so
// that none needs escaping), or 4 KiB read from there.
std::vector<uint8_t> stream(bool read, bool fast) {
    std::vector<uint8_t> s = {0x00, 0x01, 0x00, uint8_t(fast ? 0x12 : 0x11), 0x00, 0x13,
                              0xA2, 0x01, 0x01};
    if (read) {
        s.insert(s.end(), {0x00, 0x13, 0xA3});
        s.insert(s.end(), 4096, 0xFF);
    } else {
        for (int i = 0; i < 4096; ++i)
            s.push_back(uint8_t(1 + i % 255));
    }
    s.insert(s.end(), {0x00, 0x14});
    return s;
}

void BM_BusOccupancy(benchmark::State &state) {
    const bool read = state.range(0);
    const bool fast = state.range(1) == 400;
    const std::vector<uint8_t> image = shippedImage();
    if (image.size() != WIRE_FIRMWARE_IMAGE_SIZE) {
        state.SkipWithError("the firmware image could not be read");
        return;
    }
    const std::vector<uint8_t> bytes = stream(read, fast);
    const int reply = read ? 4097 : 1;
    double occupancy = 0;
    double idle = 0;
    uint64_t instructions = 0;
    for (auto _ : state) {
        Adapter adapter(image);
        if (!adapter.transaction(bytes, reply)) {
            state.SkipWithError("the firmware did not answer");
            return;
        }
        occupancy = adapter.occupancy();
        idle = adapter.idleMicrosecondsPerByte();
        instructions += adapter.instructions();
    }
    state.counters["occupancy_%"] = occupancy * 100;
    state.counters["idle_us/byte"] = idle;
    state.counters["instructions/s"] =
        benchmark::Counter(double(instructions), benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(BM_BusOccupancy)
    ->ArgNames({"read", "kHz"})
    ->Args({0, 100})
    ->Args({0, 400})
    ->Args({1, 100})
    ->Args({1, 400})
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
