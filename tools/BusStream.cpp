#include "BusStream.h"

#include "adapter_wire.h"

#include <exception>

int BusStream::bufferLimit() {
    return WIRE_COMMAND_BUFFER_SIZE;
}

BusStream::BusStream(int clock) {
    m_converter.clock = clock;
    m_converter.openStream(m_stream);
    m_converter.clockCode(m_stream);
}

void BusStream::start(int address, bool read) {
    if (m_converter.state != Brantle2::WaitingStart)
        m_converter.startCondition(m_stream);
    m_converter.dataByte(m_stream, (address << 1) | (read ? 1 : 0));
}

void BusStream::write(int byte) {
    m_converter.dataByte(m_stream, byte & 0xFF);
}

void BusStream::read(int count) {
    for (int i = 0; i < count; ++i) {
        m_reads.append(int(m_stream.size()));
        m_converter.dataByte(m_stream, 0xFF);
    }
}

void BusStream::stop() {
    m_converter.stopCondition(m_stream);
}

bool BusStream::run(const Transact &transact, bool *acknowledged, QString *error) {
    try {
        *acknowledged = transact(m_stream);
        return true;
    } catch (const QString &e) {
        *error = e;
    } catch (const char *e) {
        *error = QString::fromLatin1(e);
    } catch (const std::exception &e) {
        *error = QString::fromLocal8Bit(e.what());
    }
    return false;
}

void BusStream::wait(int units) {
    m_converter.waitCommand(m_stream, quint16(qBound(0, units, 0xFFFF)));
}
