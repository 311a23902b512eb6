// How busy the firmware keeps the I2C bus, and how fast the emulator runs it.
// The firmware image we ship runs on the emulated FX2 (the 8051 core with the
// chip's peripherals and I2C controller) behind the simulated USB host, with
// the 24-series EEPROM at 0x51 on its bus, and carries a 4 KiB write and a
// 4 KiB read at 100 and 400 kHz. The counters relate the bus time from the
// first START to the end of the last STOP with what the bytes need at the
// least (9 bit times a byte, one for each START and STOP), and count the
// 8051 instructions executed per second of wall time.
#include "Eeprom24.h"
#include "EmulatedCore.h"
#include "Fx2Chip.h"
#include "I2cBus.h"
#include "SimUsbStack.h"
#include "adapter_wire.h"

#include <QFile>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>

namespace {

constexpr int Size = 4096;
constexpr int TimeoutMs = 10000;

QByteArray shippedImage() {
    QFile file(QStringLiteral(BRANTLE_FIRMWARE_IMAGE));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// 4 KiB to the EEPROM from address 0x0101 (bytes without zeros, so that none
// needs escaping), or 4 KiB read from there.
QByteArray stream(bool read, int kHz) {
    QByteArray s = QByteArray::fromHex(kHz == 400 ? "00010012" : "00010011");
    s += QByteArray::fromHex("0013A20101");
    if (read) {
        s += QByteArray::fromHex("0013A3");
        s += QByteArray(Size, char(WIRE_READ_PLACEHOLDER));
    } else {
        for (int i = 0; i < Size; ++i)
            s += char(1 + i % 255);
    }
    s += QByteArray::fromHex("0014");
    return s;
}

// Header (L and R, little-endian) and stream, as the host's driver frames a
// transaction.
QByteArray frame(const QByteArray &stream, int replyCount) {
    const int length = int(stream.size()) + WIRE_HEADER_SIZE;
    QByteArray bytes;
    for (const int value : {length, replyCount}) {
        bytes.append(char(value & 0xFF));
        bytes.append(char((value >> 8) & 0xFF));
    }
    return bytes + stream;
}

struct Outcome {
    bool answered = false;
    I2cBusOccupancy occupancy;
    uint64_t instructions = 0;
    uint64_t skippedInstructions = 0; // polling turns skipped, in `instructions`
    int64_t emulatedNs = 0;
};

// One adapter, booted with the image, carrying one transaction as the host's
// driver sends it: header, stream, then the reply.
Outcome transactOnce(const QByteArray &image, const QByteArray &stream, int replyCount) {
    SimUsbStack stack;
    auto chip = std::make_shared<Fx2Chip>();
    chip->bus().attach(std::make_shared<Eeprom24>());
    chip->bus().setEventCapacity(2 * Size);
    chip->setAdapterFirmware(image);
    const UsbStack::SessionId session = stack.open(stack.plug(chip));
    chip->bootWithFirmware();
    stack.setAltSetting(session, WIRE_TRANSFER_ALT_SETTING);
    const int64_t startNs = stack.nowNs();

    auto bulk = [&](uint8_t endpoint, QByteArray data) {
        const UsbStack::TransferId id =
            stack.submit(session, endpoint, reinterpret_cast<uint8_t *>(data.data()), data.size());
        if (id == 0)
            return false;
        if (!stack.wait(id, TimeoutMs)) {
            stack.cancel(id);
            stack.wait(id, TimeoutMs);
        }
        const UsbTransferResult result = stack.result(id);
        stack.release(id);
        return result.status == UsbTransferStatus::Completed && result.bytes == data.size();
    };
    const QByteArray framed = frame(stream, replyCount);
    Outcome outcome;
    outcome.answered = bulk(0x04, framed.left(WIRE_HEADER_SIZE)) &&
                       bulk(0x04, framed.mid(WIRE_HEADER_SIZE)) &&
                       bulk(0x88, QByteArray(replyCount, '\0'));
    outcome.occupancy = I2cBusOccupancy::of(chip->bus().events(), chip->bus().bitTimeNs());
    const EmulatedCore::Statistics statistics = chip->emulatedCore()->statistics();
    outcome.instructions = statistics.instructions;
    outcome.skippedInstructions = statistics.skippedPollInstructions;
    outcome.emulatedNs = stack.nowNs() - startNs;
    return outcome;
}

void BM_BusOccupancy(benchmark::State &state) {
    const bool read = state.range(0);
    const int kHz = int(state.range(1));
    const QByteArray image = shippedImage();
    if (image.size() != WIRE_FIRMWARE_IMAGE_SIZE) {
        state.SkipWithError("the firmware image could not be read");
        return;
    }
    const QByteArray bytes = stream(read, kHz);
    const int replyCount = read ? Size + 1 : 1;
    Outcome last;
    uint64_t instructions = 0;
    double emulatedSeconds = 0;
    for (auto _ : state) {
        last = transactOnce(image, bytes, replyCount);
        if (!last.answered) {
            state.SkipWithError("the firmware did not answer");
            return;
        }
        instructions += last.instructions;
        emulatedSeconds += double(last.emulatedNs) * 1e-9;
    }
    state.counters["occupancy_%"] = last.occupancy.ratio() * 100;
    state.counters["idle_us/byte"] = last.occupancy.idleNsPerByte() / 1000;
    // Instructions the chip would execute, skipped polling turns included.
    state.counters["skipped_%"] =
        100.0 * double(last.skippedInstructions) / double(std::max<uint64_t>(last.instructions, 1));
    state.counters["instructions/s"] =
        benchmark::Counter(double(instructions), benchmark::Counter::kIsRate);
    // Emulated seconds per wall second: above 1, the emulator outruns the chip.
    state.counters["emulated_s/s"] =
        benchmark::Counter(emulatedSeconds, benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(BM_BusOccupancy)
    ->ArgNames({"read", "kHz"})
    ->Args({0, 100})
    ->Args({0, 400})
    ->Args({1, 100})
    ->Args({1, 400})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
