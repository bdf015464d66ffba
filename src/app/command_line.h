#pragma once

#include <QString>
#include <QStringList>

namespace ufd::app {

// What the program's command line asks for. Read before any window exists, so that --help and
// --version work without a display.
struct ProgramCommandLine {
    enum class Action { Run, Help, Version, Refused };
    Action action = Action::Run;
    QString text; // the usage, the version line, or why the line was refused followed by the usage
};

// `arguments` without the program's name. The program takes no arguments of its own besides
// -h/--help and --version; the toolkit's own options (-platform NAME, -style NAME, ...) pass.
ProgramCommandLine readProgramCommandLine(const QStringList& arguments);

// The exit codes of the program and its tools.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

} // namespace ufd::app
