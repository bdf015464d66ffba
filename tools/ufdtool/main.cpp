// ufdtool: the command-line front end. Every command runs the same core code as the windows.
#include "commands.h"

#include <QCoreApplication>
#ifdef UFDTOOL_PDF
#include <QGuiApplication>
#endif
#include <QTextStream>
#include <cstdio>
#include <map>
#include <memory>

namespace {

using Command = int (*)(const QStringList&, ufd::tool::Io);

std::map<QString, Command> commands() {
    return {
        {QStringLiteral("init"), ufd::tool::cmdInit},
        {QStringLiteral("users"), ufd::tool::cmdUsers},
        {QStringLiteral("import-report"), ufd::tool::cmdImportReport},
        {QStringLiteral("recording-info"), ufd::tool::cmdRecordingInfo},
        {QStringLiteral("make-report"), ufd::tool::cmdMakeReport},
        {QStringLiteral("make-recording"), ufd::tool::cmdMakeRecording},
        {QStringLiteral("sheet"), ufd::tool::cmdSheet},
        {QStringLiteral("connect"), ufd::tool::cmdConnect},
        {QStringLiteral("disconnect"), ufd::tool::cmdDisconnect},
        {QStringLiteral("upload"), ufd::tool::cmdUpload},
        {QStringLiteral("monitor"), ufd::tool::cmdMonitor},
        {QStringLiteral("workpieces"), ufd::tool::cmdWorkpieces},
        {QStringLiteral("archive"), ufd::tool::cmdArchive},
        {QStringLiteral("pdf"), ufd::tool::cmdPdf},
        {QStringLiteral("csv"), ufd::tool::cmdCsv},
        {QStringLiteral("station"), ufd::tool::cmdStation},
        {QStringLiteral("verify"), ufd::tool::cmdVerify},
    };
}

void usage(QTextStream& err) {
    err << "usage: ufdtool COMMAND [ARGS]\n"
           "  init                               create missing databases in this folder\n"
           "  users add NAME PASSWORD [LEVEL]    add a user account\n"
           "  users list                         list the user names\n"
           "  import-report FILE [--user NAME]   replace the reports in ./UFD.mdb by FILE's and\n"
           "                                     archive them\n"
           "  recording-info FILE                show a recording's header\n"
           "  make-report FILE [--reports N] [--seed S]\n"
           "  make-recording FILE [--frames N] [--rate R] [--seed S]\n"
           "  sheet --row N [--workpiece ID]     spreadsheet of report row N (last import)\n"
           "  connect --port PATH [--baud N]        send connect and wait for the answer\n"
           "  disconnect --port PATH [--baud N]     send disconnect and wait for the answer\n"
           "  upload --port PATH [--baud N] --out FILE [-v]   copy the instrument's reports\n"
           "  monitor --port PATH [--baud N] [--count N | --seconds S]  live records as JSON "
           "lines\n"
           "  workpieces add ID NAME [TYPE MATERIAL HEAT FACE MANDATOR FLAWINFO]\n"
           "  workpieces list                    list the workpieces (ID and name)\n"
           "  archive list [--from DATE] [--to DATE] [--name TEXT] [--probe NAME] [--workpiece "
           "ID]\n"
           "               [--source FILE] [--limit N] [--offset N] [--json]   newest first\n"
           "  archive show ID [--json]           every column of an archived report\n"
           "  archive import FILE... [--user NAME]   add report files to the archive\n"
           "  archive details ID [--set FIELD=VALUE]... [--reason TEXT] [--user NAME] [--json]\n"
           "                                     show or change an archived report's details\n"
           "  archive sign ID --user NAME        check and sign (password: UFD_USER_PASSWORD)\n"
           "  archive history ID [--json]        every import, change and signature\n"
           "  archive pdf ID... --out FILE.pdf   archived reports' pages with their records\n"
           "  verify FILE.pdf                    each page against the archive: exit 0 when every\n"
           "                                     page is its report's current revision\n"
           "  station [--set FIELD=VALUE]...     this station's instrument, serial, calibration\n"
           "                                     due date and location\n"
           "  ... --database postgresql://USER@HOST:PORT/DB | sqlite:FOLDER   with any command "
           "that\n"
           "                                     uses a database (password: UFD_DB_PASSWORD)\n"
           "  pdf --rows LIST|all [--workpiece ID] [--user NAME] [--out FILE.pdf]\n"
           "                                     report pages of rows 1,3,5-9 (last import)\n"
           "  csv --row N --out FILE.csv         waveform of report row N (last import)\n";
}

// Text on a PDF page needs Qt's GUI part (fonts); no display is needed, so the other commands
// stay console programs and `pdf` draws offscreen unless a platform is chosen.
std::unique_ptr<QCoreApplication> makeApplication(int& argc, char** argv) {
#ifdef UFDTOOL_PDF
    if ((argc > 1 && qstrcmp(argv[1], "pdf") == 0) ||
        (argc > 2 && qstrcmp(argv[1], "archive") == 0 && qstrcmp(argv[2], "pdf") == 0)) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        return std::make_unique<QGuiApplication>(argc, argv);
    }
#endif
    return std::make_unique<QCoreApplication>(argc, argv);
}

} // namespace

int main(int argc, char** argv) {
    const std::unique_ptr<QCoreApplication> application = makeApplication(argc, argv);
    QCoreApplication& app = *application;
    QTextStream out(stdout);
    QTextStream err(stderr);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) {
        usage(err);
        return 2;
    }
    const QString name = args.takeFirst();
    if (!ufd::tool::chooseDatabase(args, ufd::tool::Io{out, err})) {
        return 2;
    }
    const std::map<QString, Command> table = commands();
    const auto it = table.find(name);
    if (it == table.end()) {
        err << "ufdtool: unknown command '" << name << "'\n";
        usage(err);
        return 2;
    }
    const int rc = it->second(args, ufd::tool::Io{out, err});
    out.flush();
    err.flush();
    return rc;
}
