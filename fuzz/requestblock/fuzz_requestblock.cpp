// The generic driver's handling of control codes and request blocks, driven
// by a fuzzed sequence of synchronous and asynchronous requests on a scripted
// USB host: blocks with any header (offsets, lengths, endpoint, packet
// table), buffers of any length, waits, results, aborts and releases in any
// order, and the device going away and coming back between them. The driver
// must stay inside the buffers it is given and never report more bytes than
// the caller's buffer holds.

#include "CompletionRecord.h"
#include "ControlCode.h"
#include "FakeUsbStack.h"
#include "FuzzInput.h"
#include "GenericUsbDriver.h"
#include "RequestBlock.h"

#include <deque>
#include <memory>
#include <vector>

namespace {

const uint32_t knownCodes[] = {
    ControlCode::DriverVersion,    ControlCode::UsbInterfaceVersion, ControlCode::CurrentAltSetting,
    ControlCode::SelectAltSetting, ControlCode::DeviceAddress,       ControlCode::ControlTransfer,
    ControlCode::BufferedTransfer, ControlCode::DeviceName,          ControlCode::FriendlyName,
    ControlCode::AbortEndpoint,    ControlCode::DirectTransfer,      ControlCode::BusSpeed};

struct Pending {
    std::vector<uint8_t> in;
    std::vector<uint8_t> out;
    uint32_t outLength = 0;
    CompletionRecord record; // declared last: it goes first, before the buffers
};

uint32_t pickCode(FuzzInput &input) {
    const uint8_t selector = input.byte();
    if (selector < 240)
        return knownCodes[selector % (sizeof knownCodes / sizeof knownCodes[0])];
    return uint32_t(input.word()) << 16 | input.word();
}

// An input buffer: a request block whose header the input writes field by
// field, or raw bytes.
std::vector<uint8_t> makeIn(FuzzInput &input) {
    const uint8_t shape = input.byte();
    if (shape & 1) {
        const QByteArray raw = input.piece();
        return std::vector<uint8_t>(raw.begin(), raw.end());
    }
    const uint32_t extra = input.word() % 4096;
    RequestBlock block(RequestBlock::HeaderSize + extra);
    block.setSetupPacket(input.byte(), input.byte(), input.word(), input.word(), input.word());
    block.setTimeoutSeconds(input.byte());
    block.setEndpointAddress(input.byte());
    const uint32_t dataOffset = (shape & 2) ? uint32_t(input.word()) << 16 | input.word()
                                            : RequestBlock::HeaderSize + input.byte() % 8;
    block.setData(dataOffset, (shape & 4) ? uint32_t(input.word()) << 16 | input.word()
                                          : input.word() % (extra + 1));
    if (shape & 8)
        block.setPacketTable(input.word(), input.word());
    return std::vector<uint8_t>(block.bytes(), block.bytes() + block.size());
}

// The output buffer's length: the input's length, or any other.
uint32_t outLengthFor(FuzzInput &input, size_t inLength) {
    const uint8_t shape = input.byte();
    switch (shape % 4) {
    case 0:
        return uint32_t(inLength);
    case 1:
        return 0;
    default:
        return input.word() % 8192;
    }
}

bool anyNeverReply(const FakeUsbStack &stack) {
    for (const auto &reply : stack.replies)
        if (reply.never)
            return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput input(data, size);
    FakeUsbStack stack;
    FakeUsbStack::Device device;
    device.info.path = QStringLiteral("fuzz");
    device.info.friendlyName = QString(300, u'n'); // longer than a name buffer
    device.info.deviceName = QStringLiteral("fuzz-device");
    stack.present.append(device);
    stack.vendorReply = QByteArray(70000, '\x5A');

    GenericUsbDriver driver(stack);
    DriverPort::Handle handle = driver.openDevice(device.info.path);
    std::deque<std::unique_ptr<Pending>> pending;

    for (int step = 0; step < 64 && !input.empty(); ++step) {
        switch (input.byte() % 9) {
        case 0: { // synchronous request
            const uint32_t code = pickCode(input);
            std::vector<uint8_t> in = makeIn(input);
            const bool shared = input.byte() & 1;
            const uint32_t outLength =
                shared ? uint32_t(in.size()) : outLengthFor(input, in.size());
            std::vector<uint8_t> out(outLength);
            const bool transfer =
                code == ControlCode::BufferedTransfer || code == ControlCode::DirectTransfer;
            if (transfer && anyNeverReply(stack))
                break; // a synchronous request on a silent device waits for good
            uint32_t bytes = 0;
            uint8_t *outPointer = shared ? in.data() : out.data();
            driver.ioControl(handle, code, in.data(), uint32_t(in.size()), outPointer, outLength,
                             bytes);
            FUZZ_CHECK(bytes <= outLength);
            break;
        }
        case 1: { // asynchronous request
            auto request = std::make_unique<Pending>();
            const uint32_t code = pickCode(input);
            request->in = makeIn(input);
            request->outLength = outLengthFor(input, request->in.size());
            request->out.resize(request->outLength);
            driver.startRequest(handle, code, request->in.data(), uint32_t(request->in.size()),
                                request->out.data(), request->outLength, request->record);
            pending.push_back(std::move(request));
            break;
        }
        case 2: { // wait, without waiting for good
            if (pending.empty())
                break;
            Pending &request = *pending[input.byte() % pending.size()];
            driver.waitRequest(request.record, input.byte() % 2 ? 10 : 0);
            break;
        }
        case 3: { // result
            if (pending.empty())
                break;
            Pending &request = *pending[input.byte() % pending.size()];
            uint32_t bytes = 0;
            if (driver.requestResult(request.record, bytes))
                FUZZ_CHECK(bytes <=
                           std::max<uint32_t>(request.outLength, uint32_t(request.in.size())));
            break;
        }
        case 4: { // release
            if (pending.empty())
                break;
            pending.erase(pending.begin() + input.byte() % pending.size());
            break;
        }
        case 5: { // what the next transfer meets
            FakeUsbStack::Reply reply;
            const uint8_t how = input.byte();
            const UsbTransferStatus outcomes[] = {
                UsbTransferStatus::Completed, UsbTransferStatus::Stalled,
                UsbTransferStatus::Cancelled, UsbTransferStatus::NoDevice,
                UsbTransferStatus::Failed};
            reply.status = outcomes[how % 5];
            reply.never = (how & 0x80) != 0;
            reply.bytes = (how & 0x40) ? int(input.word()) - 1 : -1;
            reply.data = input.longPiece();
            stack.replies.append(reply);
            break;
        }
        case 6: { // abort an endpoint
            uint8_t endpoint = input.byte();
            uint32_t bytes = 0;
            driver.ioControl(handle, ControlCode::AbortEndpoint, &endpoint, 1, nullptr, 0, bytes);
            break;
        }
        case 7: // the device goes away, or comes back
            if (stack.present.isEmpty())
                stack.plug(device);
            else
                stack.unplug(device.info.path);
            break;
        case 8: // closed and opened again with requests outstanding
            driver.closeDevice(handle);
            handle = driver.openDevice(device.info.path);
            break;
        }
    }
    pending.clear();
    driver.closeDevice(handle);
    return 0;
}
