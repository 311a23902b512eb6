// The adapter firmware the program ships, running on the emulated FX2 as
// after a download, fed fuzzed transactions on EP4 OUT (packet sizes chosen
// by the input), fuzzed vendor and class requests on EP0, and, in between,
// bus faults (SCL held low, bus errors) and USB suspend, resume and reset.
//
// Whatever it is sent, the image
// - never runs outside its code, nor touches a register the chip model does
//   not know,
// - never writes RAM outside the command buffer (its code, the interrupt
//   table and the fill must stay as downloaded),
// - answers every transaction with exactly the reply length its header asks
//   for, in packets no longer than the endpoint allows, within a time that
//   the transaction's bus work and waits account for,
// - answers or stalls every request on EP0 within the host's time-out,
// - and afterwards serves a plain transaction as usual.

#include "Eeprom24.h"
#include "EmulatedCore.h"
#include "FuzzInput.h"
#include "Fx2Chip.h"
#include "TemperatureSensor.h"
#include "adapter_wire.h"

#include <QFile>

#include <algorithm>
#include <memory>

namespace {

constexpr uint8_t OutEndpoint = 0x04;
constexpr uint8_t InEndpoint = 0x88;
constexpr int64_t Us = 1'000;
constexpr int64_t Ms = 1'000'000;
// Waits in fuzzed streams are cut down to this many 20 us units (10 ms):
// longer ones only cost emulation time, they reach no other code.
constexpr int MaxWaitUnits = 500;
// One input runs no further steps once this much emulated time has passed.
constexpr int64_t InputBudgetNs = 150 * Ms;
constexpr int MaxStream = 1536;
// What the firmware may spend beyond a transaction's bus work and waits:
// its own bus time-outs (25 ms, once while recovering the controller and
// once in the transaction) and slack for the copying and the reply.
constexpr int64_t TransactionSlackNs = 100 * Ms;
// The longest one stream byte can keep the bus busy: nine bit times at
// 100 kHz, with room for the firmware's bookkeeping.
constexpr int64_t ByteBoundNs = 200 * Us;
constexpr int64_t ControlTimeoutNs = 100 * Ms;

const QByteArray &shippedImage() {
    static const QByteArray image = [] {
        QFile file(QStringLiteral(":/Brantle/IoAndFx2I2cBus.bix"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    return image;
}

// RAM the image must never write: all but the command buffer.
QByteArray protectedRam(const Fx2Chip &chip) {
    const QByteArray ram = chip.ram();
    return ram.left(WIRE_COMMAND_BUFFER_ADDRESS) + ram.mid(WIRE_AUTOVECTOR_ADDRESS);
}

// Cuts every wait in a stream down to MaxWaitUnits, walking it as the
// firmware does (escapes, extended blocks with their length byte), and
// returns the emulated time the waits still take.
int64_t boundWaits(QByteArray &stream) {
    int64_t waitNs = 0;
    const int end = int(stream.size());
    int p = 0;
    while (p < end) {
        if (stream[p++] != char(WireEscape))
            continue;
        if (p == end)
            break;
        if (stream[p++] != char(CmdWait) || p == end)
            continue;
        const int n = uint8_t(stream[p]);
        if (n == 0) {
            p += 1;
            continue;
        }
        if (end - p < n) {
            p = end;
            continue;
        }
        if (n >= 4 && uint8_t(stream[p + 1]) == ExtWait) {
            int units = uint8_t(stream[p + 2]) | uint8_t(stream[p + 3]) << 8;
            units %= MaxWaitUnits + 1;
            stream[p + 2] = char(units & 0xFF);
            stream[p + 3] = char(units >> 8);
            waitNs += int64_t(units) * WIRE_WAIT_UNIT_US * Us;
        }
        p += n;
    }
    return waitNs;
}

class Bench {
public:
    explicit Bench(bool highSpeed) {
        chip_.setHighSpeed(highSpeed);
        eeprom_ = std::make_shared<Eeprom24>();
        chip_.bus().attach(eeprom_);
        chip_.bus().attach(std::make_shared<TemperatureSensor>());
        chip_.setAdapterFirmware(shippedImage());
        chip_.bootWithFirmware();
        chip_.setAltSetting(WIRE_TRANSFER_ALT_SETTING);
        core_ = chip_.emulatedCore();
        FUZZ_CHECK(core_ && chip_.running());
        protected_ = protectedRam(chip_);
        packetSize_ = highSpeed ? 512 : 64;
    }

    Fx2Chip &chip() { return chip_; }
    const Eeprom24 &eeprom() const { return *eeprom_; }
    int packetSize() const { return packetSize_; }
    int64_t now() const { return chip_.nowNs(); }
    // By when every transaction sent so far has been carried out (one
    // without a reply is not waited for).
    int64_t busyUntil() const { return busyUntil_; }
    void setBusyUntil(int64_t ns) { busyUntil_ = std::max(busyUntil_, ns); }
    void run(int64_t ns) { chip_.runUntil(now() + ns); }

    // The image kept to its code, its registers and its RAM.
    void checkClean() const {
        FUZZ_CHECK(core_->fault() == mcs51::Fault::None);
        FUZZ_CHECK(core_->peripherals().unknownAccessCount() == 0);
        FUZZ_CHECK(core_->cpu().unknownSfrAccesses() == 0);
        FUZZ_CHECK(protectedRam(chip_) == protected_);
        // Nothing written to the I2C controller while a byte was in flight:
        // the chip would drop it. (A placeholder after a read's STOP does
        // clock a byte onto the free bus: that is how a read goes on after a
        // port command, so the model's count of such reads is no fault.)
        FUZZ_CHECK(core_->peripherals().i2c().diagnostics().accessWhileBusy == 0);
    }

    // Host traffic ends a suspend: the host signals resume first and gives
    // the device its recovery time.
    void wake() {
        if (!suspended_)
            return;
        chip_.busResume();
        suspended_ = false;
        run(2 * Ms);
    }
    void suspend() {
        chip_.busSuspend();
        suspended_ = true;
    }
    void resume() {
        if (suspended_)
            chip_.busResume();
        suspended_ = false;
    }
    void busReset() {
        chip_.busReset();
        suspended_ = false;
        run(Ms);
        chip_.setAltSetting(WIRE_TRANSFER_ALT_SETTING);
    }

    // One OUT packet, once the firmware has a buffer free for it.
    void sendOut(const QByteArray &packet, int64_t deadline) {
        wake();
        FUZZ_CHECK(packet.size() <= packetSize_);
        takeReplyPackets();
        while (!chip_.acceptsOut(OutEndpoint)) {
            FUZZ_CHECK(now() < deadline);
            chip_.runUntil(deadline, [this] {
                return chip_.acceptsOut(OutEndpoint) || chip_.hasIn(InEndpoint);
            });
            takeReplyPackets();
        }
        chip_.receiveOut(OutEndpoint, packet);
    }

    // Runs until `length` reply bytes have come, and checks that no more do.
    // The host's IN transfer resumes a suspended bus first: a firmware that
    // went to sleep with a transaction still queued serves it then.
    QByteArray collectReply(int length, int64_t deadline) {
        if (length > 0)
            wake();
        takeReplyPackets();
        while (reply_.size() < length) {
            FUZZ_CHECK(now() < deadline);
            chip_.runUntil(deadline, [this] { return chip_.hasIn(InEndpoint); });
            takeReplyPackets();
        }
        FUZZ_CHECK(reply_.size() == length);
        const QByteArray reply = reply_;
        reply_.clear();
        return reply;
    }

    // A control transfer with its data stage, answered or stalled in time.
    void control(const UsbSetupPacket &setup) {
        wake();
        QByteArray data(setup.wLength, '\0');
        const UsbTransferResult result =
            chip_.control(setup, reinterpret_cast<uint8_t *>(data.data()), ControlTimeoutNs);
        FUZZ_CHECK(result.status == UsbTransferStatus::Completed ||
                   result.status == UsbTransferStatus::Stalled);
        if (result.status != UsbTransferStatus::Completed || !(setup.bmRequestType & 0x80))
            return;
        FUZZ_CHECK(result.bytes <= setup.wLength && result.bytes <= 64);
        if (setup.bmRequestType == 0xC0 && setup.bRequest == WIRE_REQUEST_INQUIRY &&
            setup.wLength > 0) {
            FUZZ_CHECK(result.bytes == 1 && uint8_t(data[0]) == WIRE_INQUIRY_ANSWER);
        }
    }

private:
    // IN packets as the host controller takes them: none empty (a host
    // reading an exact length would end its next transfer on it), none
    // longer than the endpoint's packets.
    void takeReplyPackets() {
        while (chip_.hasIn(InEndpoint)) {
            const QByteArray packet = chip_.takeIn(InEndpoint);
            FUZZ_CHECK(!packet.isEmpty() && packet.size() <= packetSize_);
            reply_ += packet;
        }
    }

    Fx2Chip chip_;
    std::shared_ptr<Eeprom24> eeprom_;
    EmulatedCore *core_ = nullptr;
    QByteArray protected_;
    QByteArray reply_;
    int packetSize_ = 512;
    bool suspended_ = false;
    int64_t busyUntil_ = 0;
};

// Sends `bytes` cut into packets whose sizes the input picks (0, also once
// the input has run out, is a full packet).
void sendPackets(Bench &bench, FuzzInput &input, const QByteArray &bytes, int64_t deadline) {
    const int packetSize = bench.packetSize();
    qsizetype at = 0;
    do {
        const int pick = input.byte() % (packetSize + 1);
        const qsizetype size =
            std::min<qsizetype>(pick == 0 ? packetSize : pick, bytes.size() - at);
        bench.sendOut(bytes.mid(at, size), deadline);
        at += size;
    } while (at < bytes.size());
}

// One transaction as the host sends it: a header whose counts the input
// picks, then exactly the bytes its total announces (the input's stream,
// padded with escape codes that do nothing), in packets of the input's
// sizes; while the firmware works, the bus may be suspended and resumed.
void transaction(Bench &bench, FuzzInput &input) {
    const uint8_t shape = input.byte();
    // Streams of a few packets reach every path; longer ones only cost
    // emulation time (a byte takes up to 90 us of bus time).
    QByteArray stream = input.bytes(input.word() % (MaxStream + 1));
    const int64_t waitNs = boundWaits(stream);
    int total = WIRE_HEADER_SIZE + int(stream.size());
    if (shape & 0x01)
        total = input.word(); // any count, also one too small or beyond the buffer
    else
        total += shape >> 5;
    const uint16_t replyLength = (shape & 0x02) ? input.word() : input.byte();

    QByteArray bytes(WIRE_HEADER_SIZE, '\0');
    bytes[0] = char(total & 0xFF);
    bytes[1] = char(total >> 8);
    bytes[2] = char(replyLength & 0xFF);
    bytes[3] = char(replyLength >> 8);
    const int body = std::max(total, WIRE_HEADER_SIZE) - WIRE_HEADER_SIZE;
    bytes += stream.left(body);
    while (bytes.size() < WIRE_HEADER_SIZE + body)
        bytes += QByteArray::fromHex("0002").left(WIRE_HEADER_SIZE + body - bytes.size());

    const int64_t deadline = bench.now() + TransactionSlackNs + waitNs + body * ByteBoundNs +
                             (int64_t(replyLength) + body) * 2 * Us;
    bench.setBusyUntil(deadline);
    if (shape & 0x04)
        bench.sendOut(QByteArray(), deadline); // starts nothing
    if (shape & 0x08) {
        // The header on its own, as the host sends it.
        sendPackets(bench, input, bytes.left(WIRE_HEADER_SIZE), deadline);
        if (body > 0)
            sendPackets(bench, input, bytes.mid(WIRE_HEADER_SIZE), deadline);
    } else {
        sendPackets(bench, input, bytes, deadline);
    }
    if (shape & 0x10) {
        // Suspended while at work, resumed (or not) some time later.
        bench.run(input.byte() * 20 * Us);
        bench.suspend();
        const uint8_t resumeAfter = input.byte();
        if (resumeAfter != 0xFF) {
            bench.run(resumeAfter * 20 * Us);
            bench.resume();
        }
    }
    const QByteArray reply = bench.collectReply(replyLength, deadline);
    const int stored = std::max(total, WIRE_HEADER_SIZE);
    const bool fits =
        stored <= WIRE_COMMAND_BUFFER_SIZE && replyLength <= WIRE_COMMAND_BUFFER_SIZE - stored;
    if (!fits && replyLength > 0) {
        FUZZ_CHECK(uint8_t(reply.back()) == WIRE_STATUS_FIRMWARE_ERROR);
        FUZZ_CHECK(reply.chopped(1).count('\0') == reply.size() - 1);
    }
}

// A request on EP0 for the firmware: vendor, class or reserved types. The
// standard ones and the load request are the chip's own (the image never
// takes them over), and a load could overwrite the image at the host's will.
void setup(Bench &bench, FuzzInput &input) {
    UsbSetupPacket packet;
    packet.bmRequestType = input.byte();
    packet.bRequest = input.byte();
    packet.wValue = input.word();
    packet.wIndex = input.word();
    packet.wLength = input.word() % 1025;
    if ((packet.bmRequestType & 0x60) == 0)
        packet.bmRequestType |= 0x40;
    if (packet.bRequest == WIRE_REQUEST_FIRMWARE_LOAD)
        packet.bRequest = WIRE_REQUEST_INQUIRY;
    bench.control(packet);
}

// How long SCL is held low: short stretches, about the firmware's 25 ms
// time-out, and for good (until a later step lets go).
constexpr int64_t SclHolds[] = {50 * Us, 1 * Ms,  20 * Ms, 24 * Ms,
                                26 * Ms, 30 * Ms, 60 * Ms, I2cBus::Forever};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput input(data, size);
    const uint8_t config = input.byte();
    Bench bench(!(config & 1));
    FUZZ_CHECK(!shippedImage().isEmpty());
    bench.checkClean();
    const int64_t start = bench.now();

    for (int step = 0; step < 16 && !input.empty() && bench.now() - start < InputBudgetNs; ++step) {
        const uint8_t kind = input.byte();
        switch (kind % 8) {
        case 0:
        case 1:
        case 2:
            transaction(bench, input);
            break;
        case 3:
            setup(bench, input);
            break;
        case 4:
            bench.chip().bus().holdSclLow(SclHolds[(kind >> 3) % std::size(SclHolds)]);
            break;
        case 5:
            if (kind & 0x08)
                bench.chip().bus().releaseScl();
            else
                bench.chip().bus().injectBusError(1 + (kind >> 4));
            break;
        case 6:
            if (kind & 0x08)
                bench.busReset();
            else if (kind & 0x10)
                bench.resume();
            else
                bench.suspend();
            break;
        case 7:
            bench.run((kind >> 3) * Ms);
            break;
        }
        bench.checkClean();
    }

    // Still ready: with the faults gone, the last transaction carried out
    // and any EEPROM write cycle over, the plain transaction reads the
    // EEPROM's first two bytes. It opens with a START, which every slave
    // takes as a fresh start whether or not the fuzzed traffic left the bus
    // owned, so no resynchronisation goes first.
    bench.chip().bus().releaseScl();
    bench.chip().bus().injectBusError(0);
    bench.wake();
    bench.chip().runUntil(std::max(bench.now(), bench.busyUntil()) + 6 * Ms);
    const QByteArray plain =
        QByteArray::fromHex("00 01 00 11 00 13 A2 00 00 00 00 00 13 A3 FF FF 00 14");
    QByteArray framed(WIRE_HEADER_SIZE, '\0');
    framed[0] = char(WIRE_HEADER_SIZE + plain.size());
    framed[2] = 3;
    const int64_t deadline = bench.now() + TransactionSlackNs;
    bench.sendOut(framed + plain, deadline);
    const QByteArray expected = bench.eeprom().memory().left(2) + QByteArray(1, '\0');
    FUZZ_CHECK(bench.collectReply(3, deadline) == expected);
    bench.checkClean();
    return 0;
}
