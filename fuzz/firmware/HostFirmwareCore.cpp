#include "HostFirmwareCore.h"

#include "adapter_wire.h"
#include "transaction.h"
#include "usb_control.h"

#include <algorithm>

void HostFirmwareCore::startUp(bool highSpeed) {
    m_chip.setHighSpeed(highSpeed);
    usb_bus_reset();
}

bool HostFirmwareCore::controlRequest(const UsbSetupPacket &setup, QByteArray &data) {
    QByteArray packet(8, 0);
    packet[0] = char(setup.bmRequestType);
    packet[1] = char(setup.bRequest);
    packet[2] = char(setup.wValue & 0xFF);
    packet[3] = char(setup.wValue >> 8);
    packet[4] = char(setup.wIndex & 0xFF);
    packet[5] = char(setup.wIndex >> 8);
    packet[6] = char(setup.wLength & 0xFF);
    packet[7] = char(setup.wLength >> 8);
    m_chip.setSetupPacket(packet);
    m_chip.clearEp0Outcome();
    usb_handle_setup();
    if (setup.bmRequestType & 0x80)
        data = m_chip.ep0Sent();
    return !m_chip.ep0Stalled();
}

void HostFirmwareCore::receiveOut(uint8_t endpointAddress, const QByteArray &packet) {
    if (endpointAddress != OutEndpoint)
        return;
    m_held.push_back(packet);
    m_heldBytes += size_t(packet.size());
    // A transaction of 64 KiB in small packets: do not walk them all again
    // for every packet.
    if (m_heldBytes < m_heldEnough)
        return;
    size_t missing = 0;
    while (size_t n = packetsOfNextTransaction(&missing)) {
        for (size_t i = 0; i < n; ++i) {
            m_heldBytes -= size_t(m_held.front().size());
            m_chip.queueOutPacket(m_held.front());
            m_held.pop_front();
        }
        while (m_chip.outPacketsLeft() > 0)
            transaction_run();
    }
    m_heldEnough = m_heldBytes + missing;
}

// The host's view of the firmware's framing: a leading empty packet starts
// nothing; otherwise the 4-byte header is gathered from as many packets as
// it takes, and the transaction ends with the packet that brings its total
// (at least the header), whatever else that packet holds.
size_t HostFirmwareCore::packetsOfNextTransaction(size_t *missing) const {
    *missing = 0;
    if (m_held.empty())
        return 0;
    if (m_held.front().isEmpty())
        return 1;
    uint8_t header[WIRE_HEADER_SIZE] = {};
    size_t got = 0;
    size_t i = 0;
    size_t take = 0;
    for (;;) {
        const QByteArray &packet = m_held[i];
        take = std::min<size_t>(WIRE_HEADER_SIZE - got, size_t(packet.size()));
        std::copy_n(packet.constData(), take, header + got);
        got += take;
        if (got == WIRE_HEADER_SIZE)
            break;
        if (++i == m_held.size()) {
            *missing = WIRE_HEADER_SIZE - got;
            return 0;
        }
    }
    const size_t total = std::max<size_t>(size_t(header[0] | header[1] << 8), WIRE_HEADER_SIZE);
    got += size_t(m_held[i].size()) - take;
    while (got < total) {
        if (++i == m_held.size()) {
            *missing = total - got;
            return 0;
        }
        got += size_t(m_held[i].size());
    }
    return i + 1;
}

bool HostFirmwareCore::hasIn(uint8_t endpointAddress) const {
    return endpointAddress == InEndpoint && m_inTaken < m_chip.inPackets().size();
}

QByteArray HostFirmwareCore::takeIn(uint8_t endpointAddress) {
    if (!hasIn(endpointAddress))
        return QByteArray();
    return m_chip.inPackets().at(m_inTaken++);
}
