#include "Fx2Chip.h"

#include "adapter_wire.h"

#include "EmulatedCore.h"

#include <algorithm>

namespace {
constexpr uint8_t EndpointAddresses[Fx2Chip::EndpointCount] = {0x01, 0x81, 0x02, 0x04, 0x86, 0x88};

// Per alternate setting and endpoint: type and packet sizes at high and full
// speed. Setting 0 is the zero-bandwidth default; setting 1 is all bulk; the
// others mix interrupt and isochronous endpoints in, as the chip's default
// interface offers them.
struct EndpointShape {
    Fx2Chip::EndpointType type;
    int highSpeed;
    int fullSpeed;
};
constexpr EndpointShape B0{Fx2Chip::Bulk, 0, 0};
constexpr EndpointShape B64{Fx2Chip::Bulk, 64, 64};
constexpr EndpointShape B512{Fx2Chip::Bulk, 512, 64};
constexpr EndpointShape I64{Fx2Chip::Interrupt, 64, 64};
constexpr EndpointShape I512{Fx2Chip::Interrupt, 512, 64};
constexpr EndpointShape S512{Fx2Chip::Isochronous, 512, 512};
constexpr EndpointShape S1024{Fx2Chip::Isochronous, 1024, 1023};

constexpr EndpointShape AltTable[Fx2Chip::AltSettingCount][Fx2Chip::EndpointCount] = {
    {B0, B0, B0, B0, B0, B0},
    {B64, B64, B512, B512, B512, B512},
    {I64, I64, I512, B512, I512, B512},
    {I64, I64, S512, B512, S512, B512},
    {I64, I64, I512, I512, I512, I512},
    {B64, B64, S1024, B512, S1024, B512},
    {I64, I64, S1024, B512, S1024, B512},
    {B64, B64, S512, S512, S512, S512},
};

constexpr int DescriptorDevice = 1;
constexpr int DescriptorConfiguration = 2;
constexpr int DescriptorString = 3;
constexpr int DescriptorQualifier = 6;
constexpr int DescriptorOtherSpeed = 7;

constexpr uint16_t LanguageEnglishUs = 0x0409;
constexpr uint16_t DeviceRelease = 0xA001;
constexpr uint16_t ScratchAddress = 0xE000;

constexpr uint8_t GetStatus = 0x00;
constexpr uint8_t ClearFeature = 0x01;
constexpr uint8_t SetFeature = 0x03;
constexpr uint8_t SetAddress = 0x05;
constexpr uint8_t FeatureEndpointHalt = 0;
constexpr int RecipientInterface = 1;
constexpr int RecipientEndpoint = 2;

void appendWord(QByteArray &bytes, int value) {
    bytes.append(char(value & 0xFF));
    bytes.append(char((value >> 8) & 0xFF));
}
} // namespace

Fx2Chip::Fx2Chip()
    : productName_(QStringLiteral("FX2 I2C Adapter (simulated)")),
      manufacturerName_(QStringLiteral("Brantle")) {
    useEmulatedCore();
    powerOn();
}

Fx2Chip::~Fx2Chip() = default;

void Fx2Chip::setCore(std::unique_ptr<Fx2Core> core) {
    if (!core)
        return;
    if (running_)
        heldNs_ = nowNs();
    core_ = std::move(core);
    core_->powerOn(highSpeed_);
    running_ = false;
    cpuHeld_ = true;
}

void Fx2Chip::useEmulatedCore() {
    setCore(std::make_unique<EmulatedCore>(bus_, ram_.data(), scratch_.data()));
}

EmulatedCore *Fx2Chip::emulatedCore() {
    return dynamic_cast<EmulatedCore *>(core_.get());
}

void Fx2Chip::powerOn() {
    heldNs_ = nowNs();
    ram_.fill(0);
    scratch_.fill(0);
    cpuHeld_ = true;
    running_ = false;
    altSetting_ = 0;
    configuration_ = 1;
    control_ = ControlState();
    core_->hold();
    core_->powerOn(highSpeed_);
}

void Fx2Chip::bootWithFirmware() {
    writeCpucs(1);
    std::copy_n(firmware_.constData(), std::min<int>(firmware_.size(), RamSize), ram_.begin());
    writeCpucs(0);
    runUntil(nowNs() + StartUpNs);
}

QByteArray Fx2Chip::ram() const {
    return QByteArray(reinterpret_cast<const char *>(ram_.data()), RamSize);
}

// A model of the firmware cannot execute code: it stands for the adapter
// firmware only where the RAM holds that very image.
bool Fx2Chip::recognised() const {
    return !firmware_.isEmpty() && firmware_.size() <= RamSize &&
           std::equal(firmware_.constBegin(), firmware_.constEnd(),
                      reinterpret_cast<const char *>(ram_.data()));
}

// Holding the CPU stops whatever ran; releasing it starts the code in RAM.
void Fx2Chip::writeCpucs(uint8_t value) {
    const bool hold = value & 1;
    if (hold) {
        if (!cpuHeld_) {
            heldNs_ = nowNs();
            core_->hold();
        }
        cpuHeld_ = true;
        running_ = false;
        return;
    }
    if (!cpuHeld_)
        return;
    cpuHeld_ = false;
    running_ = !core_->modelsFirmware() || recognised();
    bus_.advanceTo(heldNs_);
    if (running_)
        core_->startUp(highSpeed_);
}

int64_t Fx2Chip::nowNs() const {
    return running_ ? std::max(heldNs_, core_->nowNs()) : heldNs_;
}

bool Fx2Chip::runUntil(int64_t ns, const std::function<bool()> &done) {
    for (;;) {
        if (done && done())
            return true;
        const int64_t now = nowNs();
        if (now >= ns) {
            bus_.advanceTo(now);
            return false;
        }
        if (running_)
            core_->runUntil(ns);
        else
            heldNs_ = ns;
        bus_.advanceTo(nowNs());
    }
}

void Fx2Chip::beginControl(const UsbSetupPacket &setup, const uint8_t *data) {
    control_ = ControlState();
    control_.setup = setup;
    const bool in = setup.bmRequestType & 0x80;
    if (setup.wLength > 0 && !data) {
        control_.result.status = UsbTransferStatus::Failed;
        return;
    }
    const QByteArray outData =
        in ? QByteArray() : QByteArray(reinterpret_cast<const char *>(data), setup.wLength);
    if (running_)
        core_->setupToken();
    const int type = (setup.bmRequestType >> 5) & 3;
    const bool firmwareHasEp0 = running_ && core_->renumerated();
    QByteArray answer;
    if (type == 2 && setup.bRequest == WIRE_REQUEST_FIRMWARE_LOAD) {
        const bool ok = loadRequest(setup, answer, outData);
        finishControl(ok, answer);
    } else if (type == 0 && (!firmwareHasEp0 || setup.bRequest == SetAddress)) {
        const bool ok = standardRequest(setup, answer);
        finishControl(ok, answer);
    } else if (!running_) {
        control_.pending = true; // NAKed until the host gives up
    } else {
        answer = outData;
        const Fx2Core::ControlOutcome outcome = core_->beginControl(setup, answer);
        if (outcome == Fx2Core::ControlOutcome::Pending)
            control_.pending = true;
        else
            finishControl(outcome == Fx2Core::ControlOutcome::Answered, answer);
    }
}

bool Fx2Chip::controlPending() {
    if (!control_.pending || !running_)
        return control_.pending;
    QByteArray answer;
    const Fx2Core::ControlOutcome outcome = core_->controlOutcome(answer);
    if (outcome != Fx2Core::ControlOutcome::Pending)
        finishControl(outcome == Fx2Core::ControlOutcome::Answered, answer);
    return control_.pending;
}

void Fx2Chip::finishControl(bool ok, const QByteArray &answer) {
    control_.pending = false;
    if (!ok) {
        control_.result.status = UsbTransferStatus::Stalled;
        control_.result.bytes = 0;
        return;
    }
    control_.result.status = UsbTransferStatus::Completed;
    const bool in = control_.setup.bmRequestType & 0x80;
    control_.answer = answer;
    control_.result.bytes =
        in ? std::min<int>(answer.size(), control_.setup.wLength) : control_.setup.wLength;
}

UsbTransferResult Fx2Chip::controlResult(uint8_t *data) const {
    UsbTransferResult result = control_.result;
    if (control_.pending) {
        result.status = UsbTransferStatus::Pending;
        result.bytes = 0;
        return result;
    }
    if (result.status == UsbTransferStatus::Completed && (control_.setup.bmRequestType & 0x80) &&
        data)
        std::copy_n(control_.answer.constData(), result.bytes, data);
    return result;
}

UsbTransferResult Fx2Chip::control(const UsbSetupPacket &setup, uint8_t *data, int64_t timeoutNs) {
    beginControl(setup, data);
    if (control_.pending && !runUntil(nowNs() + std::max<int64_t>(timeoutNs, 0),
                                      [this] { return !controlPending(); })) {
        control_.pending = false;
        control_.result.status = UsbTransferStatus::Cancelled;
        control_.result.bytes = 0;
    }
    return controlResult(data);
}

bool Fx2Chip::standardRequest(const UsbSetupPacket &setup, QByteArray &answer) {
    const int recipient = setup.bmRequestType & 0x1F;
    const bool in = setup.bmRequestType & 0x80;
    switch (setup.bRequest) {
    case GetStatus:
        if (!in)
            return false;
        answer = QByteArray(2, '\0');
        if (recipient == RecipientEndpoint && core_->endpointHalted(uint8_t(setup.wIndex)))
            answer[0] = 1;
        return true;
    case ClearFeature:
    case SetFeature:
        if (in)
            return false;
        if (recipient == RecipientEndpoint && setup.wValue == FeatureEndpointHalt &&
            (setup.wIndex & 0x7F) != 0)
            core_->setEndpointHalt(uint8_t(setup.wIndex), setup.bRequest == SetFeature);
        return true;
    case SetAddress: // belongs to the host controller's enumeration
        return false;
    case 0x06: { // GET_DESCRIPTOR
        if (!in)
            return false;
        const int kind = setup.wValue >> 8;
        const int index = setup.wValue & 0xFF;
        if (kind == DescriptorDevice)
            answer = deviceDescriptor();
        else if (kind == DescriptorConfiguration && index == 0)
            answer = configurationDescriptor();
        else if (kind == DescriptorOtherSpeed && index == 0)
            answer = configurationDescriptor(true);
        else if (kind == DescriptorString)
            answer = stringDescriptor(index);
        else if (kind == DescriptorQualifier) {
            const QByteArray device = deviceDescriptor();
            answer = QByteArray(10, '\0');
            answer[0] = 10;
            answer[1] = char(DescriptorQualifier);
            answer.replace(2, 5, device.mid(2, 5)); // bcdUSB, class, subclass, protocol
            answer[7] = 64;
            answer[8] = 1;
        }
        return !answer.isEmpty();
    }
    case 0x08: // GET_CONFIGURATION
        if (!in)
            return false;
        answer = QByteArray(1, char(configuration_));
        return true;
    case 0x09: // SET_CONFIGURATION
        if (in || setup.wValue > 1)
            return false;
        configuration_ = setup.wValue;
        return true;
    case 0x0A: // GET_INTERFACE
        if (!in || recipient != RecipientInterface || setup.wIndex != 0)
            return false;
        answer = QByteArray(1, char(altSetting_));
        return true;
    case 0x0B: // SET_INTERFACE
        if (in || recipient != RecipientInterface || setup.wIndex != 0)
            return false;
        return setAltSetting(setup.wValue);
    default:
        return false;
    }
}

// The load request works whatever the CPU does: it is served by the chip's
// USB core, not by firmware. Addresses outside RAM, the scratch RAM and CPUCS
// read as zero and ignore writes.
bool Fx2Chip::loadRequest(const UsbSetupPacket &setup, QByteArray &answer,
                          const QByteArray &outData) {
    const bool in = setup.bmRequestType & 0x80;
    const int base = setup.wValue;
    if (in) {
        answer.resize(setup.wLength);
        for (int k = 0; k < setup.wLength; ++k) {
            const int address = (base + k) & 0xFFFF;
            uint8_t value = 0;
            if (address < RamSize)
                value = ram_[size_t(address)];
            else if (address >= ScratchAddress && address < ScratchAddress + ScratchSize)
                value = scratch_[size_t(address - ScratchAddress)];
            else if (address == WIRE_CPUCS_ADDRESS)
                value = cpuHeld_ ? 1 : 0;
            answer[k] = char(value);
        }
        return true;
    }
    for (int k = 0; k < outData.size(); ++k) {
        const int address = (base + k) & 0xFFFF;
        const uint8_t value = uint8_t(outData[k]);
        if (address < RamSize)
            ram_[size_t(address)] = value;
        else if (address >= ScratchAddress && address < ScratchAddress + ScratchSize)
            scratch_[size_t(address - ScratchAddress)] = value;
        else if (address == WIRE_CPUCS_ADDRESS)
            writeCpucs(value);
    }
    return true;
}

// SET_INTERFACE resets the data toggles of the interface's endpoints.
bool Fx2Chip::setAltSetting(int alternateSetting) {
    if (alternateSetting < 0 || alternateSetting >= AltSettingCount)
        return false;
    altSetting_ = alternateSetting;
    core_->resetToggles();
    return true;
}

Fx2Chip::Endpoint Fx2Chip::endpointOf(int alternateSetting, int index) const {
    Endpoint ep;
    if (alternateSetting < 0 || alternateSetting >= AltSettingCount || index < 0 ||
        index >= EndpointCount)
        return ep;
    const EndpointShape &shape = AltTable[alternateSetting][index];
    ep.address = EndpointAddresses[index];
    ep.type = shape.type;
    ep.maxPacket = highSpeed_ ? shape.highSpeed : shape.fullSpeed;
    return ep;
}

Fx2Chip::Endpoint Fx2Chip::endpoint(uint8_t address) const {
    for (int i = 0; i < EndpointCount; ++i) {
        if (EndpointAddresses[i] == address)
            return endpointOf(altSetting_, i);
    }
    return Endpoint();
}

bool Fx2Chip::acceptsOut(uint8_t endpointAddress) const {
    return running_ && core_->acceptsOut(endpointAddress);
}

void Fx2Chip::receiveOut(uint8_t endpointAddress, const QByteArray &packet) {
    if (acceptsOut(endpointAddress))
        core_->receiveOut(endpointAddress, packet);
}

bool Fx2Chip::hasIn(uint8_t endpointAddress) const {
    return running_ && core_->hasIn(endpointAddress);
}

QByteArray Fx2Chip::takeIn(uint8_t endpointAddress) {
    return hasIn(endpointAddress) ? core_->takeIn(endpointAddress) : QByteArray();
}

bool Fx2Chip::endpointHalted(uint8_t endpointAddress) const {
    return running_ && core_->endpointHalted(endpointAddress);
}

void Fx2Chip::busReset() {
    if (running_)
        core_->usbEvent(Fx2Core::UsbEvent::BusReset);
}

void Fx2Chip::busSuspend() {
    if (running_)
        core_->usbEvent(Fx2Core::UsbEvent::Suspend);
}

void Fx2Chip::busResume() {
    if (running_)
        core_->usbEvent(Fx2Core::UsbEvent::Resume);
}

void Fx2Chip::setPortAInputs(uint8_t levels) {
    core_->setPortAInputs(levels);
}

uint8_t Fx2Chip::portAPins() const {
    return core_->portAPins();
}

QByteArray Fx2Chip::deviceDescriptor() const {
    QByteArray d;
    d.append(char(18));
    d.append(char(DescriptorDevice));
    appendWord(d, 0x0200);
    d.append(char(0xFF)); // vendor-specific class
    d.append(char(0xFF));
    d.append(char(0xFF));
    d.append(char(64)); // EP0 packet size
    appendWord(d, vendorId());
    appendWord(d, productId());
    appendWord(d, DeviceRelease);
    d.append(char(1)); // manufacturer string
    d.append(char(2)); // product string
    d.append(char(0)); // no serial number
    d.append(char(1)); // one configuration
    return d;
}

QByteArray Fx2Chip::configurationDescriptor(bool otherSpeed) const {
    const bool high = highSpeed_ != otherSpeed;
    QByteArray body;
    for (int alt = 0; alt < AltSettingCount; ++alt) {
        body.append(char(9));
        body.append(char(4)); // interface
        body.append(char(0));
        body.append(char(alt));
        body.append(char(describedEndpoints_));
        body.append(char(0xFF));
        body.append(char(0xFF));
        body.append(char(0xFF));
        body.append(char(0));
        for (int i = 0; i < describedEndpoints_; ++i) {
            const EndpointShape &shape = AltTable[alt][i];
            body.append(char(7));
            body.append(char(5)); // endpoint
            body.append(char(EndpointAddresses[i]));
            body.append(char(shape.type));
            appendWord(body, high ? shape.highSpeed : shape.fullSpeed);
            body.append(char(shape.type == Bulk ? 0 : 1));
        }
    }
    QByteArray d;
    d.append(char(9));
    d.append(char(otherSpeed ? DescriptorOtherSpeed : DescriptorConfiguration));
    appendWord(d, 9 + body.size());
    d.append(char(1)); // interfaces
    d.append(char(1)); // configuration value
    d.append(char(0));
    d.append(char(0x80)); // bus powered
    d.append(char(50));   // 100 mA
    return d + body;
}

QByteArray Fx2Chip::stringDescriptor(int index) const {
    QByteArray d;
    if (index == 0) {
        d.append(char(4));
        d.append(char(DescriptorString));
        appendWord(d, LanguageEnglishUs);
        return d;
    }
    QString text;
    if (index == 1)
        text = manufacturerName_;
    else if (index == 2)
        text = productName_;
    else
        return d;
    text.truncate(126);
    d.append(char(2 + 2 * text.size()));
    d.append(char(DescriptorString));
    for (const QChar c : text)
        appendWord(d, c.unicode());
    return d;
}
