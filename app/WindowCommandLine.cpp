#include "WindowCommandLine.h"

#include "BrantleVersion.h"

#include <QApplication>
#include <QTextStream>

#include <cstring>

namespace WindowCommandLine {

namespace {

bool asksForText(const char *argument) {
    for (const char *text : {"-h", "--help", "-?", "--help-all", "-v", "--version"})
        if (std::strcmp(argument, text) == 0)
            return true;
    return false;
}

} // namespace

std::unique_ptr<QCoreApplication> application(int &argc, char **argv) {
    for (int i = 1; i < argc; ++i)
        if (asksForText(argv[i]))
            return std::make_unique<QCoreApplication>(argc, argv);
    return std::make_unique<QApplication>(argc, argv);
}

int process(QCommandLineParser &parser, const QCoreApplication &app, const QString &program) {
    QCoreApplication::setApplicationVersion(QStringLiteral(BRANTLE_VERSION));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const bool parsed = parser.parse(app.arguments());
    // Help and version win over a bad option: the toolkit's own options are
    // unknown here when no window is made.
    if (parser.isSet(help)) {
        QString text = parser.helpText();
        const QString started = app.arguments().value(0);
        const int at = started.isEmpty() ? -1 : text.indexOf(started);
        if (at >= 0 && at < text.indexOf(u'\n'))
            text.replace(at, started.size(), program);
        text += u'\n' +
                QCoreApplication::translate("WindowCommandLine",
                                            "The options of the Qt toolkit apply as well. See "
                                            "%1(1) for the window, and brantle-cli(1) for the "
                                            "script language and its limits.")
                    .arg(program) +
                u'\n';
        QTextStream(stdout) << text;
        return 0;
    }
    // The toolkit's own help of its options (those of the plain application
    // when no window is made); it exits.
    if (parser.isSet(QStringLiteral("help-all")))
        parser.process(app);
    if (parser.isSet(version)) {
        QTextStream(stdout) << program << u' ' << QCoreApplication::applicationVersion() << u'\n';
        return 0;
    }
    if (!parsed) {
        QTextStream(stderr) << program << QStringLiteral(": ") << parser.errorText() << u'\n'
                            << QCoreApplication::translate("WindowCommandLine",
                                                           "Try '%1 --help' for more information.")
                                   .arg(program)
                            << u'\n';
        return 64;
    }
    return -1;
}

} // namespace WindowCommandLine
