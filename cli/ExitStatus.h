#ifndef BRANTLE_EXITSTATUS_H
#define BRANTLE_EXITSTATUS_H

// brantle-cli's exit statuses. A run of several sends exits with the worst
// of theirs: a device error outranks a script error, which outranks NoAck.
enum ExitStatus {
    ExitOk = 0,
    ExitNoAck = 1,
    ExitScriptError = 2, // the script cannot be compiled, or is too large to read
    ExitDeviceError = 3, // the adapter failed, or anything else went wrong
    ExitDiffers = 5,     // a verify found differences, or a set read back otherwise
    ExitUsage = 64,      // bad options or arguments (EX_USAGE of sysexits.h)
    ExitDataError = 65,  // a file that does not fit or cannot be parsed (EX_DATAERR)
    ExitLogWrite = 74    // the transaction log could not be written (EX_IOERR)
};

#endif
