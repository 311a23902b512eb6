#ifndef BRANTLE_TESTS_SIM_STACKEXCHANGE_H
#define BRANTLE_TESTS_SIM_STACKEXCHANGE_H

// Transfers on a SimUsbStack as the driver makes them: bulk transfers with
// their time-out and abort, the three transfers of a transaction, the
// inquiry and the firmware download.

#include "ReferenceCore.h"
#include "SimTestUtil.h"
#include "SimUsbStack.h"

#include "adapter_wire.h"

namespace {

const char *const WorkedStream = "00 01 00 11 00 13 A2 00 00 00 00 00 13 A3 FF FF 00 14";
constexpr int TimeoutMs = 10000;
constexpr int64_t NsPerMs = 1000000;

struct Step {
    UsbTransferResult result;
    QByteArray data;
};

// One bulk transfer as the driver runs it: submit, wait with time-out, on
// expiry one cancel and a wait for the cancellation.
Step bulk(SimUsbStack &stack, UsbStack::SessionId session, uint8_t endpoint, QByteArray data,
          int timeoutMs = TimeoutMs) {
    Step step;
    step.data = data;
    const UsbStack::TransferId id = stack.submit(
        session, endpoint, reinterpret_cast<uint8_t *>(step.data.data()), step.data.size());
    if (id == 0) {
        step.data.clear(); // Failed, 0 bytes
        return step;
    }
    if (!stack.wait(id, timeoutMs)) {
        stack.cancel(id);
        stack.wait(id, TimeoutMs);
    }
    step.result = stack.result(id);
    stack.release(id);
    step.data.truncate(step.result.bytes);
    return step;
}

struct Exchange {
    Step header, stream, reply;
};

Exchange transact(SimUsbStack &stack, UsbStack::SessionId session, const QByteArray &stream,
                  int replyCount, int replyTimeoutMs = TimeoutMs) {
    Exchange e;
    const QByteArray framed = ReferenceCore::frame(stream, replyCount);
    e.header = bulk(stack, session, 0x04, framed.left(WIRE_HEADER_SIZE));
    e.stream = bulk(stack, session, 0x04, framed.mid(WIRE_HEADER_SIZE));
    e.reply = bulk(stack, session, 0x88, QByteArray(replyCount, '\0'), replyTimeoutMs);
    return e;
}

UsbTransferResult vendorOut(SimUsbStack &stack, UsbStack::SessionId session, int value,
                            QByteArray data) {
    UsbSetupPacket setup{0x40, WIRE_REQUEST_FIRMWARE_LOAD, uint16_t(value), 0,
                         uint16_t(data.size())};
    return stack.controlTransfer(session, setup, reinterpret_cast<uint8_t *>(data.data()),
                                 TimeoutMs);
}

UsbTransferResult inquire(SimUsbStack &stack, UsbStack::SessionId session, uint8_t *answer) {
    return stack.controlTransfer(session, UsbSetupPacket{0xC0, WIRE_REQUEST_INQUIRY, 0, 0, 1},
                                 answer, TimeoutMs);
}

bool download(SimUsbStack &stack, UsbStack::SessionId session, const QByteArray &image) {
    if (vendorOut(stack, session, WIRE_CPUCS_ADDRESS, hex("01")).status !=
        UsbTransferStatus::Completed)
        return false;
    for (int pos = 0; pos < image.size(); pos += WIRE_FIRMWARE_CHUNK_SIZE) {
        if (vendorOut(stack, session, pos, image.mid(pos, WIRE_FIRMWARE_CHUNK_SIZE)).status !=
            UsbTransferStatus::Completed)
            return false;
    }
    return vendorOut(stack, session, WIRE_CPUCS_ADDRESS, hex("00")).status ==
               UsbTransferStatus::Completed &&
           stack.setAltSetting(session, WIRE_TRANSFER_ALT_SETTING);
}
} // namespace

#endif
