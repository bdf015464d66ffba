#pragma once

#include "core/archive/shared_database.h"
#include "core/online/replay_state.h"
#include "core/protocol/dispatcher.h"
#include "core/protocol/report_image.h"
#include "core/reports/database.h"
#include "core/reports/report_query.h"
#include "core/serial/comm.h"
#include "core/serial/port_return.h"

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <memory>

namespace ufd::app {

// Date and time patterns fixed for the whole program at start.
inline constexpr char kShortDateFormat[] = "yyyy-MM-dd";
inline constexpr char kShortTimeFormat[] = "hh:mm";

// The run-data object; only the login writes it.
struct RunData {
    QString CurrentUser;
};

class AppContext;

// True after the instrument acknowledged connect, false after it acknowledged disconnect. The
// dispatcher alone writes the flag; this reads it, so the program keeps it in one place.
class LinkFlag {
public:
    explicit LinkFlag(const AppContext& context) : context_(context) {}
    explicit operator bool() const;

private:
    const AppContext& context_;
};

// Process-wide state of the program, created once by main() and handed to whoever needs it.
// Widget-free: the command line and the windows share it.
class AppContext {
public:
    AppContext();
    ~AppContext();
    AppContext(const AppContext&) = delete;
    AppContext& operator=(const AppContext&) = delete;

    // Opens the databases: on the server that the settings file names, with the report table in
    // `folder`; without the file, both embedded files in `folder` (created when missing). From
    // then on every import also goes to the archive, under the logged-in user's name. False with
    // lastError() set when a part failed; usersOpen() then tells whether the program can go on:
    // not when the server cannot be reached, since it keeps the user accounts.
    bool openData(const QString& folder);
    bool usersOpen() const;
    QString lastError() const { return dataError_.isEmpty() ? data_.lastError() : dataError_; }
    // archive::kSettingsFileName beside the program unless set otherwise.
    void setDatabaseSettingsFile(const QString& path) { settingsFile_ = path; }
    // Asks for the server's password at start-up when archive::kPasswordVariable is not set.
    void setPasswordPrompt(archive::PasswordPrompt prompt) { passwordPrompt_ = std::move(prompt); }

    reports::DataStore& dataStore() { return data_; }

    // The only serial component, and the dispatcher that sends through it and routes what it
    // receives. Created with the context, wired to each other; the dispatcher's time-outs
    // follow the port's speed, and a line that hangs up is closed, to be opened again when
    // its adapter is back.
    serial::TComm& comm() { return comm_; }
    protocol::Dispatcher& dispatcher() { return *dispatcher_; }
    const protocol::Dispatcher& dispatcher() const { return *dispatcher_; }
    // Opens a lost line's port again when its adapter is back.
    serial::PortReturn& portReturn() { return portReturn_; }
    // The report file image shared by the upload and the report browser.
    protocol::ReportImage& reportImage() { return reportImage_; }
    // Replay keeps its recording and position when its window closes.
    online::ReplayState& replayState() { return replay_; }
    // The report browser's query; it outlives the browser window.
    reports::ReportQuery& reportQuery() { return reportQuery_; }

    // Folder of the program file with a trailing separator; base of Report/, Moudle/, Outfiles/.
    QString ProgramFolder;
    const LinkFlag LinkConnected{*this};
    RunData DOXL_RunData;

private:
    reports::DataStore data_;
    QString settingsFile_;
    archive::PasswordPrompt passwordPrompt_;
    QString dataError_;
    reports::ReportQuery reportQuery_{data_};
    serial::TComm comm_;
    std::unique_ptr<protocol::Dispatcher> dispatcher_;
    serial::PortReturn portReturn_{comm_};
    bool reconnect_ = false; // the instrument was connected when the line went
    protocol::ReportImage reportImage_;
    online::ReplayState replay_;
};

// The clock panel's text: short date, a blank, the locale's long time without a time zone.
QString clockText(const QDateTime& now, const QLocale& locale);

} // namespace ufd::app
