#ifndef BRANTLE_SIMBENCHOPTION_H
#define BRANTLE_SIMBENCHOPTION_H

#include <QByteArray>
#include <QString>

#include <memory>

class SimBench;
class SimUsbStack;

// brantle-cli --sim [--bench FILE] [--bench-reset]: the simulated adapter
// with the parts of the bench file, or the standard bench (whose EEPROM
// lives in the user's data folder). Plugs it into `stack`; on a mistake in
// the bench or its files prints why and returns the exit status, else 0.
int plugSimBench(SimUsbStack &stack, const QByteArray &firmware, const QString &benchFile,
                 bool reset, std::shared_ptr<SimBench> *bench);

#endif
