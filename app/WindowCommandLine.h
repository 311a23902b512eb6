#ifndef BRANTLE_WINDOWCOMMANDLINE_H
#define BRANTLE_WINDOWCOMMANDLINE_H

#include <QCommandLineParser>
#include <QCoreApplication>

#include <memory>

// The command line of the window programs (brantle, brantle-sim). Help and
// version are text only: they are answered without a window, so also where
// no display can be opened.
namespace WindowCommandLine {

// A plain application when the arguments ask for help or the version, else
// the widget application. Either must live as long as the program runs.
std::unique_ptr<QCoreApplication> application(int &argc, char **argv);

// Adds --help and --version to `parser` and parses the arguments: answers
// help and version, or reports a bad option, and then returns the exit
// status; returns -1 when the program goes on to its window. `program` is
// the name the help shows (instead of the path the program was started by).
int process(QCommandLineParser &parser, const QCoreApplication &app, const QString &program);

} // namespace WindowCommandLine

#endif
