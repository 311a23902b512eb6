#include "SimUsbStack.h"

#include "Eeprom24.h"
#include "TemperatureSensor.h"

#include <QTimer>

#include <algorithm>

namespace {
constexpr int64_t NsPerMs = 1'000'000;
constexpr uint8_t GetInterface = 0x0A;
constexpr uint8_t SetInterface = 0x0B;
} // namespace

// Marks the time spent inside a UsbStack call, during which hot-plug
// notifications must not reach the caller.
class SimUsbStack::CallScope {
public:
    explicit CallScope(SimUsbStack &stack) : stack_(stack) { ++stack_.callDepth_; }
    ~CallScope() { --stack_.callDepth_; }
    CallScope(const CallScope &) = delete;
    CallScope &operator=(const CallScope &) = delete;

private:
    SimUsbStack &stack_;
};

SimUsbStack::SimUsbStack() = default;

SimUsbStack::~SimUsbStack() = default;

QString SimUsbStack::plug(std::shared_ptr<Fx2Chip> chip, const QString &path, uint8_t address) {
    if (!chip)
        return QString();
    for (const Device &d : devices_) {
        if (d.chip == chip)
            return QString();
    }
    QString p = path;
    if (p.isEmpty()) {
        do {
            p = QStringLiteral("sim-fx2-%1").arg(++plugCount_);
        } while (device(p));
    } else if (device(p)) {
        return QString();
    }
    if (address == 0) {
        // USB addresses run from 1 to 127; a new device gets the next free one.
        auto used = [this](uint8_t a) {
            return std::any_of(devices_.begin(), devices_.end(),
                               [a](const Device &d) { return d.address == a; });
        };
        do {
            lastAddress_ = uint8_t(lastAddress_ % 127 + 1);
        } while (used(lastAddress_) && devices_.size() < 127);
        address = lastAddress_;
    }
    chip->powerOn();
    devices_.append(Device{p, std::move(chip), address});
    notify(p, true);
    return p;
}

std::shared_ptr<Fx2Chip> SimUsbStack::plugBenchAdapter(const QByteArray &firmware, QString *path) {
    auto chip = std::make_shared<Fx2Chip>();
    chip->bus().attach(std::make_shared<Eeprom24>());
    chip->bus().attach(std::make_shared<TemperatureSensor>());
    chip->setAdapterFirmware(firmware);
    const QString p = plug(chip);
    if (path)
        *path = p;
    return chip;
}

bool SimUsbStack::unplug(const QString &path) {
    for (int i = 0; i < devices_.size(); ++i) {
        if (devices_[i].path != path)
            continue;
        cancelPending(path, -1, UsbTransferStatus::NoDevice);
        // Power is gone: the RAM and the running firmware with it.
        devices_[i].chip->powerOn();
        devices_.removeAt(i);
        notify(path, false);
        return true;
    }
    return false;
}

std::shared_ptr<Fx2Chip> SimUsbStack::chip(const QString &path) const {
    for (const Device &d : devices_) {
        if (d.path == path)
            return d.chip;
    }
    return nullptr;
}

void SimUsbStack::injectFault(TransferKind kind, int nth, FaultAction action, int value) {
    faults_.append(Fault{kind, std::max(1, nth), action, value});
}

void SimUsbStack::clearFaults() {
    faults_.clear();
}

void SimUsbStack::setPacing(Pacing pacing) {
    pacing_ = pacing;
    if (pacing_ == Pacing::WallClock)
        pacer_.start(nowNs_);
}

void SimUsbStack::advanceTime(int64_t ns) {
    if (ns <= 0)
        return;
    nowNs_ += ns;
    for (Device &d : devices_)
        syncChip(*d.chip);
}

// Paced by the wall clock, the time that passed since the last call passes
// on the chips too (each catches up when it is next used).
void SimUsbStack::catchUp() {
    if (pacing_ == Pacing::WallClock)
        nowNs_ = std::max(nowNs_, pacer_.allowedNs());
}

void SimUsbStack::syncChip(Fx2Chip &chip) {
    chip.runUntil(nowNs_);
    // A core that does its work at once may have moved its clock further.
    nowNs_ = std::max(nowNs_, chip.nowNs());
}

// A control transfer's time-out of 0 means no limit, as a host controller
// library takes it; a wait of 0 only looks.
int64_t SimUsbStack::deadline(int timeoutMs, bool zeroIsNoLimit) const {
    const int ms = timeoutMs > 0 ? timeoutMs : zeroIsNoLimit ? NoLimitCapMs : 0;
    return nowNs_ + int64_t(ms) * NsPerMs;
}

// Runs the chip until `done` or the deadline. Paced, the host hears of the
// end no earlier than the wall clock allows. While the host waits here
// nothing else can reach the chip, so it runs ahead of the wall clock by a
// slice and the caller then sleeps until the moment it finished: the host
// learns of it on time, not at the end of a blind sleep.
bool SimUsbStack::runChip(Fx2Chip &chip, int64_t deadlineNs, const std::function<bool()> &done) {
    if (pacing_ == Pacing::Virtual) {
        const bool finished = chip.runUntil(deadlineNs, done);
        nowNs_ = std::max(nowNs_, finished ? chip.nowNs() : deadlineNs);
        return finished;
    }
    for (;;) {
        const int64_t from = std::max(chip.nowNs(), pacer_.allowedNs());
        const int64_t target = std::min(deadlineNs, from + RunAheadNs);
        const bool finished = chip.runUntil(std::max(target, chip.nowNs()), done);
        const int64_t reached = finished ? chip.nowNs() : target;
        pacer_.sleepUntil(reached);
        nowNs_ = std::max(nowNs_, reached);
        if (finished)
            return true;
        if (target >= deadlineNs)
            return false;
    }
}

void SimUsbStack::appendLog(LogEntry entry) {
    // Dropping the older half at once keeps the cost per entry constant.
    if (log_.size() >= 2 * logCapacity_)
        log_.remove(0, log_.size() - logCapacity_);
    log_.append(std::move(entry));
}

const SimUsbStack::Fault *SimUsbStack::takeFault(TransferKind kind) {
    int fired = -1;
    for (int i = 0; i < faults_.size(); ++i) {
        Fault &f = faults_[i];
        if (f.kind != kind)
            continue;
        --f.remaining;
        if (f.remaining <= 0) {
            if (fired < 0)
                fired = i;
            else
                f.remaining = 1; // two faults on one transfer: the later one waits a turn
        }
    }
    if (fired < 0)
        return nullptr;
    firedFault_ = faults_[fired];
    faults_.removeAt(fired);
    return &firedFault_;
}

SimUsbStack::Device *SimUsbStack::device(const QString &path) {
    for (Device &d : devices_) {
        if (d.path == path)
            return &d;
    }
    return nullptr;
}

SimUsbStack::Device *SimUsbStack::deviceOf(SessionId session) {
    const auto it = sessions_.find(session);
    return it == sessions_.end() ? nullptr : device(it->second);
}

void SimUsbStack::notify(const QString &path, bool arrived) {
    if (callDepth_ == 0) {
        if (hotplug_)
            hotplug_(path, arrived);
        return;
    }
    // Unplugged from inside a call: the caller hears of it once it has returned.
    QTimer::singleShot(0, &notifier_, [this, path, arrived] {
        if (hotplug_)
            hotplug_(path, arrived);
    });
}

void SimUsbStack::cancelPending(const QString &path, SessionId session, UsbTransferStatus status) {
    for (auto &entry : transfers_) {
        Transfer &t = entry.second;
        if (t.status != UsbTransferStatus::Pending)
            continue;
        if (t.path == path || (session >= 0 && t.session == session))
            finish(t, status);
    }
}

QVector<UsbDeviceInfo> SimUsbStack::devices() {
    QVector<UsbDeviceInfo> list;
    for (const Device &d : devices_) {
        UsbDeviceInfo info;
        info.path = d.path;
        info.friendlyName = d.chip->productName();
        info.deviceName = d.chip->manufacturerName() + QLatin1Char(' ') + d.chip->productName();
        info.address = d.address;
        info.vendorId = d.chip->vendorId();
        info.productId = d.chip->productId();
        list.append(info);
    }
    return list;
}

UsbStack::SessionId SimUsbStack::open(const QString &path, QString *error) {
    if (!device(path)) {
        if (error)
            *error = QStringLiteral("No such device: %1").arg(path);
        return -1;
    }
    const SessionId id = nextSession_++;
    sessions_[id] = path;
    return id;
}

void SimUsbStack::close(SessionId session) {
    const auto it = sessions_.find(session);
    if (it == sessions_.end())
        return;
    cancelPending(QString(), session, UsbTransferStatus::Cancelled);
    sessions_.erase(it);
}

void SimUsbStack::logControl(const QString &path, const UsbSetupPacket &setup, const uint8_t *data,
                             int bytes, UsbTransferStatus status, TransferKind kind) {
    LogEntry e;
    e.atNs = nowNs_;
    e.path = path;
    e.kind = kind;
    e.setup = setup;
    e.status = status;
    if (data && bytes > 0)
        e.data = QByteArray(reinterpret_cast<const char *>(data), bytes);
    appendLog(std::move(e));
}

UsbTransferResult SimUsbStack::controlTransfer(SessionId session, const UsbSetupPacket &setup,
                                               uint8_t *data, int timeoutMs) {
    CallScope scope(*this);
    catchUp();
    UsbTransferResult r;
    Device *dev = deviceOf(session);
    if (!dev) {
        r.status =
            sessions_.count(session) ? UsbTransferStatus::NoDevice : UsbTransferStatus::Failed;
        return r;
    }
    if (setup.wLength > 0 && !data)
        return r;
    const QString path = dev->path;
    Fx2Chip &chip = *dev->chip;
    syncChip(chip);
    const bool in = setup.bmRequestType & 0x80;
    const uint8_t *sent = in ? nullptr : data;
    int shortAfter = -1;
    int forced = -1;
    if (const Fault *f = takeFault(TransferKind::Control)) {
        switch (f->action) {
        case FaultAction::Refuse:
        case FaultAction::Fail:
            logControl(path, setup, sent, setup.wLength, UsbTransferStatus::Failed,
                       TransferKind::Control);
            return r;
        case FaultAction::TimeOut:
            runChip(chip, deadline(timeoutMs, true), nullptr);
            r.status = UsbTransferStatus::Cancelled;
            logControl(path, setup, sent, setup.wLength, r.status, TransferKind::Control);
            return r;
        case FaultAction::Unplug:
            unplug(path);
            r.status = UsbTransferStatus::NoDevice;
            logControl(path, setup, sent, setup.wLength, r.status, TransferKind::Control);
            return r;
        case FaultAction::ShortReply:
            shortAfter = std::max(0, f->value);
            break;
        case FaultAction::ForceStatus:
            forced = f->value & 0xFF;
            break;
        }
    }
    // A short OUT: the device takes only the first bytes of the data stage.
    UsbSetupPacket delivered = setup;
    if (!in && shortAfter >= 0)
        delivered.wLength = uint16_t(std::min<int>(setup.wLength, shortAfter));
    chip.beginControl(delivered, data);
    if (runChip(chip, deadline(timeoutMs, true), [&chip] { return !chip.controlPending(); })) {
        r = chip.controlResult(data);
    } else {
        r.status = UsbTransferStatus::Cancelled; // the host gave up waiting
        r.bytes = 0;
    }
    if (r.status == UsbTransferStatus::Completed && in) {
        if (shortAfter >= 0)
            r.bytes = std::min(r.bytes, shortAfter);
        if (forced >= 0 && r.bytes > 0)
            data[r.bytes - 1] = uint8_t(forced);
    }
    if (r.status == UsbTransferStatus::Completed && (setup.bmRequestType & 0x60) == 0 &&
        setup.bRequest == SetInterface)
        cancelPending(path, -1, UsbTransferStatus::Cancelled);
    logControl(path, setup, in ? data : sent, in ? r.bytes : delivered.wLength, r.status,
               TransferKind::Control);
    return r;
}

UsbStack::TransferId SimUsbStack::submit(SessionId session, uint8_t endpointAddress,
                                         uint8_t *buffer, int length) {
    CallScope scope(*this);
    catchUp();
    Device *dev = deviceOf(session);
    if (!dev || length < 0 || (!buffer && length > 0))
        return 0;
    syncChip(*dev->chip);
    // Only bulk and interrupt endpoints of the current alternate setting
    // carry transfers here; a zero-bandwidth endpoint cannot.
    const Fx2Chip::Endpoint ep = dev->chip->endpoint(endpointAddress);
    if (ep.maxPacket == 0 || ep.type == Fx2Chip::Isochronous)
        return 0;
    const bool in = endpointAddress & 0x80;
    const TransferKind kind = in ? TransferKind::BulkIn : TransferKind::BulkOut;
    const Fault *fault = takeFault(kind);
    if (fault && fault->action == FaultAction::Refuse)
        return 0;

    Transfer t;
    t.id = nextTransfer_++;
    t.session = session;
    t.path = dev->path;
    t.chip = dev->chip;
    t.endpoint = endpointAddress;
    t.buffer = buffer;
    t.length = length;
    Transfer &stored = transfers_.emplace(t.id, t).first->second;
    if (fault) {
        switch (fault->action) {
        case FaultAction::Refuse:
            break;
        case FaultAction::Fail:
            finish(stored, UsbTransferStatus::Failed);
            return stored.id;
        case FaultAction::TimeOut:
            stored.stuck = true;
            break;
        case FaultAction::ShortReply:
            stored.shortAfter = in ? std::max(0, fault->value) : -1;
            break;
        case FaultAction::ForceStatus:
            stored.forcedLast = in ? fault->value & 0xFF : -1;
            break;
        case FaultAction::Unplug: {
            const QString path = stored.path;
            unplug(path);
            return stored.id;
        }
        }
    }
    const TransferId id = stored.id;
    pump();
    return id;
}

void SimUsbStack::pump() {
    bool changed = true;
    while (changed) {
        changed = false;
        for (auto &entry : transfers_) {
            Transfer &t = entry.second;
            if (t.status != UsbTransferStatus::Pending)
                continue;
            progress(t);
            changed = changed || t.status != UsbTransferStatus::Pending;
        }
    }
}

// OUT data goes to the chip packet by packet whenever it has a buffer free
// (a transfer of no bytes is one zero-length packet); an IN transfer collects
// packets until it is full or a short packet ends it, as on the wire. The
// adapter sends no zero-length packet after a full last packet, so a reply
// of a multiple of 512 bytes needs the exact length.
void SimUsbStack::progress(Transfer &t) {
    if (t.stuck)
        return;
    Fx2Chip &chip = *t.chip;
    const Fx2Chip::Endpoint ep = chip.endpoint(t.endpoint);
    if (ep.maxPacket == 0)
        return;
    if (chip.endpointHalted(t.endpoint)) {
        finish(t, UsbTransferStatus::Stalled);
        return;
    }
    if (!(t.endpoint & 0x80)) {
        while ((t.bytes < t.length || (t.length == 0 && !t.zeroLengthSent)) &&
               chip.acceptsOut(t.endpoint)) {
            const int n = std::min(ep.maxPacket, t.length - t.bytes);
            chip.receiveOut(t.endpoint,
                            QByteArray(reinterpret_cast<const char *>(t.buffer) + t.bytes, n));
            t.bytes += n;
            t.zeroLengthSent = true;
        }
        // A core that does its work at once may have moved its clock further.
        nowNs_ = std::max(nowNs_, chip.nowNs());
        if (t.bytes == t.length && (t.length > 0 || t.zeroLengthSent))
            finish(t, UsbTransferStatus::Completed);
        return;
    }
    while (chip.hasIn(t.endpoint)) {
        const QByteArray packet = chip.takeIn(t.endpoint);
        if (packet.size() > t.length - t.bytes) {
            finish(t, UsbTransferStatus::Failed); // babble: more than the buffer holds
            return;
        }
        std::copy(packet.constBegin(), packet.constEnd(), t.buffer + t.bytes);
        t.bytes += packet.size();
        if (t.shortAfter >= 0 && t.bytes >= t.shortAfter) {
            t.bytes = t.shortAfter;
            while (chip.hasIn(t.endpoint))
                chip.takeIn(t.endpoint);
            finish(t, UsbTransferStatus::Completed);
            return;
        }
        if (t.bytes == t.length || packet.size() < ep.maxPacket) {
            finish(t, UsbTransferStatus::Completed);
            return;
        }
    }
}

void SimUsbStack::finish(Transfer &t, UsbTransferStatus status) {
    t.status = status;
    const bool in = t.endpoint & 0x80;
    if (in && status == UsbTransferStatus::Completed && t.forcedLast >= 0 && t.bytes > 0)
        t.buffer[t.bytes - 1] = uint8_t(t.forcedLast);
    LogEntry e;
    e.atNs = nowNs_;
    e.path = t.path;
    e.kind = in ? TransferKind::BulkIn : TransferKind::BulkOut;
    e.endpoint = t.endpoint;
    e.status = status;
    const int bytes = in ? t.bytes : t.length;
    if (bytes > 0)
        e.data = QByteArray(reinterpret_cast<const char *>(t.buffer), bytes);
    appendLog(std::move(e));
}

bool SimUsbStack::wait(TransferId transfer, int timeoutMs) {
    CallScope scope(*this);
    catchUp();
    const auto it = transfers_.find(transfer);
    if (it == transfers_.end())
        return false;
    Transfer &t = it->second;
    if (t.status == UsbTransferStatus::Pending)
        syncChip(*t.chip);
    pump();
    if (t.status != UsbTransferStatus::Pending)
        return true;
    const std::shared_ptr<Fx2Chip> chip = t.chip;
    return runChip(*chip, deadline(timeoutMs, false), [this, &t] {
        pump();
        return t.status != UsbTransferStatus::Pending;
    });
}

UsbTransferResult SimUsbStack::result(TransferId transfer) {
    UsbTransferResult r;
    const auto it = transfers_.find(transfer);
    if (it == transfers_.end())
        return r;
    r.status = it->second.status;
    r.bytes = it->second.bytes;
    return r;
}

void SimUsbStack::cancel(TransferId transfer) {
    CallScope scope(*this);
    const auto it = transfers_.find(transfer);
    if (it != transfers_.end() && it->second.status == UsbTransferStatus::Pending)
        finish(it->second, UsbTransferStatus::Cancelled);
}

void SimUsbStack::release(TransferId transfer) {
    cancel(transfer);
    transfers_.erase(transfer);
}

int SimUsbStack::altSetting(SessionId session) {
    CallScope scope(*this);
    catchUp();
    Device *dev = deviceOf(session);
    if (!dev)
        return -1;
    syncChip(*dev->chip);
    const QString path = dev->path;
    const UsbSetupPacket setup{0x81, GetInterface, 0, 0, 1};
    if (const Fault *f = takeFault(TransferKind::AltSettingQuery)) {
        if (f->action == FaultAction::Unplug)
            unplug(path);
        logControl(path, setup, nullptr, 0, UsbTransferStatus::Failed,
                   TransferKind::AltSettingQuery);
        return -1;
    }
    const uint8_t alt = uint8_t(dev->chip->altSetting());
    logControl(path, setup, &alt, 1, UsbTransferStatus::Completed, TransferKind::AltSettingQuery);
    return alt;
}

bool SimUsbStack::setAltSetting(SessionId session, int alternateSetting) {
    CallScope scope(*this);
    catchUp();
    Device *dev = deviceOf(session);
    if (!dev)
        return false;
    syncChip(*dev->chip);
    const QString path = dev->path;
    const UsbSetupPacket setup{0x01, SetInterface, uint16_t(alternateSetting), 0, 0};
    if (const Fault *f = takeFault(TransferKind::AltSettingSelect)) {
        if (f->action == FaultAction::Unplug)
            unplug(path);
        logControl(path, setup, nullptr, 0, UsbTransferStatus::Failed,
                   TransferKind::AltSettingSelect);
        return false;
    }
    const bool ok = dev->chip->setAltSetting(alternateSetting);
    // SET_INTERFACE resets the interface's endpoints: what was queued on them
    // is gone.
    if (ok)
        cancelPending(path, -1, UsbTransferStatus::Cancelled);
    logControl(path, setup, nullptr, 0,
               ok ? UsbTransferStatus::Completed : UsbTransferStatus::Stalled,
               TransferKind::AltSettingSelect);
    return ok;
}

int SimUsbStack::speed(SessionId session) {
    Device *dev = deviceOf(session);
    if (!dev)
        return 0;
    return dev->chip->highSpeed() ? 2 : 1;
}

void SimUsbStack::setHotplugHandler(HotplugHandler handler) {
    hotplug_ = std::move(handler);
}
