#ifndef BRANTLE_FUZZ_HOSTFIRMWARECORE_H
#define BRANTLE_FUZZ_HOSTFIRMWARECORE_H

#include "FakeFx2.h"
#include "Fx2Core.h"

#include <deque>

// The firmware's logic built for the host, behind the simulated chip's core
// interface: EP4 OUT packets in, EP8 IN packets out, EP0 setup packets. The
// firmware's transaction loop blocks until a transaction's last packet has
// arrived; packets are therefore held here and handed to it once they make
// up a whole transaction, as the chip's main loop would see them arrive.
class HostFirmwareCore : public Fx2Core {
public:
    static constexpr uint8_t OutEndpoint = 0x04;
    static constexpr uint8_t InEndpoint = 0x88;

    explicit HostFirmwareCore(I2cBusSide &bus) : m_chip(bus) {}

    void startUp(bool highSpeed) override;
    bool controlRequest(const UsbSetupPacket &setup, QByteArray &data) override;
    bool acceptsOut(uint8_t endpointAddress) const override {
        return endpointAddress == OutEndpoint;
    }
    void receiveOut(uint8_t endpointAddress, const QByteArray &packet) override;
    bool hasIn(uint8_t endpointAddress) const override;
    QByteArray takeIn(uint8_t endpointAddress) override;

    // Nothing was written outside the command buffer.
    bool buffersIntact() const { return FakeFx2::guardIntact(); }

private:
    // How many of the held packets the next transaction_run() consumes; 0
    // while it would still be waiting for one, with the bytes it still
    // lacks at the least in *missing.
    size_t packetsOfNextTransaction(size_t *missing) const;

    FakeFx2 m_chip;
    std::deque<QByteArray> m_held;
    size_t m_heldBytes = 0;
    size_t m_heldEnough = 0; // no transaction is whole before this many bytes are held
    int m_inTaken = 0;
};

#endif
