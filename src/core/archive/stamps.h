#pragma once
// Internal to the archive: the times it stores, as UTC texts that sort as they read.

#include <QDateTime>
#include <QString>
#include <QVariant>

namespace ufd::archive {

inline constexpr char kStamp[] = "yyyy-MM-dd hh:mm:ss";

inline QString nowStamp() {
    return QDateTime::currentDateTimeUtc().toString(QLatin1String(kStamp));
}

// A stored time; invalid where none is stored.
inline QDateTime stampTime(const QVariant& v) {
    if (v.isNull()) {
        return {};
    }
    QDateTime t = QDateTime::fromString(v.toString(), QLatin1String(kStamp));
    t.setTimeSpec(Qt::UTC);
    return t;
}

} // namespace ufd::archive
