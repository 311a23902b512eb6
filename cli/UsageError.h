#ifndef BRANTLE_USAGEERROR_H
#define BRANTLE_USAGEERROR_H

#include <QString>

// A usage error on standard error: what was wrong, then where to look.
// Returns the usage exit status.
int usageError(const QString &text);

#endif
