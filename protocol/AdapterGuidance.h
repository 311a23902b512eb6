#ifndef BRANTLE_ADAPTERGUIDANCE_H
#define BRANTLE_ADAPTERGUIDANCE_H

#include <QString>

// What a user checks when no adapter is found: the board's USB identity, the
// access rule or driver of this platform, and how to try the program without
// hardware. One paragraph, translated in the context "AdapterGuidance";
// shown beside the empty device list, in the scan dialog and by
// brantle-cli --list.
QString adapterGuidance();

#endif
