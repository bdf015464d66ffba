#include "app/command_line.h"

#include "core/context/version.h"

namespace ufd::app {

namespace {

constexpr char kUsage[] =
    "usage: ufd [-h | --help] [--version] [TOOLKIT OPTIONS]\n"
    "\n"
    "The desktop companion of the ultrasonic flaw detector: live A-scan, report upload, report\n"
    "browser and archive, spreadsheet and PDF reports, recording replay.\n"
    "\n"
    "  -h, --help       show this text and end\n"
    "  --version        show the version and end\n"
    "  -platform NAME, -style NAME, ...   passed to Qt (for example -platform offscreen)\n"
    "\n"
    "Exit codes: 0 done, 1 failure (the databases could not be opened), 2 unknown option.\n";

// Qt's own options, which QApplication takes out of the command line; with one dash or two,
// and those that take a value also as -option=value.
const QStringList kToolkitOptionsWithValue{QStringLiteral("platform"),
                                           QStringLiteral("platformpluginpath"),
                                           QStringLiteral("platformtheme"),
                                           QStringLiteral("plugin"),
                                           QStringLiteral("qwindowgeometry"),
                                           QStringLiteral("qwindowicon"),
                                           QStringLiteral("qwindowtitle"),
                                           QStringLiteral("display"),
                                           QStringLiteral("geometry"),
                                           QStringLiteral("style"),
                                           QStringLiteral("stylesheet"),
                                           QStringLiteral("session"),
                                           QStringLiteral("name"),
                                           QStringLiteral("title"),
                                           QStringLiteral("qmljsdebugger"),
                                           QStringLiteral("visual"),
                                           QStringLiteral("cmap"),
                                           QStringLiteral("graphicssystem")};
const QStringList kToolkitFlags{QStringLiteral("reverse"), QStringLiteral("widgetcount"),
                                QStringLiteral("nograb"),  QStringLiteral("dograb"),
                                QStringLiteral("sync"),    QStringLiteral("testability")};

ProgramCommandLine refused(const QString& why) {
    return {ProgramCommandLine::Action::Refused,
            QStringLiteral("ufd: %1\n").arg(why) + QLatin1String(kUsage)};
}

} // namespace

ProgramCommandLine readProgramCommandLine(const QStringList& arguments) {
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            return {ProgramCommandLine::Action::Help, QLatin1String(kUsage)};
        }
        if (arg == QLatin1String("--version")) {
            return {ProgramCommandLine::Action::Version, QStringLiteral("ufd " UFD_VERSION "\n")};
        }
        if (!arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-") ||
            arg == QLatin1String("--")) {
            return refused(QStringLiteral("unexpected argument '%1'").arg(arg));
        }
        QString name = arg.mid(arg.startsWith(QLatin1String("--")) ? 2 : 1);
        const qsizetype equals = name.indexOf(QLatin1Char('='));
        const bool inlineValue = equals >= 0;
        name = name.left(inlineValue ? equals : name.size());
        if (kToolkitFlags.contains(name) && !inlineValue) {
            continue;
        }
        if (!kToolkitOptionsWithValue.contains(name)) {
            return refused(QStringLiteral("unknown option '%1'").arg(arg));
        }
        if (!inlineValue && ++i >= arguments.size()) {
            return refused(QStringLiteral("option '%1' needs a value").arg(arg));
        }
    }
    return {};
}

} // namespace ufd::app
