#include "core/context/app_context.h"

#include "core/archive/report_archive.h"
#include "core/serial/instrument_port.h"

#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>

namespace ufd::app {

LinkFlag::operator bool() const {
    return context_.dispatcher().linkConnected();
}

AppContext::AppContext()
    : dispatcher_(std::make_unique<protocol::Dispatcher>(
          [this](const std::uint8_t* data, std::uint16_t length) {
              return comm_.WriteData(data, length);
          })) {
    serial::configureForInstrument(comm_);
    dispatcher_->setLineSpeed([this] { return comm_.BaudRate(); });
    QObject::connect(&comm_, &serial::TComm::OnReceiveData, dispatcher_.get(),
                     &protocol::Dispatcher::CommReceiveData);
    QObject::connect(&comm_, &serial::TComm::OnReceiveError, dispatcher_.get(),
                     &protocol::Dispatcher::CommReceiveError);
    // A vanished line (adapter pulled, instrument's cable out): the port is closed, and opened
    // again with the same settings once its adapter is back; connected again if it was.
    QObject::connect(&comm_, &serial::TComm::OnRequestHangup, dispatcher_.get(), [this] {
        reconnect_ = dispatcher_->linkConnected();
        comm_.ClosePort();
        dispatcher_->lineLost();
        portReturn_.lineLost();
    });
    QObject::connect(
        &portReturn_, &serial::PortReturn::reopened, dispatcher_.get(),
        [this](const QString& location) { dispatcher_->lineRestored(location, reconnect_); });
}

AppContext::~AppContext() {
    comm_.ClosePort();
}

bool AppContext::openData(const QString& folder) {
    dataError_.clear();
    archive::archiveEveryImport(
        data_,
        [this] {
            return archive::ImportedImage{reportImage_.bytes(), reportImage_.source()};
        },
        [this] { return DOXL_RunData.CurrentUser; });
    const QString settings =
        settingsFile_.isEmpty()
            ? QDir(QCoreApplication::applicationDirPath()).filePath(archive::kSettingsFileName)
            : settingsFile_;
    QString error;
    const auto where = archive::locationFromSettings(settings, folder, error);
    if (where && archive::openDatabases(data_, *where, passwordPrompt_, error)) {
        return true;
    }
    dataError_ = error;
    if (!usersOpen()) {
        // Falling back to the local files would split the lab's users and archive again.
        dataError_ += QStringLiteral("\nThe program cannot start without its user accounts.");
    }
    return false;
}

bool AppContext::usersOpen() const {
    return data_.userDb().isOpen();
}

QString clockText(const QDateTime& now, const QLocale& locale) {
    // Qt's long time pattern carries the zone ("t"), which a clock of local time does not show.
    QString pattern = locale.timeFormat(QLocale::LongFormat);
    pattern.remove(QRegularExpression(QStringLiteral("\\s*t+\\s*$")));
    pattern.remove(QRegularExpression(QStringLiteral("^\\s*t+\\s*")));
    return now.date().toString(QLatin1String(kShortDateFormat)) + QLatin1Char(' ') +
           locale.toString(now.time(), pattern);
}

} // namespace ufd::app
