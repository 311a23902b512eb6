#ifndef BRANTLE_ADAPTERGUIDANCE_H
#define BRANTLE_ADAPTERGUIDANCE_H

#include <QCoreApplication>
#include <QString>

// What to do when no adapter is found: which driver the adapter needs on this
// platform and how to install it, and how to try the program without one.
// Shown beside the program's own "not found" texts, never instead of them.
class AdapterGuidance {
    Q_DECLARE_TR_FUNCTIONS(AdapterGuidance)

public:
    static QString noAdapter();
};

#endif
