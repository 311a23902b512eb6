#include "ScriptedBus.h"

namespace {
QString hex(uint8_t b) {
    return QString::asprintf("%02X", b);
}
} // namespace

void ScriptedBus::addSlave(uint8_t address7, const QByteArray &readData) {
    m_slaves[address7].readData = readData;
}

void ScriptedBus::injectFault(int byteAction, Fault fault) {
    m_faultAt = byteAction;
    m_fault = fault;
}

QByteArray ScriptedBus::written(uint8_t address7) const {
    auto it = m_slaves.find(address7);
    return it == m_slaves.end() ? QByteArray() : it->second.written;
}

ScriptedBus::Fault ScriptedBus::faultNow() {
    return m_byteActions++ == m_faultAt ? m_fault : Fault::None;
}

BusReply ScriptedBus::start(bool repeated) {
    m_log << (repeated ? "Sr" : "S");
    m_expectAddress = true;
    m_addressed = nullptr;
    return {true, false, false, 0xFF};
}

BusReply ScriptedBus::write(uint8_t byte) {
    BusReply reply;
    const Fault fault = faultNow();
    if (fault != Fault::None) {
        m_log << hex(byte) + "!";
        reply.busError = fault == Fault::BusError;
        reply.sclHeld = fault == Fault::SclHeld;
        return reply;
    }
    if (m_expectAddress) {
        m_expectAddress = false;
        auto it = m_slaves.find(byte >> 1);
        m_addressed = it == m_slaves.end() ? nullptr : &it->second;
        reply.ack = m_addressed != nullptr;
    } else if (m_addressed) {
        m_addressed->written.append(char(byte));
        reply.ack = true;
    }
    m_log << hex(byte) + (reply.ack ? "+" : "-");
    return reply;
}

BusReply ScriptedBus::read(bool masterAcks) {
    BusReply reply;
    const Fault fault = faultNow();
    if (fault != Fault::None) {
        m_log << "<!";
        reply.busError = fault == Fault::BusError;
        reply.sclHeld = fault == Fault::SclHeld;
        return reply;
    }
    if (m_addressed && m_addressed->readPos < m_addressed->readData.size())
        reply.data = uint8_t(m_addressed->readData[m_addressed->readPos++]);
    m_log << "<" + hex(reply.data) + (masterAcks ? "+" : "-");
    return reply;
}

BusReply ScriptedBus::stop() {
    m_log << "P";
    m_addressed = nullptr;
    return {true, false, false, 0xFF};
}

void ScriptedBus::pause(uint32_t microseconds) {
    m_log << QString("w%1").arg(microseconds);
}
