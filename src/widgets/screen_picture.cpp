#include "widgets/screen_picture.h"

#include "widgets/operator_messages.h"

#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QSaveFile>
#include <QWidget>

namespace ufd::app {

QString screenPicturePath(const QString& folder, const QDateTime& now) {
    const QString stem =
        QStringLiteral("A-scan ") + now.toString(QStringLiteral("yyyyMMdd-hhmmss"));
    const QDir dir(folder);
    QString path = dir.filePath(stem + QStringLiteral(".png"));
    for (int n = 2; QFileInfo::exists(path); ++n) {
        path = dir.filePath(stem + QStringLiteral(" (%1).png").arg(n));
    }
    return path;
}

QString saveScreenPicture(QWidget* what, const QString& folder, const QDateTime& now,
                          QString* error) {
    const QImage picture = what->grab().toImage();
    if (QClipboard* clipboard = QGuiApplication::clipboard()) {
        clipboard->setImage(picture);
    }
    const QString path = screenPicturePath(folder, now);
    // Written whole or not at all: a half-written picture is worse than none.
    QSaveFile file(path);
    if (!QDir(folder).exists() || !file.open(QIODevice::WriteOnly) || !picture.save(&file, "PNG") ||
        !file.commit()) {
        if (error != nullptr) {
            *error = QStringLiteral("Cannot save the picture %1: %2")
                         .arg(QDir::toNativeSeparators(path),
                              QDir(folder).exists() ? file.errorString()
                                                    : QStringLiteral("the folder is missing"));
        }
        return {};
    }
    return path;
}

void takeScreenshot(QWidget* what, const QString& folder, OperatorMessages& messages) {
    QString error;
    if (saveScreenPicture(what, folder, QDateTime::currentDateTime(), &error).isEmpty()) {
        messages.showMessage(error);
    }
}

} // namespace ufd::app
