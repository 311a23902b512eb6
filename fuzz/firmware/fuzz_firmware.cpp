// The adapter firmware fed fuzzed transactions on EP4 OUT and fuzzed setup
// packets on EP0, through the simulated chip's core interface. Whatever it
// is sent, it answers every transaction with exactly the reply length the
// header asks for, in packets no longer than the bus allows, writes nothing
// outside its buffers, answers or stalls every setup packet within the
// length asked for, and serves a plain transaction afterwards.
//
// The core is the host build of the firmware logic; the emulated chip
// running the shipped image implements the same interface.

#include "FuzzInput.h"
#include "HostFirmwareCore.h"
#include "ScriptedBus.h"
#include "adapter_wire.h"

#include <algorithm>

namespace {

QByteArray collectReply(Fx2Core &core, int packetSize) {
    QByteArray reply;
    while (core.hasIn(HostFirmwareCore::InEndpoint)) {
        const QByteArray packet = core.takeIn(HostFirmwareCore::InEndpoint);
        FUZZ_CHECK(packet.size() <= packetSize);
        reply += packet;
    }
    return reply;
}

// Sends `bytes` cut into packets whose sizes the input picks.
void sendPackets(Fx2Core &core, FuzzInput &input, const QByteArray &bytes, int packetSize) {
    qsizetype at = 0;
    do {
        // 0 (also once the input has run out) is a full packet.
        const int pick = input.byte();
        const qsizetype size = std::min<qsizetype>(
            pick == 0 ? packetSize : std::min(pick, packetSize), bytes.size() - at);
        core.receiveOut(HostFirmwareCore::OutEndpoint, bytes.mid(at, size));
        at += size;
    } while (at < bytes.size());
}

// One transaction as a host sends it: the header's counts come from the
// input, and exactly the bytes its total announces follow (the stream from
// the input, padded), with the input's choice of trailing bytes in the last
// packet, which the firmware must drop.
void transaction(Fx2Core &core, FuzzInput &input, int packetSize) {
    const uint16_t total = input.word();
    const uint16_t replyLength = input.word();
    const QByteArray stream = input.longPiece();
    const uint8_t shape = input.byte();

    QByteArray header(WIRE_HEADER_SIZE, 0);
    header[0] = char(total & 0xFF);
    header[1] = char(total >> 8);
    header[2] = char(replyLength & 0xFF);
    header[3] = char(replyLength >> 8);
    const int body = std::max(int(total), WIRE_HEADER_SIZE) - WIRE_HEADER_SIZE;
    QByteArray bytes = header + stream.left(body);
    bytes.append(QByteArray(body - std::min<int>(body, int(stream.size())), '\0'));

    if (shape & 1) {
        core.receiveOut(HostFirmwareCore::OutEndpoint, QByteArray()); // starts nothing
    }
    if (shape & 2) {
        // Header and stream in one go, the last packet carrying stray bytes.
        const int strays = (shape >> 2) % 8;
        sendPackets(core, input, bytes.chopped(std::min<int>(1, int(bytes.size()))), packetSize);
        const QByteArray last = bytes.right(1) + QByteArray(strays, '\x13');
        if (last.size() <= packetSize)
            core.receiveOut(HostFirmwareCore::OutEndpoint, last);
        else
            core.receiveOut(HostFirmwareCore::OutEndpoint, bytes.right(1));
    } else {
        sendPackets(core, input, header, packetSize);
        if (body > 0)
            sendPackets(core, input, bytes.mid(WIRE_HEADER_SIZE), packetSize);
    }

    const QByteArray reply = collectReply(core, packetSize);
    FUZZ_CHECK(reply.size() == replyLength);
    const bool fits =
        std::max(int(total), WIRE_HEADER_SIZE) <= WIRE_COMMAND_BUFFER_SIZE &&
        replyLength <= WIRE_COMMAND_BUFFER_SIZE - std::max(int(total), WIRE_HEADER_SIZE);
    if (!fits && replyLength > 0) {
        FUZZ_CHECK(uchar(reply.back()) == WIRE_STATUS_FIRMWARE_ERROR);
        FUZZ_CHECK(reply.chopped(1).count('\0') == reply.size() - 1);
    }
}

void setup(Fx2Core &core, FuzzInput &input) {
    UsbSetupPacket packet;
    packet.bmRequestType = input.byte();
    packet.bRequest = input.byte();
    packet.wValue = input.word();
    packet.wIndex = input.word();
    packet.wLength = input.word();
    QByteArray data;
    if (!(packet.bmRequestType & 0x80))
        data = QByteArray(std::min<int>(packet.wLength, 64), '\0');
    if (core.controlRequest(packet, data) && (packet.bmRequestType & 0x80))
        FUZZ_CHECK(data.size() <= packet.wLength && data.size() <= 64);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput input(data, size);
    ScriptedBus bus;
    bus.addSlave(0x51, QByteArray::fromHex("00112233445566778899AABBCCDDEEFF"));
    bus.addSlave(0x48, QByteArray::fromHex("1900"));
    const uint8_t config = input.byte();
    if (config & 0x0C)
        bus.injectFault(input.byte(), (config & 0x08) ? ScriptedBus::Fault::SclHeld
                                                      : ScriptedBus::Fault::BusError);

    HostFirmwareCore core(bus);
    const bool highSpeed = !(config & 1);
    const int packetSize = highSpeed ? 512 : 64;
    core.startUp(highSpeed);

    for (int step = 0; step < 16 && !input.empty(); ++step) {
        if (input.byte() & 1)
            setup(core, input);
        else
            transaction(core, input, packetSize);
        FUZZ_CHECK(core.buffersIntact());
    }

    // Still ready: a plain transaction (open, 400 kHz) gets its status byte.
    const QByteArray plain = QByteArray::fromHex("08000100"
                                                 "00010012");
    core.receiveOut(HostFirmwareCore::OutEndpoint, plain);
    const QByteArray reply = collectReply(core, packetSize);
    FUZZ_CHECK(reply == QByteArray(1, '\0'));
    return 0;
}
