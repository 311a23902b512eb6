#ifndef BRANTLE_EXITSTATUS_H
#define BRANTLE_EXITSTATUS_H

// brantle-cli's exit statuses. A run of several sends exits with the worst
// of theirs: a device error outranks a script error, which outranks NoAck.
enum ExitStatus {
    ExitOk = 0,
    ExitNoAck = 1,
    ExitScriptError = 2, // the script cannot be compiled, or is too large to read
    ExitDeviceError = 3, // the adapter failed, or anything else went wrong
    ExitUsage = 64,      // bad options or arguments (EX_USAGE of sysexits.h)
    ExitLogWrite = 74    // the transaction log could not be written (EX_IOERR)
};

#endif
