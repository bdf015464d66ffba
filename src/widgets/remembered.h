#pragma once

#include <QRect>
#include <QString>
#include <optional>

class QWidget;

namespace ufd::app {

// What the station remembers between runs, in Qt's settings store under the station's names:
// window sizes and positions, the last folder of each file dialog, the last port and its speed.

// A top-level window's size and position (and maximised state) under `key`.
// False when nothing was remembered.
bool restoreWindowGeometry(QWidget* window, const QString& key);
void saveWindowGeometry(const QWidget* window, const QString& key);

// A child window's frame inside the main window, under `key`.
std::optional<QRect> rememberedFrame(const QString& key);
void rememberFrame(const QString& key, const QRect& frame);

// The folder a file dialog starts in: the one a file was last chosen from under `key`, while it
// still exists, else `fallback`.
QString rememberedFolder(const QString& key, const QString& fallback);
void rememberFolder(const QString& key, const QString& chosenFile);

// The port last opened and its speed text; empty when none was.
struct RememberedPort {
    QString location;
    QString speed;
};
RememberedPort rememberedPort();
void rememberPort(const QString& location, const QString& speed);

} // namespace ufd::app
