#pragma once

#include "reports/database.h"

#include <QDateTime>
#include <QLocale>
#include <QString>

namespace ufd::app {

// Date and time patterns fixed for the whole program at start.
inline constexpr char kShortDateFormat[] = "yyyy-MM-dd";
inline constexpr char kShortTimeFormat[] = "hh:mm";

// The run-data object; only the login writes it.
struct RunData {
    QString CurrentUser;
};

// Process-wide state of the program, created once by main() and handed to whoever needs it.
// Widget-free: the command line and the windows share it.
class AppContext {
public:
    AppContext() = default;
    AppContext(const AppContext&) = delete;
    AppContext& operator=(const AppContext&) = delete;

    // Opens both databases in `folder` (created when missing). False with lastError() set when
    // either failed; usersOpen() then tells whether the program can go on.
    bool openData(const QString& folder);
    bool usersOpen() const;
    QString lastError() const { return data_.lastError(); }

    reports::DataStore& dataStore() { return data_; }

    // Folder of the program file with a trailing separator; base of Report/, Moudle/, Outfiles/.
    QString ProgramFolder;
    // True after the instrument acknowledged connect, false after it acknowledged disconnect.
    bool LinkConnected = false;
    RunData DOXL_RunData;

private:
    reports::DataStore data_;
};

// The clock panel's text: short date, a blank, the locale's long time without a time zone.
QString clockText(const QDateTime& now, const QLocale& locale);

} // namespace ufd::app
