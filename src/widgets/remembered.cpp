#include "widgets/remembered.h"

#include <QFileInfo>
#include <QSettings>
#include <QWidget>

namespace ufd::app {

namespace {

QString windowKey(const QString& key) {
    return QStringLiteral("windows/") + key;
}

QString folderKey(const QString& key) {
    return QStringLiteral("folders/") + key;
}

} // namespace

bool restoreWindowGeometry(QWidget* window, const QString& key) {
    const QByteArray geometry = QSettings().value(windowKey(key)).toByteArray();
    return !geometry.isEmpty() && window->restoreGeometry(geometry);
}

void saveWindowGeometry(const QWidget* window, const QString& key) {
    QSettings().setValue(windowKey(key), window->saveGeometry());
}

std::optional<QRect> rememberedFrame(const QString& key) {
    const QRect frame = QSettings().value(windowKey(key)).toRect();
    return frame.isValid() ? std::optional<QRect>(frame) : std::nullopt;
}

void rememberFrame(const QString& key, const QRect& frame) {
    QSettings().setValue(windowKey(key), frame);
}

QString rememberedFolder(const QString& key, const QString& fallback) {
    const QString folder = QSettings().value(folderKey(key)).toString();
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : fallback;
}

void rememberFolder(const QString& key, const QString& chosenFile) {
    if (!chosenFile.isEmpty()) {
        QSettings().setValue(folderKey(key), QFileInfo(chosenFile).absolutePath());
    }
}

RememberedPort rememberedPort() {
    const QSettings s;
    return {s.value(QStringLiteral("port/location")).toString(),
            s.value(QStringLiteral("port/speed")).toString()};
}

void rememberPort(const QString& location, const QString& speed) {
    QSettings s;
    s.setValue(QStringLiteral("port/location"), location);
    s.setValue(QStringLiteral("port/speed"), speed);
}

} // namespace ufd::app
