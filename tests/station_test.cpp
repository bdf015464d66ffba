// The station as installed: the package, where an installed or read-only program keeps its
// files, and what the operator is told about a port the account may not use. Where the tests run
// as root, ufdtool runs as the account `nobody` (setpriv) for the checks that need a user
// without rights.
#include "core/context/station_folder.h"
#include "core/context/version.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Outcome {
    int code = -1;
    QString out;
    QString err;
};

Outcome run(const QStringList& command, const QString& dir = QString(),
            const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(dir.isEmpty() ? QDir::currentPath() : dir);
    p.start(command.front(), command.mid(1));
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// An account without rights beyond its own files: `nobody` through setpriv when the tests run as
// root, else the account running them. Empty `prefix` and a reason when there is none.
struct Unprivileged {
    QStringList prefix;
    uid_t uid = 0;
    gid_t gid = 0;
    QString unavailable;
};

Unprivileged unprivileged() {
    Unprivileged u;
    if (::geteuid() != 0) {
        u.uid = ::geteuid();
        u.gid = ::getegid();
        return u;
    }
    const passwd* nobody = ::getpwnam("nobody");
    if (nobody == nullptr || QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty()) {
        u.unavailable = QStringLiteral("the tests run as root, and there is no account nobody or "
                                       "no setpriv (util-linux) to run a check without rights");
        return u;
    }
    u.uid = nobody->pw_uid;
    u.gid = nobody->pw_gid;
    u.prefix = {QStringLiteral("setpriv"), QStringLiteral("--reuid=%1").arg(u.uid),
                QStringLiteral("--regid=%1").arg(u.gid), QStringLiteral("--clear-groups"),
                QStringLiteral("--")};
    return u;
}

// A copy of ufdtool (and the default template beside it) in a folder of `dir` that the account
// may read but not write; `dir` itself is opened to every account.
QString readOnlyCopyOfUfdtool(const QTemporaryDir& dir) {
    QFile::setPermissions(dir.path(), QFileDevice::Permissions(0x7755));
    const QString folder = dir.filePath(QStringLiteral("program"));
    QDir().mkpath(folder + QStringLiteral("/Moudle"));
    const QString tool = folder + QStringLiteral("/ufdtool");
    if (!QFile::copy(QStringLiteral(UFDTOOL_PATH), tool) ||
        !QFile::copy(QStringLiteral(UFD_TEMPLATE_PATH),
                     folder + QStringLiteral("/Moudle/TSV.xlsx"))) {
        return {};
    }
    // Root may write anywhere; everyone else may not write a folder without write bits.
    QFile::setPermissions(folder, QFileDevice::Permissions(0x5555));
    return tool;
}

} // namespace

TEST(Station, PackageHoldsTheProgramsTheTemplateADesktopEntryAndTheirLibraries) {
    if (QStandardPaths::findExecutable(QStringLiteral("dpkg-shlibdeps")).isEmpty()) {
        GTEST_SKIP() << "dpkg-shlibdeps (dpkg-dev) is not installed; scripts/setup-deps.sh "
                        "installs it";
    }
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const Outcome built = run({QStringLiteral(UFD_CPACK_COMMAND), QStringLiteral("-G"),
                               QStringLiteral("DEB"), QStringLiteral("--config"),
                               QStringLiteral(UFD_CPACK_CONFIG), QStringLiteral("-B"), dir.path()});
    ASSERT_EQ(built.code, 0) << built.out.toStdString() << built.err.toStdString();
    const QString deb = dir.filePath(QStringLiteral("ufd_" UFD_VERSION "_amd64.deb"));
    ASSERT_TRUE(QFileInfo::exists(deb)) << built.out.toStdString();

    const Outcome listing = run({QStringLiteral("dpkg-deb"), QStringLiteral("--contents"), deb});
    ASSERT_EQ(listing.code, 0) << listing.err.toStdString();
    for (const char* path :
         {"./usr/bin/ufd", "./usr/bin/ufdtool", "./usr/bin/ufd-sim",
          "./usr/share/ufd/Moudle/TSV.xlsx", "./usr/share/applications/ufd.desktop",
          "./usr/share/icons/hicolor/scalable/apps/ufd.svg"}) {
        EXPECT_TRUE(listing.out.contains(QLatin1String(path) + QLatin1Char('\n'))) << path;
    }
    const Outcome fields =
        run({QStringLiteral("dpkg-deb"), QStringLiteral("--field"), deb, QStringLiteral("Package"),
             QStringLiteral("Version"), QStringLiteral("Architecture"), QStringLiteral("Depends")});
    EXPECT_TRUE(fields.out.contains(QStringLiteral("Package: ufd\n")));
    EXPECT_TRUE(fields.out.contains(QStringLiteral("Version: " UFD_VERSION "\n")));
    EXPECT_TRUE(fields.out.contains(QStringLiteral("Architecture: amd64\n")));
    // Worked out from the binaries, beside the plugins Qt loads at run time.
    for (const char* dependency : {"libqt6core6", "libqt6widgets6", "libqt6serialport6",
                                   "libqt6charts6", "libsodium23", "libqt6sql6-sqlite"}) {
        EXPECT_TRUE(fields.out.contains(QLatin1String(dependency))) << fields.out.toStdString();
    }

    const QString tree = dir.filePath(QStringLiteral("tree"));
    ASSERT_EQ(run({QStringLiteral("dpkg-deb"), QStringLiteral("--extract"), deb, tree}).code, 0);
    const QByteArray desktop =
        fileBytes(tree + QStringLiteral("/usr/share/applications/ufd.desktop"));
    EXPECT_TRUE(desktop.contains("\nExec=ufd\n") && desktop.contains("\nIcon=ufd\n"))
        << desktop.data();
    EXPECT_EQ(fileBytes(tree + QStringLiteral("/usr/share/ufd/Moudle/TSV.xlsx")),
              fileBytes(QStringLiteral(UFD_TEMPLATE_PATH)));
    // The installed program says its version without a display.
    const Outcome version =
        run({tree + QStringLiteral("/usr/bin/ufd"), QStringLiteral("--version")});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out, QStringLiteral("ufd " UFD_VERSION "\n"));
}

TEST(Station, AnInstalledOrReadOnlyProgramKeepsItsFilesInTheUsersDataFolder) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString current = dir.filePath(QStringLiteral("work"));
    const QString data = dir.filePath(QStringLiteral("data"));

    // Run from a folder it may write to (the build): its folders beside it, as always.
    const QString build = dir.filePath(QStringLiteral("build/bin"));
    QDir().mkpath(build);
    ufd::app::StationFolders f = ufd::app::chooseStationFolders(build, current, data);
    EXPECT_FALSE(f.userData);
    EXPECT_EQ(f.program, build + QLatin1Char('/'));
    EXPECT_EQ(f.databases, current);
    EXPECT_FALSE(QFileInfo::exists(data));

    // Installed (bin/ beside share/ufd/): the user's data folder, laid out, with the template.
    const QString bin = dir.filePath(QStringLiteral("usr/bin"));
    const QString shared = dir.filePath(QStringLiteral("usr/share/ufd/Moudle"));
    QDir().mkpath(bin);
    QDir().mkpath(shared);
    ASSERT_TRUE(
        QFile::copy(QStringLiteral(UFD_TEMPLATE_PATH), shared + QStringLiteral("/TSV.xlsx")));
    f = ufd::app::chooseStationFolders(bin, current, data);
    EXPECT_TRUE(f.userData);
    EXPECT_TRUE(f.error.isEmpty()) << f.error.toStdString();
    EXPECT_EQ(f.program, data + QLatin1Char('/'));
    EXPECT_EQ(f.databases, data);
    for (const char* sub : {"Report", "Record", "Moudle", "Outfiles"}) {
        EXPECT_TRUE(QFileInfo(data + QLatin1Char('/') + QLatin1String(sub)).isDir()) << sub;
    }
    const QString copied = data + QStringLiteral("/Moudle/TSV.xlsx");
    EXPECT_EQ(fileBytes(copied), fileBytes(QStringLiteral(UFD_TEMPLATE_PATH)));
    // A site's own template is the user's: the next start leaves it alone.
    {
        QFile own(copied);
        ASSERT_TRUE(own.open(QIODevice::WriteOnly));
        own.write("site template");
    }
    ufd::app::chooseStationFolders(bin, current, data);
    EXPECT_EQ(fileBytes(copied), QByteArray("site template"));

    // A folder the account may not write to: ufdtool keeps its databases and folders in the
    // account's data folder, not in the folder it was started in nor beside itself.
    const Unprivileged user = unprivileged();
    if (!user.unavailable.isEmpty()) {
        GTEST_SKIP() << "read-only program folder not checked: " << user.unavailable.toStdString();
    }
    const QString tool = readOnlyCopyOfUfdtool(dir);
    ASSERT_FALSE(tool.isEmpty());
    const QString home = dir.filePath(QStringLiteral("home"));
    QDir().mkpath(home);
    ASSERT_EQ(::chown(QFile::encodeName(home).constData(), user.uid, user.gid), 0);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    env.remove(QStringLiteral("XDG_DATA_HOME"));
    const Outcome init = run(user.prefix + QStringList{tool, QStringLiteral("init")}, home, env);
    ASSERT_EQ(init.code, 0) << init.err.toStdString();
    const QString userData = home + QStringLiteral("/.local/share/") +
                             QLatin1String(ufd::app::kOrganizationName) + QLatin1Char('/') +
                             QLatin1String(ufd::app::kStationName);
    EXPECT_TRUE(QFileInfo::exists(userData + QStringLiteral("/UFD.mdb"))) << init.out.toStdString();
    EXPECT_TRUE(QFileInfo::exists(userData + QStringLiteral("/kvrt.mdb")));
    EXPECT_EQ(fileBytes(userData + QStringLiteral("/Moudle/TSV.xlsx")),
              fileBytes(QStringLiteral(UFD_TEMPLATE_PATH)));
    EXPECT_FALSE(QFileInfo::exists(home + QStringLiteral("/UFD.mdb")));
    EXPECT_EQ(QDir(QFileInfo(tool).path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              (QStringList{QStringLiteral("Moudle"), QStringLiteral("ufdtool")}));
}

TEST(Station, APortTheAccountMayNotUseNamesItsGroupAndWhatToDo) {
    const Unprivileged user = unprivileged();
    if (!user.unavailable.isEmpty()) {
        GTEST_SKIP() << user.unavailable.toStdString();
    }
    QString device;
    QString group;
    int master = -1;
    if (::geteuid() == 0) {
        // A terminal that only its owner and the serial group may use, as a USB adapter is.
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(::grantpt(master), 0);
        ASSERT_EQ(::unlockpt(master), 0);
        device = QString::fromLocal8Bit(::ptsname(master));
        const struct group* dialout = ::getgrnam("dialout");
        ASSERT_NE(dialout, nullptr) << "Debian's serial group dialout is missing";
        ASSERT_EQ(::chown(QFile::encodeName(device).constData(), 0, dialout->gr_gid), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(device).constData(), 0660), 0);
        group = QStringLiteral("dialout");
    } else {
        const QFileInfo serial(QStringLiteral("/dev/ttyS0"));
        if (!serial.exists() || (serial.isReadable() && serial.isWritable())) {
            GTEST_SKIP() << "not root, and no serial device this account may not use";
        }
        device = serial.filePath();
        group = serial.group();
    }
    QTemporaryDir dir;
    const QString tool = readOnlyCopyOfUfdtool(dir);
    ASSERT_FALSE(tool.isEmpty());
    const Outcome r = run(user.prefix + QStringList{tool, QStringLiteral("connect"),
                                                    QStringLiteral("--port"), device});
    if (master >= 0) {
        ::close(master);
    }
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("The communication port is invalid!")))
        << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("the group \"%1\"").arg(group)))
        << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("log in again"))) << r.err.toStdString();
}
