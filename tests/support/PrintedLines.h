#ifndef BRANTLE_TESTS_PRINTEDLINES_H
#define BRANTLE_TESTS_PRINTEDLINES_H

#include <QByteArray>

// What a console program printed to a pipe, with the platform's text line
// ends as plain newlines. A Windows program ends its lines with CR LF; one
// that ends a line otherwise there keeps a visible mark of it, so that
// mixed line ends still fail a comparison.
inline QByteArray printedLines(const QByteArray &printed) {
#ifdef _WIN32
    QByteArray lines;
    lines.reserve(printed.size());
    for (qsizetype i = 0; i < printed.size(); ++i) {
        const char c = printed.at(i);
        if (c == '\r' && i + 1 < printed.size() && printed.at(i + 1) == '\n')
            continue;
        if (c == '\n' && (i == 0 || printed.at(i - 1) != '\r'))
            lines += "<LF without CR>";
        lines += c;
    }
    return lines;
#else
    return printed;
#endif
}

#endif
