#include "I2cBus.h"

#include <QStringList>

#include <algorithm>

QString I2cEvent::toString() const {
    const QString hex = QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
    const QString mark = ack ? QStringLiteral("+") : QStringLiteral("-");
    switch (kind) {
    case Start:
        return QStringLiteral("S");
    case RepeatedStart:
        return QStringLiteral("Sr");
    case Stop:
        return QStringLiteral("P");
    case Write:
        return hex + mark;
    case Read:
        return QStringLiteral("r") + hex + mark;
    case BusError:
        return QStringLiteral("BERR");
    case Stall:
        return QStringLiteral("STALL");
    }
    return QString();
}

I2cBusOccupancy I2cBusOccupancy::of(const QVector<I2cEvent> &events, int64_t bitTimeNs) {
    I2cBusOccupancy o;
    const auto first = std::find_if(events.begin(), events.end(),
                                    [](const I2cEvent &e) { return e.kind == I2cEvent::Start; });
    const auto last = std::find_if(events.rbegin(), events.rend(),
                                   [](const I2cEvent &e) { return e.kind == I2cEvent::Stop; });
    if (first == events.end() || last == events.rend() || last.base() <= first)
        return o;
    for (auto e = first; e != last.base(); ++e) {
        switch (e->kind) {
        case I2cEvent::Start:
        case I2cEvent::RepeatedStart:
        case I2cEvent::Stop:
            ++o.conditions;
            break;
        case I2cEvent::Write:
        case I2cEvent::Read:
            ++o.bytes;
            break;
        default:
            break;
        }
    }
    // A START's time stamp is where it ends.
    o.spanNs = last->atNs - (first->atNs - bitTimeNs);
    o.neededNs = (9 * int64_t(o.bytes) + o.conditions) * bitTimeNs;
    return o;
}

I2cBus::I2cBus() = default;

void I2cBus::attach(std::shared_ptr<I2cSlave> slave) {
    if (!slave)
        return;
    detach(slave->address());
    slaves_.append(std::move(slave));
}

void I2cBus::detach(uint8_t address) {
    for (int i = 0; i < slaves_.size(); ++i) {
        if (slaves_[i]->address() == address) {
            if (selected_ == slaves_[i].get())
                selected_ = nullptr;
            slaves_.removeAt(i);
            return;
        }
    }
}

I2cSlave *I2cBus::slave(uint8_t address) const {
    for (const auto &s : slaves_) {
        if (s->address() == address)
            return s.get();
    }
    return nullptr;
}

void I2cBus::setClockHz(int hz) {
    if (hz > 0)
        clockHz_ = hz;
}

void I2cBus::elapse(int64_t ns) {
    if (ns <= 0)
        return;
    if (sclHeldNs_ != Forever)
        sclHeldNs_ = std::max<int64_t>(0, sclHeldNs_ - ns);
    nowNs_ += ns;
}

void I2cBus::advanceTo(int64_t ns) {
    if (ns > nowNs_)
        elapse(ns - nowNs_);
}

void I2cBus::holdSclLow(int64_t ns) {
    sclHeldNs_ = std::max<int64_t>(0, ns);
}

void I2cBus::injectBusError(int nth) {
    busErrorIn_ = std::max(0, nth);
}

// A slave stretching the clock delays the operation; beyond what the
// controller is willing to wait, the operation never finishes.
bool I2cBus::waitForScl(I2cResult &result) {
    if (sclHeldNs_ == 0)
        return true;
    if (sclHeldNs_ == Forever && patienceNs_ == Forever) {
        result.done = false;
        return false;
    }
    if (sclHeldNs_ > patienceNs_) {
        elapse(patienceNs_);
        result.done = false;
        record(I2cEvent::Stall, patienceNs_);
        return false;
    }
    elapse(sclHeldNs_);
    return true;
}

bool I2cBus::takeBusError() {
    if (busErrorIn_ == 0)
        return false;
    if (--busErrorIn_ > 0)
        return false;
    elapse(9 * bitTimeNs());
    record(I2cEvent::BusError, 9 * bitTimeNs());
    return true;
}

void I2cBus::record(I2cEvent::Kind kind, int64_t durationNs, uint8_t byte, bool ack) {
    I2cEvent event;
    event.kind = kind;
    event.byte = byte;
    event.ack = ack;
    event.atNs = nowNs_;
    event.durationNs = durationNs;
    // Dropping the older half at once keeps the cost per event constant.
    if (events_.size() >= 2 * eventCapacity_)
        events_.remove(0, events_.size() - eventCapacity_);
    events_.append(event);
}

I2cResult I2cBus::start(uint8_t addressByte) {
    I2cResult result;
    if (!waitForScl(result))
        return result;
    const bool repeated = owned_;
    elapse(bitTimeNs());
    record(repeated ? I2cEvent::RepeatedStart : I2cEvent::Start, bitTimeNs());
    owned_ = true;
    selected_ = nullptr;
    for (const auto &s : slaves_)
        s->start(nowNs_);
    if (takeBusError()) {
        result.busError = true;
        return result;
    }
    elapse(9 * bitTimeNs());
    const bool read = addressByte & 1;
    if (I2cSlave *s = slave(addressByte >> 1); s && s->select(read, nowNs_)) {
        selected_ = s;
        selectedForRead_ = read;
        result.ack = true;
    }
    record(I2cEvent::Write, 9 * bitTimeNs(), addressByte, result.ack);
    return result;
}

// The common start of a byte: SCL must be free, an injected bus error ends it,
// and otherwise nine bit times pass.
bool I2cBus::clockByte(I2cResult &result) {
    if (!waitForScl(result))
        return false;
    if (takeBusError()) {
        result.busError = true;
        return false;
    }
    elapse(9 * bitTimeNs());
    return true;
}

I2cResult I2cBus::write(uint8_t byte) {
    I2cResult result;
    if (!clockByte(result))
        return result;
    if (selected_ && !selectedForRead_)
        result.ack = selected_->write(byte, nowNs_);
    record(I2cEvent::Write, 9 * bitTimeNs(), byte, result.ack);
    return result;
}

I2cResult I2cBus::read(bool ack) {
    I2cResult result;
    if (!clockByte(result))
        return result;
    // Nobody drives SDA without a selected slave: the pull-up reads as ones.
    if (selected_ && selectedForRead_)
        result.data = selected_->read(ack, nowNs_);
    result.ack = ack;
    record(I2cEvent::Read, 9 * bitTimeNs(), result.data, ack);
    return result;
}

I2cResult I2cBus::stop() {
    I2cResult result;
    if (!waitForScl(result))
        return result;
    elapse(bitTimeNs());
    record(I2cEvent::Stop, bitTimeNs());
    owned_ = false;
    selected_ = nullptr;
    for (const auto &s : slaves_)
        s->stop(nowNs_);
    return result;
}

QString I2cBus::eventsText() const {
    QStringList parts;
    for (const auto &e : events_)
        parts << e.toString();
    return parts.join(QLatin1Char(' '));
}
