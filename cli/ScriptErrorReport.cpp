#include "ScriptErrorReport.h"

QString scriptErrorReport(const QString &fileName, const QString &text, int index, int length,
                          const QString &message) {
    index = qBound(0, index, int(text.size()));
    // lastIndexOf takes a negative start as counting from the end: at index 0
    // there is nothing before to search.
    const int lineStart = index > 0 ? int(text.lastIndexOf(u'\n', index - 1)) + 1 : 0;
    int lineEnd = int(text.indexOf(u'\n', index));
    if (lineEnd < 0)
        lineEnd = int(text.size());
    const int lineNumber = int(text.left(lineStart).count(u'\n')) + 1;
    const int column = index - lineStart + 1;
    const QString line = text.mid(lineStart, lineEnd - lineStart);

    // Tabs are kept in the marker line so that the carets stand under the
    // same characters whatever the terminal's tab width.
    QString marker;
    for (int i = lineStart; i < index; ++i)
        marker += text.at(i) == u'\t' ? QChar(u'\t') : QChar(u' ');
    const int spanEnd = qMin(index + qMax(length, 1), lineEnd);
    marker += QString(qMax(spanEnd - index, 1), u'^');

    // One pass over the pattern: a file name or message holding "%1" stays as it is.
    return QStringLiteral("%1:%2:%3: %4\n%5\n%6\n")
        .arg(fileName, QString::number(lineNumber), QString::number(column), message, line, marker);
}
