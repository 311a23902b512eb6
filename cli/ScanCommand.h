#ifndef BRANTLE_SCANCOMMAND_H
#define BRANTLE_SCANCOMMAND_H

#include "BusScan.h"

#include <functional>

class AdapterSession;

// brantle-cli --scan: probes the bus through `session` and prints the grid
// on standard output. A device error ends the scan: its text, and
// `explanation()` when that says more, go to standard error. Returns the
// exit status: 0 when the scan ran, 3 on a device error.
int scanCommand(AdapterSession &session, BusScan::Probe probe, int clock,
                const std::function<QString()> &explanation);

#endif
