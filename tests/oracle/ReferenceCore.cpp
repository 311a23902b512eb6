#include "ReferenceCore.h"

#include "adapter_wire.h"

#include <algorithm>

namespace {
constexpr int WaitUnitNs = WIRE_WAIT_UNIT_US * 1000;
// The stored header is overwritten with two escapes whose code the
// interpreter ignores, so the stream can be interpreted from byte 0.
constexpr uint8_t HeaderOverwrite[WIRE_HEADER_SIZE] = {0x00, 0xFF, 0x00, 0xFF};
// Lengths of the extended commands, counting the length byte itself.
constexpr int ExtWaitLength = 4;
constexpr int ExtPortLength = 3;
} // namespace

ReferenceCore::ReferenceCore(I2cBus &bus) : bus_(bus), buffer_(WIRE_COMMAND_BUFFER_SIZE, 0) {}

void ReferenceCore::startUp(bool highSpeed) {
    highSpeed_ = highSpeed;
    std::fill(buffer_.begin(), buffer_.end(), 0);
    receive_ = Receive::Header;
    header_.clear();
    length_ = replyCount_ = received_ = 0;
    oversize_ = false;
    errorFlag_ = noAckFlag_ = false;
    startRequested_ = stopRequested_ = false;
    readMode_ = firstReadPending_ = false;
    pendingValid_ = false;
    resultCount_ = 0;
    inFlight_ = false;
    rxLatched_ = false;
    lastRead_ = false;
    abandoned_ = false;
    busTaken_ = false;
    owed_ = false;
    readsOwed_ = 0;
    portAOe_ = 0;
    ep8_.clear();
    bus_.setClockHz(400000);
}

bool ReferenceCore::controlRequest(const UsbSetupPacket &setup, QByteArray &data) {
    if (setup.bmRequestType == 0xC0 && setup.bRequest == WIRE_REQUEST_INQUIRY) {
        data = QByteArray(1, char(WIRE_INQUIRY_ANSWER)).left(setup.wLength);
        return true;
    }
    return false;
}

bool ReferenceCore::acceptsOut(uint8_t endpointAddress) const {
    return endpointAddress == TransactionEndpoint;
}

bool ReferenceCore::hasIn(uint8_t endpointAddress) const {
    return endpointAddress == ReplyEndpoint && !ep8_.empty();
}

QByteArray ReferenceCore::takeIn(uint8_t endpointAddress) {
    if (!hasIn(endpointAddress))
        return QByteArray();
    QByteArray packet = ep8_.front();
    ep8_.pop_front();
    return packet;
}

QByteArray ReferenceCore::frame(const QByteArray &stream, int replyCount) {
    const int length = stream.size() + WIRE_HEADER_SIZE;
    QByteArray bytes;
    bytes.append(char(length & 0xFF));
    bytes.append(char((length >> 8) & 0xFF));
    bytes.append(char(replyCount & 0xFF));
    bytes.append(char((replyCount >> 8) & 0xFF));
    return bytes + stream;
}

QByteArray ReferenceCore::exchange(const QByteArray &stream, int replyCount) {
    const QByteArray bytes = frame(stream, replyCount);
    for (int pos = 0; pos < bytes.size(); pos += packetSize())
        receiveOut(TransactionEndpoint, bytes.mid(pos, packetSize()));
    QByteArray answer;
    while (hasIn(ReplyEndpoint))
        answer += takeIn(ReplyEndpoint);
    return answer;
}

// A transaction given up on a stuck controller reports the error whatever
// the stream does afterwards: an opening code clears the sticky flags, but
// must not turn an abandoned transaction into a success.
uint8_t ReferenceCore::statusByte() const {
    return uint8_t((errorFlag_ || abandoned_ ? WIRE_STATUS_FIRMWARE_ERROR : 0) |
                   (noAckFlag_ ? WIRE_STATUS_NOACK : 0));
}

uint8_t ReferenceCore::portAPins() const {
    return uint8_t((portALatch_ & portAOe_) | (portAInputs_ & ~portAOe_));
}

// The header is normally the first four bytes of a packet; it is collected
// across packets too, and empty packets between transactions are ignored.
// Bytes of the last packet beyond L are released with the packet.
void ReferenceCore::receiveOut(uint8_t endpointAddress, const QByteArray &packet) {
    if (!acceptsOut(endpointAddress))
        return;
    int pos = 0;
    while (pos < packet.size()) {
        if (receive_ == Receive::Header) {
            const int take = std::min<int>(WIRE_HEADER_SIZE - header_.size(), packet.size() - pos);
            header_ += packet.mid(pos, take);
            pos += take;
            if (header_.size() < WIRE_HEADER_SIZE)
                return;
            const auto h = reinterpret_cast<const uint8_t *>(header_.constData());
            // L counts the header, which has arrived whatever L says.
            length_ = std::max<int>(h[0] | (h[1] << 8), WIRE_HEADER_SIZE);
            replyCount_ = h[2] | (h[3] << 8);
            // The stored transaction and its results share one buffer: a
            // transaction that cannot fit is drained unstored and refused.
            oversize_ = length_ + replyCount_ > WIRE_COMMAND_BUFFER_SIZE;
            if (!oversize_)
                std::copy(h, h + WIRE_HEADER_SIZE, buffer_.begin());
            received_ = WIRE_HEADER_SIZE;
            receive_ = Receive::Body;
        } else {
            const int take = std::min(length_ - received_, int(packet.size()) - pos);
            if (!oversize_ && take > 0)
                std::copy(packet.constData() + pos, packet.constData() + pos + take,
                          buffer_.begin() + received_);
            received_ += std::max(take, 0);
            pos += std::max(take, 0);
        }
        if (receive_ == Receive::Body && received_ >= length_) {
            finishTransaction();
            return;
        }
    }
}

void ReferenceCore::finishTransaction() {
    receive_ = Receive::Header;
    header_.clear();
    if (oversize_) {
        QByteArray refusal(replyCount_, '\0');
        if (!refusal.isEmpty())
            refusal[refusal.size() - 1] = char(WIRE_STATUS_FIRMWARE_ERROR);
        reply(refusal);
        return;
    }
    std::copy(HeaderOverwrite, HeaderOverwrite + WIRE_HEADER_SIZE, buffer_.begin());
    abandoned_ = false;
    resultCount_ = 0;
    // Each transaction starts its own sequence: a START requested at the end
    // of the last one, or the read it left open, is not carried over.
    startRequested_ = stopRequested_ = false;
    readMode_ = firstReadPending_ = false;
    rxLatched_ = lastRead_ = false;
    readsOwed_ = 0;
    interpret(length_);
    // A reply longer than the results ends in zeros, never in what an
    // earlier transaction left in the buffer.
    QByteArray answer(reinterpret_cast<const char *>(buffer_.data()) + length_, replyCount_);
    if (resultCount_ < answer.size())
        std::fill(answer.begin() + resultCount_, answer.end(), '\0');
    reply(answer);
}

void ReferenceCore::reply(const QByteArray &bytes) {
    for (int pos = 0; pos < bytes.size(); pos += packetSize())
        ep8_.push_back(bytes.mid(pos, packetSize()));
}

void ReferenceCore::interpret(int length) {
    int i = 0;
    while (i < length) {
        const uint8_t byte = buffer_[i];
        if (byte != WireEscape) {
            flushPending();
            pending_ = byte;
            pendingValid_ = true;
            ++i;
            continue;
        }
        if (i + 1 >= length)
            break; // a lone escape at the end has no code: ignored
        const uint8_t code = buffer_[i + 1];
        i += 2;
        switch (code) {
        case CmdZeroByte:
            flushPending();
            pending_ = 0x00;
            pendingValid_ = true;
            break;
        case CmdOpen:
            errorFlag_ = noAckFlag_ = false;
            pendingValid_ = false;
            break;
        case CmdClock100k:
            bus_.setClockHz(100000);
            break;
        case CmdClock400k:
            bus_.setClockHz(400000);
            break;
        case CmdStart:
            flushPending(true);
            startRequested_ = true;
            break;
        case CmdStop:
            stopRequested_ = true;
            if (pendingValid_)
                flushPending();
            else
                doStop();
            break;
        case CmdWait: {
            if (i >= length)
                break; // no length byte: nothing left to run
            // A block shorter than its length byte says, or running past the
            // stream, is not carried out; a length of 0 still moves past itself.
            const int n = buffer_[i];
            if (n >= 2 && i + n <= length)
                extended(i, n);
            i += std::max(n, 1);
            break;
        }
        default:
            break; // 0x02, 0x10 and unknown codes do nothing
        }
    }
    flushPending(true);
    finishRead();
    completeInFlight();
    appendResult(statusByte());
}

void ReferenceCore::extended(int at, int length) {
    const uint8_t sub = buffer_[at + 1];
    switch (sub) {
    case ExtWait:
        if (length < ExtWaitLength)
            return;
        if (pendingValid_ && readMode_ && !startRequested_) {
            // A placeholder goes on before the pause, so the pause follows
            // its byte; it is the read's last byte (not acknowledged, the
            // STOP after the pause) unless another bus byte comes next.
            pendingValid_ = false;
            handToEngine(pending_, !busByteFollows(at + length));
        } else {
            flushPending();
        }
        // A START requested after a read: the read is over, and its last
        // byte and STOP go out before the pause rather than holding the bus
        // through it.
        if (startRequested_)
            finishRead();
        completeInFlight();
        if (!abandoned_)
            bus_.elapse(int64_t(buffer_[at + 2] | (buffer_[at + 3] << 8)) * WaitUnitNs);
        return;
    case ExtPortADir:
        if (length < ExtPortLength)
            return;
        settleBeforePort();
        // Pins 4..7 become outputs where their bit of the low nibble is 0;
        // pins 0..3 become inputs. The output latch is left alone.
        portAOe_ = uint8_t((~buffer_[at + 2] & 0x0F) << 4);
        return;
    case ExtPortARead:
        if (length < ExtPortLength)
            return;
        settleBeforePort();
        appendResult(uint8_t(portAPins() >> 4));
        return;
    default:
        return; // unknown sub-code: its n bytes are skipped unread
    }
}

// Everything the stream asked of the bus before a port A command is done
// first, the pending byte included; a read in progress ends with its last
// byte and a STOP, so its results come before the port's in the reply.
void ReferenceCore::settleBeforePort() {
    flushPending(true);
    finishRead();
    completeInFlight();
}

bool ReferenceCore::busByteFollows(int at) const {
    const int length = length_;
    while (at < length) {
        if (buffer_[at] != WireEscape)
            return true;
        if (at + 1 >= length)
            return false;
        const uint8_t code = buffer_[at + 1];
        at += 2;
        if (code == CmdZeroByte)
            return true;
        if (code == CmdOpen || code == CmdStart || code == CmdStop)
            return false;
        if (code == CmdWait) {
            if (at >= length)
                return false;
            const int n = buffer_[at];
            if (at + n >= length)
                return false;
            at += std::max(n, 1);
        }
    }
    return false;
}

void ReferenceCore::flushPending(bool last) {
    if (!pendingValid_)
        return;
    pendingValid_ = false;
    handToEngine(pending_, last);
}

// A read that no STOP ended (a START or the end of the stream came first)
// still gets its last byte, and a STOP frees the bus after it. A STOP the
// stream requested stays requested: it belongs after the next byte.
void ReferenceCore::finishRead() {
    if (readMode_ && rxLatched_) {
        const bool stopWanted = stopRequested_;
        doStop();
        stopRequested_ = stopWanted;
    }
}

void ReferenceCore::handToEngine(uint8_t byte, bool last) {
    if (startRequested_) {
        finishRead();
        startRequested_ = false;
        readMode_ = byte & 1;
        firstReadPending_ = readMode_;
        lastRead_ = false;
        readsOwed_ = 0;
        controllerWrite(byte, true);
        if (stopRequested_)
            doStop();
        return;
    }
    if (!readMode_) {
        controllerWrite(byte, false);
        if (stopRequested_)
            doStop();
        return;
    }
    // A read placeholder. The controller reads one byte ahead: each I2DAT read
    // returns the byte received and starts the next, so the byte for this
    // placeholder lands at the next placeholder or at the STOP. LASTRD makes
    // the controller leave the last byte unacknowledged.
    ++readsOwed_;
    if (abandoned_) {
        storeRead(0xFF);
        stopRequested_ = false;
        return;
    }
    if (stopRequested_ || last)
        lastRead_ = true;
    if (firstReadPending_) {
        firstReadPending_ = false;
        if (waitDone())
            triggerRead(); // the dummy read
    } else {
        readI2dat(true);
    }
    if (stopRequested_)
        doStop();
}

void ReferenceCore::completeInFlight() {
    if (stopRequested_)
        doStop();
    else
        waitDone();
}

// The controller's DONE bit, with the outcome of the finished byte. A
// controller that never reports DONE (SCL held low by a slave) is given up on:
// the error flag is set and the rest of the transaction's bus work is skipped.
bool ReferenceCore::waitDone() {
    if (abandoned_)
        return false;
    if (!inFlight_)
        return true;
    inFlight_ = false;
    if (!inFlightResult_.done) {
        owed_ = true;
        owedOp_ = inFlightOp_;
        owedByte_ = inFlightByte_;
        owedAck_ = inFlightAck_;
        abandon();
        return false;
    }
    if (inFlightResult_.busError)
        errorFlag_ = true;
    else if (inFlightIsWrite_ && !inFlightResult_.ack)
        noAckFlag_ = true;
    return true;
}

// The bus operation, remembered as the one in flight.
I2cResult ReferenceCore::busOp(BusOp op, uint8_t byte, bool ack) {
    inFlightOp_ = op;
    inFlightByte_ = byte;
    inFlightAck_ = ack;
    switch (op) {
    case BusOp::Start:
        return bus_.start(byte);
    case BusOp::Write:
        return bus_.write(byte);
    case BusOp::Read:
        return bus_.read(ack);
    case BusOp::Stop:
        break;
    }
    return bus_.stop();
}

// What a transaction given up on left in the controller goes out once the
// slave lets go of SCL, and the controller takes nothing new before. The
// next transaction waits for it as for any byte (its outcome counts for
// nothing), and gives up in turn if SCL stays held. A START that went out
// this way leaves the bus taken: the next START is a repeated one, which
// also makes a slave drop a write left unfinished.
bool ReferenceCore::controllerReady() {
    if (!owed_)
        return true;
    if (abandoned_)
        return false;
    releaseHeldStep();
    if (owed_)
        abandon();
    return !owed_;
}

void ReferenceCore::releaseHeldStep() {
    if (owed_ && busOp(owedOp_, owedByte_, owedAck_).done) {
        owed_ = false;
        if (owedOp_ == BusOp::Stop)
            busTaken_ = false;
    }
}

void ReferenceCore::controllerWrite(uint8_t byte, bool withStart) {
    if (!waitDone() || !controllerReady())
        return;
    if (rxLatched_) {
        // A new START in the middle of a read: the byte the controller had
        // received is never collected.
        rxLatched_ = false;
        readsOwed_ = 0;
    }
    if (withStart)
        busTaken_ = true;
    inFlightResult_ = busOp(withStart ? BusOp::Start : BusOp::Write, byte);
    inFlightIsWrite_ = true;
    inFlight_ = true;
}

// LASTRD holds for the one byte the fetch starts; a read that goes on after
// it acknowledges again unless LASTRD is set anew.
void ReferenceCore::triggerRead() {
    if (!controllerReady())
        return;
    inFlightResult_ = busOp(BusOp::Read, 0xFF, !lastRead_);
    lastRead_ = false;
    inFlightIsWrite_ = false;
    inFlight_ = true;
    rxByte_ = inFlightResult_.data;
    rxLatched_ = true;
}

void ReferenceCore::readI2dat(bool startNext) {
    if (!waitDone())
        return;
    if (rxLatched_) {
        rxLatched_ = false;
        storeRead(rxByte_);
    }
    if (startNext)
        triggerRead();
}

void ReferenceCore::doStop() {
    stopRequested_ = false;
    if (abandoned_)
        return;
    const bool endingRead = readMode_ && rxLatched_;
    if (endingRead) {
        // STOP is set before the last byte is taken from I2DAT, so no further
        // byte is started. Placeholders after it start a read afresh.
        readI2dat(false);
        firstReadPending_ = true;
        lastRead_ = false;
    } else if (!waitDone()) {
        return;
    }
    // Only a transfer this controller began has a STOP to end it; a read
    // always ends with one, since only STOP takes the controller out of it.
    // What counts is the controller's own record: after a transaction was
    // given up on, its START still stands and a later STOP frees the bus.
    if (abandoned_ || (!endingRead && !busTaken_) || !controllerReady())
        return;
    busTaken_ = false;
    inFlightResult_ = busOp(BusOp::Stop);
    inFlightIsWrite_ = false;
    inFlight_ = true;
    waitDone();
}

void ReferenceCore::abandon() {
    abandoned_ = true;
    errorFlag_ = true;
    inFlight_ = false;
    rxLatched_ = false;
    // Placeholders already handed on still get their byte, so the reply keeps
    // its shape and the status byte stays last.
    while (readsOwed_ > 0)
        storeRead(0xFF);
}

void ReferenceCore::storeRead(uint8_t byte) {
    if (readsOwed_ > 0)
        --readsOwed_;
    appendResult(byte);
}

// Results that would run past the buffer are dropped rather than written over
// the autovector table.
void ReferenceCore::appendResult(uint8_t byte) {
    const size_t at = size_t(length_) + size_t(resultCount_);
    if (at < buffer_.size())
        buffer_[at] = byte;
    ++resultCount_;
}
