#pragma once

#include "core/spreadsheet/spreadsheet_report.h"

#include <QStringList>
#include <QTextStream>
#include <optional>

namespace ufd::reports {
class DataStore;
}

namespace ufd::tool {

// Output streams of the tool; each command writes results to out and problems to err.
struct Io {
    QTextStream& out;
    QTextStream& err;
};

// Each command takes the arguments after its name and returns the process exit code.
int cmdInit(const QStringList& args, Io io);
int cmdUsers(const QStringList& args, Io io);
int cmdImportReport(const QStringList& args, Io io);
int cmdRecordingInfo(const QStringList& args, Io io);
int cmdMakeReport(const QStringList& args, Io io);
int cmdMakeRecording(const QStringList& args, Io io);
int cmdSheet(const QStringList& args, Io io);
int cmdConnect(const QStringList& args, Io io);
int cmdDisconnect(const QStringList& args, Io io);
int cmdUpload(const QStringList& args, Io io);
int cmdMonitor(const QStringList& args, Io io);
int cmdWorkpieces(const QStringList& args, Io io);
int cmdArchive(const QStringList& args, Io io);
int cmdPdf(const QStringList& args, Io io);
int cmdCsv(const QStringList& args, Io io);
int cmdStation(const QStringList& args, Io io);
int cmdVerify(const QStringList& args, Io io);
// archive details, sign and history: the record of an archived report.
int archiveRecordCommand(const QStringList& args, Io io);
// archive pdf: the pages of archived reports with their records.
int archivePdf(const QStringList& args, Io io);

// Takes "--database URL" out of `args` and makes every command open the databases there, else
// where the settings file beside ufdtool says, else in the current folder. False on a bad option.
bool chooseDatabase(QStringList& args, Io io);
// Who an import is recorded for: --user NAME, else the account running ufdtool.
QString importingUser(const QStringList& args);

// Opens the databases where chooseDatabase said; false, having said why on err, when it fails.
bool openStore(reports::DataStore& store, Io io);
// The workpiece of "--workpiece ID" with its details; empty fields without the option. Nothing,
// having said why on err, when no workpiece has that number.
std::optional<reports::WorkpieceFields> workpieceOption(const QStringList& args,
                                                        reports::DataStore& store, Io io);

bool stdinIsTerminal();
// Writes `prompt` to stderr and reads a line from stdin without showing it on a terminal.
std::optional<QString> readHidden(const QString& prompt);

// "--name value" options; returns the value or `fallback`.
QString optionValue(const QStringList& args, const QString& name, const QString& fallback = {});
bool hasFlag(const QStringList& args, const QString& name);
// Arguments that are neither options nor option values (options listed in `withValue` take one).
QStringList positional(const QStringList& args, const QStringList& withValue);

} // namespace ufd::tool
