#include "app/app_context.h"

#include <QRegularExpression>

namespace ufd::app {

bool AppContext::openData(const QString& folder) {
    return data_.open(folder);
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
