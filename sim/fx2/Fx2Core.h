#ifndef BRANTLE_SIM_FX2CORE_H
#define BRANTLE_SIM_FX2CORE_H

#include "UsbStack.h"

#include <QByteArray>

#include <cstdint>

// What runs behind the simulated chip's USB core once the CPU is released:
// the emulated 8051 with the FX2's peripherals executing the RAM, or (for
// differential tests) a model of the adapter firmware. The chip
// answers the requests its USB core serves itself; everything else on the
// control endpoint and all endpoint data go here.
//
// Time: a core has a clock (nowNs) that runUntil moves forward. A core that
// does its work at once (a model of the firmware) lets its clock jump by the bus
// time of what it did.
class Fx2Core {
public:
    enum class ControlOutcome { Pending, Answered, Stalled };
    enum class UsbEvent { BusReset, Suspend, Resume };

    virtual ~Fx2Core() = default;

    // The chip is powered: its registers take their reset values.
    virtual void powerOn(bool highSpeed) { (void)highSpeed; }
    // The CPU leaves reset; `highSpeed` is the chip's high-speed-mode flag.
    virtual void startUp(bool highSpeed) = 0;
    // The host holds the CPU in reset again.
    virtual void hold() {}

    // A model of the adapter firmware rather than a CPU: the chip runs it
    // only when its RAM holds the image the model stands for.
    virtual bool modelsFirmware() const { return false; }

    // A core that does its work at once keeps only this clock.
    virtual int64_t nowNs() const { return clockNs_; }
    // Runs until the clock reaches `ns`, or returns earlier when something
    // the host can see has changed (an answer on EP0, an OUT buffer freed, an
    // IN packet committed).
    virtual void runUntil(int64_t ns) { clockNs_ = ns > clockNs_ ? ns : clockNs_; }

    // A request on EP0 answered at once. For an IN request `data` receives
    // the answer (at most wLength bytes are sent); for OUT it holds what the
    // host sent. False stalls EP0.
    virtual bool controlRequest(const UsbSetupPacket &setup, QByteArray &data) {
        (void)setup;
        (void)data;
        return false;
    }
    // A request on EP0 that may take time: the answer, or Pending and later
    // controlOutcome. The default answers at once through controlRequest.
    virtual ControlOutcome beginControl(const UsbSetupPacket &setup, QByteArray &data) {
        return controlRequest(setup, data) ? ControlOutcome::Answered : ControlOutcome::Stalled;
    }
    virtual ControlOutcome controlOutcome(QByteArray &data) {
        (void)data;
        return ControlOutcome::Stalled;
    }
    // Every SETUP token the chip sees, whoever serves the request.
    virtual void setupToken() {}
    // Whether the firmware has taken over the standard requests (USBCS.RENUM).
    virtual bool renumerated() const { return false; }
    virtual void usbEvent(UsbEvent event) { (void)event; }

    // Whether the firmware takes OUT packets on this endpoint now (an
    // endpoint it never arms NAKs for good).
    virtual bool acceptsOut(uint8_t endpointAddress) const = 0;
    virtual void receiveOut(uint8_t endpointAddress, const QByteArray &packet) = 0;
    // IN packets committed by the firmware, oldest first.
    virtual bool hasIn(uint8_t endpointAddress) const = 0;
    virtual QByteArray takeIn(uint8_t endpointAddress) = 0;
    // Endpoint halt, as the firmware or the host's requests set it.
    virtual bool endpointHalted(uint8_t endpointAddress) const {
        (void)endpointAddress;
        return false;
    }
    virtual void setEndpointHalt(uint8_t endpointAddress, bool halted) {
        (void)endpointAddress;
        (void)halted;
    }
    // SET_INTERFACE: the data toggles start again.
    virtual void resetToggles() {}

    // Port A as seen from outside: levels driven onto the input pins, and the
    // pins' levels.
    virtual void setPortAInputs(uint8_t levels) { (void)levels; }
    virtual uint8_t portAPins() const { return 0xFF; }

private:
    int64_t clockNs_ = 0;
};

#endif
