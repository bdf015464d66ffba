#include "core/context/station_folder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace ufd::app {

namespace {

constexpr const char* kFolders[] = {"Report", "Record", "Moudle", "Outfiles"};
constexpr char kTemplate[] = "Moudle/TSV.xlsx";

QString withSlash(const QString& folder) {
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

bool installed(const QString& executableFolder) {
    return QFileInfo(QDir(executableFolder).filePath(QLatin1String(kSharedFolder))).isDir();
}

} // namespace

StationFolders chooseStationFolders(const QString& executableFolder, const QString& currentFolder,
                                    const QString& userDataFolder) {
    StationFolders f;
    const QString exe = QDir::cleanPath(QDir(executableFolder).absolutePath());
    if (!installed(exe) && QFileInfo(exe).isWritable()) {
        f.program = withSlash(exe);
        f.databases = QDir::cleanPath(currentFolder);
        return f;
    }
    f.userData = true;
    const QString data = QDir::cleanPath(userDataFolder);
    f.program = withSlash(data);
    f.databases = data;
    QDir dir;
    for (const char* sub : kFolders) {
        const QString path = QDir(data).filePath(QLatin1String(sub));
        if (!dir.mkpath(path)) {
            f.error =
                QStringLiteral("Cannot create the folder %1").arg(QDir::toNativeSeparators(path));
            return f;
        }
    }
    const QString target = QDir(data).filePath(QLatin1String(kTemplate));
    if (QFileInfo::exists(target)) {
        return f;
    }
    for (const QString& source :
         {QDir(exe).filePath(QLatin1String(kSharedFolder) + QLatin1Char('/') + kTemplate),
          QDir(exe).filePath(QLatin1String(kTemplate))}) {
        if (QFileInfo(source).isFile()) {
            // The copy is the user's to change: it keeps none of the shared file's read-only bits.
            if (!QFile::copy(source, target) ||
                !QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner |
                                                   QFile::ReadGroup | QFile::ReadOther)) {
                f.error = QStringLiteral("Cannot copy the default template to %1")
                              .arg(QDir::toNativeSeparators(target));
            }
            break;
        }
    }
    return f;
}

StationFolders stationFolders() {
    return chooseStationFolders(QCoreApplication::applicationDirPath(), QDir::currentPath(),
                                QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
}

void setStationIdentity() {
    QCoreApplication::setOrganizationName(QLatin1String(kOrganizationName));
    QCoreApplication::setApplicationName(QLatin1String(kStationName));
}

} // namespace ufd::app
