// ufdtool: the command-line front end. Every command runs the same core code as the windows.
#include "commands.h"

#include "core/context/station_folder.h"
#include "core/context/version.h"

#include <QCoreApplication>
#ifdef UFDTOOL_PDF
#include <QGuiApplication>
#endif
#include <QTextStream>
#include <memory>
#include <vector>

namespace {

using Command = int (*)(const QStringList&, ufd::tool::Io);

constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;

// One command, or one sub-command ("archive list"): its usage and the options it takes. Every
// option of every command is here, so that a new one is a word in its row; anything else on the
// line is refused before the command runs.
struct CommandRow {
    const char* name;
    Command run;
    const char* usage; // after "ufdtool "; may run over several lines
    QStringList withValue;
    QStringList flags;
};

// "--database URL" goes with any command; it is taken out before the command's options count.
const std::vector<CommandRow>& commandTable() {
    using namespace ufd::tool;
    using L = QStringList;
    static const std::vector<CommandRow> table{
        {"init", cmdInit, "init                               create missing databases", {}, {}},
        {"users add", cmdUsers, "users add NAME PASSWORD [LEVEL]    add a user account", {}, {}},
        {"users list", cmdUsers, "users list                         list the user names", {}, {}},
        {"import-report",
         cmdImportReport,
         "import-report FILE [--user NAME]   replace the reports of UFD.mdb by FILE's and\n"
         "                                   archive them",
         L{"--user"},
         {}},
        {"recording-info",
         cmdRecordingInfo,
         "recording-info FILE                show a "
         "recording's header",
         {},
         {}},
        {"make-report",
         cmdMakeReport,
         "make-report FILE [--reports N] [--seed S]",
         L{"--reports", "--seed"},
         {}},
        {"make-recording",
         cmdMakeRecording,
         "make-recording FILE [--frames N] [--rate R] [--seed S]",
         L{"--frames", "--rate", "--seed"},
         {}},
        {"sheet",
         cmdSheet,
         "sheet --row N [--workpiece ID] [--folder PROGRAM_FOLDER]\n"
         "                                   spreadsheet of report row N (last import)",
         L{"--row", "--workpiece", "--folder"},
         {}},
        {"pdf",
         cmdPdf,
         "pdf --rows LIST|all [--workpiece ID] [--user NAME] [--out FILE.pdf]\n"
         "    [--folder PROGRAM_FOLDER]      report pages of rows 1,3,5-9 (last import)",
         L{"--rows", "--workpiece", "--user", "--out", "--folder"},
         {}},
        {"csv",
         cmdCsv,
         "csv --row N --out FILE.csv         waveform of report row N (last import)",
         L{"--row", "--out"},
         {}},
        {"connect",
         cmdConnect,
         "connect --port PATH [--baud N] [--response-timeout MS]\n"
         "                                   send connect and wait for the answer",
         L{"--port", "--baud", "--response-timeout"},
         {}},
        {"disconnect",
         cmdDisconnect,
         "disconnect --port PATH [--baud N] [--response-timeout MS]\n"
         "                                   send disconnect and wait for the answer",
         L{"--port", "--baud", "--response-timeout"},
         {}},
        {"upload", cmdUpload,
         "upload --port PATH [--baud N] --out FILE [-v] [--response-timeout MS]\n"
         "                                   copy the instrument's reports",
         L{"--port", "--baud", "--out", "--response-timeout"}, L{"-v"}},
        {"monitor",
         cmdMonitor,
         "monitor --port PATH [--baud N] [--count N | --seconds S] [--response-timeout MS]\n"
         "        [--record FILE]\n"
         "                                   live records as JSON lines; FILE a recording",
         L{"--port", "--baud", "--count", "--seconds", "--response-timeout", "--record"},
         {}},
        {"workpieces add",
         cmdWorkpieces,
         "workpieces add ID NAME [TYPE MATERIAL HEAT FACE MANDATOR FLAWINFO]",
         {},
         {}},
        {"workpieces list",
         cmdWorkpieces,
         "workpieces list                    list the workpieces (ID and name)",
         {},
         {}},
        {"archive list", cmdArchive,
         "archive list [--from DATE] [--to DATE] [--name TEXT] [--probe NAME] [--workpiece ID]\n"
         "             [--source FILE] [--limit N] [--offset N] [--json]   newest first\n"
         "             [--sort name|date|probe|workpiece|source|imported|by] [--ascending]",
         L{"--from", "--to", "--name", "--probe", "--workpiece", "--source", "--limit", "--offset",
           "--sort"},
         L{"--json", "--ascending"}},
        {"archive show",
         cmdArchive,
         "archive show ID [--json]           every column of an archived report",
         {},
         L{"--json"}},
        {"archive import",
         cmdArchive,
         "archive import FILE... [--user NAME]   add report files to the archive",
         L{"--user"},
         {}},
        {"archive details", cmdArchive,
         "archive details ID [--set FIELD=VALUE]... [--reason TEXT] [--user NAME] [--json]\n"
         "                                     show or change an archived report's details",
         L{"--set", "--reason", "--user"}, L{"--json"}},
        {"archive sign",
         cmdArchive,
         "archive sign ID --user NAME        check and sign (password: UFD_USER_PASSWORD)",
         L{"--user"},
         {}},
        {"archive history",
         cmdArchive,
         "archive history ID [--json]        every import, change and signature",
         {},
         L{"--json"}},
        {"archive pdf",
         cmdArchive,
         "archive pdf ID... --out FILE.pdf   archived reports' pages with their records",
         L{"--out"},
         {}},
        {"verify",
         cmdVerify,
         "verify FILE.pdf                    each page against the archive: exit 0 when every\n"
         "                                     page is its report's current revision",
         {},
         {}},
        {"station",
         cmdStation,
         "station [--set FIELD=VALUE]...     this station's instrument, serial, calibration\n"
         "                                     due date and location",
         L{"--set"},
         {}},
    };
    return table;
}

QString commandOf(const CommandRow& row) {
    return QString::fromLatin1(row.name).section(QLatin1Char(' '), 0, 0);
}

// The usage of every row whose name starts with `prefix` (all rows for an empty one).
QString usageOf(const QString& prefix) {
    QString text;
    for (const CommandRow& row : commandTable()) {
        const QString name = QString::fromLatin1(row.name);
        if (prefix.isEmpty() || name == prefix || name.startsWith(prefix + QLatin1Char(' '))) {
            // Continuation lines keep their place under the command's first line.
            text += (text.isEmpty() ? QStringLiteral("usage: ufdtool ")
                                    : QStringLiteral("       ufdtool ")) +
                    QString::fromLatin1(row.usage).replace(QLatin1Char('\n'),
                                                           QStringLiteral("\n               ")) +
                    QLatin1Char('\n');
        }
    }
    return text;
}

QString wholeUsage() {
    return usageOf(QString()) +
           QStringLiteral(
               "       ufdtool COMMAND -h | --help   the usage of one command\n"
               "       ufdtool --version\n"
               "Any command that uses a database also takes --database URL:\n"
               "  postgresql://USER@HOST[:PORT]/DATABASE or sqlite:FOLDER (password: "
               "UFD_DB_PASSWORD)\n"
               "Exit codes: 0 done, 1 the command failed (the reason on standard error),\n"
               "            2 unknown command or option, or a missing argument.\n");
}

bool isHelp(const QString& arg) {
    return arg == QLatin1String("-h") || arg == QLatin1String("--help");
}

// Checks `args` against the row's options: false, having said why, for an option the row does
// not know or one whose value is missing. "--" ends the options.
bool optionsKnown(const CommandRow& row, const QStringList& args, QTextStream& err) {
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == QLatin1String("--")) {
            return true;
        }
        if (!arg.startsWith(QLatin1Char('-')) || arg.size() < 2 || arg[1].isDigit()) {
            continue; // an argument, or a negative number
        }
        if (row.withValue.contains(arg)) {
            if (++i >= args.size()) {
                err << "ufdtool: option '" << arg << "' of " << row.name << " needs a value\n";
                return false;
            }
        } else if (!row.flags.contains(arg)) {
            err << "ufdtool: unknown option '" << arg << "' for " << row.name << "\n";
            return false;
        }
    }
    return true;
}

// Text on a PDF page needs Qt's GUI part (fonts); no display is needed, so the other commands
// stay console programs and `pdf` draws offscreen unless a platform is chosen.
std::unique_ptr<QCoreApplication> makeApplication(int& argc, char** argv) {
#ifdef UFDTOOL_PDF
    bool help = false;
    for (int i = 1; i < argc; ++i) {
        help = help || qstrcmp(argv[i], "-h") == 0 || qstrcmp(argv[i], "--help") == 0;
    }
    const bool drawsPages =
        (argc > 1 && qstrcmp(argv[1], "pdf") == 0) ||
        (argc > 2 && qstrcmp(argv[1], "archive") == 0 && qstrcmp(argv[2], "pdf") == 0);
    if (drawsPages && !help) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        return std::make_unique<QGuiApplication>(argc, argv);
    }
#endif
    return std::make_unique<QCoreApplication>(argc, argv);
}

int run(QStringList args, ufd::tool::Io io) {
    if (args.isEmpty()) {
        io.err << wholeUsage();
        return kExitUsage;
    }
    const QString name = args.takeFirst();
    if (isHelp(name)) {
        io.out << wholeUsage();
        return kExitOk;
    }
    if (name == QLatin1String("--version")) {
        io.out << "ufdtool " UFD_VERSION "\n";
        return kExitOk;
    }
    const auto& table = commandTable();
    const CommandRow* row = nullptr;
    bool known = false;
    for (const CommandRow& s : table) {
        if (commandOf(s) != name) {
            continue;
        }
        known = true;
        const QString sub = QString::fromLatin1(s.name).section(QLatin1Char(' '), 1);
        if (sub.isEmpty() || sub == args.value(0)) {
            row = &s;
            break;
        }
    }
    if (!known) {
        io.err << "ufdtool: unknown command '" << name << "'\n" << wholeUsage();
        return kExitUsage;
    }
    // Help of the command, or of its sub-command when one is named.
    const QString helpOf = row ? QString::fromLatin1(row->name) : name;
    if (!args.isEmpty() && (isHelp(args.value(0)) || (row && args.contains(QStringLiteral("-h"))) ||
                            (row && args.contains(QStringLiteral("--help"))))) {
        io.out << usageOf(helpOf);
        return kExitOk;
    }
    if (!row) {
        io.err << "ufdtool: " << name << " wants one of its sub-commands\n" << usageOf(name);
        return kExitUsage;
    }
    if (!ufd::tool::chooseDatabase(args, io) || !optionsKnown(*row, args, io.err)) {
        io.err << usageOf(helpOf);
        return kExitUsage;
    }
    // After "--" everything is an argument, also what starts with a dash ("users add NAME -- -pw").
    args.removeOne(QStringLiteral("--"));
    return row->run(args, io);
}

} // namespace

int main(int argc, char** argv) {
    const std::unique_ptr<QCoreApplication> application = makeApplication(argc, argv);
    // The program's names: installed, ufdtool finds the program's data folder.
    ufd::app::setStationIdentity();
    QTextStream out(stdout);
    QTextStream err(stderr);
    const int rc = run(application->arguments().mid(1), ufd::tool::Io{out, err});
    out.flush();
    err.flush();
    return rc;
}
