#ifndef BRANTLE_SCRIPTERRORREPORT_H
#define BRANTLE_SCRIPTERRORREPORT_H

#include <QString>

// A script error as compilers report them:
//   FILE:LINE:COLUMN: MESSAGE
//   the script line
//   carets under the faulty span (at least one; a span that runs on past the
//   line is marked to the line's end)
// `index` and `length` count UTF-16 units of `text`; LINE and COLUMN are 1-based.
QString scriptErrorReport(const QString &fileName, const QString &text, int index, int length,
                          const QString &message);

#endif
