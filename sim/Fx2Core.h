#ifndef BRANTLE_SIM_FX2CORE_H
#define BRANTLE_SIM_FX2CORE_H

#include "UsbStack.h"

#include <QByteArray>

#include <cstdint>

// What runs on the simulated chip's 8051 once the CPU is released: the
// reference behaviour of the adapter firmware, or later an emulator executing
// the image. The chip answers standard requests and the load request itself;
// everything else on the control endpoint and all endpoint data go here.
class Fx2Core {
public:
    virtual ~Fx2Core() = default;

    // The CPU leaves reset; `highSpeed` is the chip's high-speed-mode flag.
    virtual void startUp(bool highSpeed) = 0;

    // A vendor or class request. For an IN request `data` receives the answer
    // (at most wLength bytes are sent); for OUT it holds what the host sent.
    // False stalls EP0.
    virtual bool controlRequest(const UsbSetupPacket &setup, QByteArray &data) = 0;

    // Whether the firmware takes OUT packets on this endpoint (an endpoint it
    // never arms NAKs for good).
    virtual bool acceptsOut(uint8_t endpointAddress) const = 0;
    virtual void receiveOut(uint8_t endpointAddress, const QByteArray &packet) = 0;

    // IN packets committed by the firmware, oldest first.
    virtual bool hasIn(uint8_t endpointAddress) const = 0;
    virtual QByteArray takeIn(uint8_t endpointAddress) = 0;
};

#endif
