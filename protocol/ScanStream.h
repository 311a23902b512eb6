#ifndef BRANTLE_SCANSTREAM_H
#define BRANTLE_SCANSTREAM_H

#include <QByteArray>

// Walks a command stream item by item. Counts the read placeholders into
// *readCount and, with `merge`, writes data[0], data[1], ... over them in
// order (data then holds at least *readCount bytes). Throws a translated
// QString (context "Brantle") for a malformed stream; stays within the stream
// and terminates on any input.
void scanStream(QByteArray &stream, bool merge, int *readCount, const unsigned char *data);

#endif
