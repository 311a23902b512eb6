#ifndef BRANTLE_TESTS_COMPILESCRIPT_H
#define BRANTLE_TESTS_COMPILESCRIPT_H

#include "Brantle2.h"

// The command stream of `script`, as a send compiles it (clock 0 = 100 kHz).
inline QByteArray compile(const QString &script, int clock = 1) {
    Brantle2 converter;
    converter.clock = clock;
    QString text = script;
    QByteArray stream;
    converter.convert(text, Brantle2::Compile, stream);
    return stream;
}

#endif
