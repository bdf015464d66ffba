#pragma once
// A throw-away PostgreSQL server for the archive tests and benchmark: a cluster made by initdb in
// a temporary folder, served on a free local port, stopped (and the folder removed) at the end.
// The server refuses to run as root, so root runs its programs as the `postgres` account that
// Debian's package makes; anyone else runs them as himself. A watchdog process stops the server
// and removes the folder should this process die without its destructor (a crash, a kill).

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUuid>
#include <algorithm>

#ifdef Q_OS_UNIX
#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace ufd::testing {

// Set when the machine has no PostgreSQL; the server's tests then skip, saying so. Anywhere
// else (CI above all) a server that cannot start fails them.
inline constexpr char kNoPostgresVariable[] = "UFD_TEST_NO_POSTGRES";

class ThrowawayPostgres {
public:
    ThrowawayPostgres() = default;
    ThrowawayPostgres(const ThrowawayPostgres&) = delete;
    ThrowawayPostgres& operator=(const ThrowawayPostgres&) = delete;
    ~ThrowawayPostgres() { stop(); }

    static bool unavailableHere() { return qEnvironmentVariableIntValue(kNoPostgresVariable) != 0; }

    // False with error() saying why.
    bool start() {
        if (running_) {
            return true;
        }
        const QString bin = binFolder();
        if (bin.isEmpty()) {
            error_ = QStringLiteral("initdb not found (Debian: the postgresql package; or set "
                                    "UFD_PG_BINDIR). Set %1=1 on a machine without PostgreSQL.")
                         .arg(QLatin1String(kNoPostgresVariable));
            return false;
        }
        bin_ = bin;
        if (!dir_.isValid() || !handOver(dir_.path())) {
            error_ = QStringLiteral("cannot prepare %1 for the server").arg(dir_.path());
            return false;
        }
        password_ = QUuid::createUuid().toString(QUuid::Id128);
        const QString pwfile = dir_.filePath(QStringLiteral("pw"));
        QFile pw(pwfile);
        if (!pw.open(QIODevice::WriteOnly) || pw.write(password_.toLatin1()) < 0) {
            error_ = pw.errorString();
            return false;
        }
        pw.close();
        handOver(pwfile);
        // Local socket connections (the tests' administration) need no password; TCP ones do.
        if (!run(QStringLiteral("initdb"),
                 {QStringLiteral("-D"), dataFolder(), QStringLiteral("-U"), user(),
                  QStringLiteral("--auth-local=trust"), QStringLiteral("--auth-host=scram-sha-256"),
                  QStringLiteral("--pwfile=") + pwfile, QStringLiteral("-E"),
                  QStringLiteral("UTF8"), QStringLiteral("--no-sync")})) {
            return false;
        }
        for (int attempt = 0; attempt < 3 && !running_; ++attempt) {
            port_ = freePort();
            running_ = serve();
        }
        if (running_) {
            startWatchdog();
        }
        return running_;
    }

    // At once, by default. This server acknowledges a commit before its log is on disk (it is
    // thrown away anyway), so one that is to serve again is stopped in order (`orderly`): else
    // it would come back without the last commits.
    void stop(bool orderly = false) {
        if (running_) {
            QStringList args = stopArguments();
            if (orderly) {
                args[args.indexOf(QStringLiteral("immediate"))] = QStringLiteral("fast");
            }
            run(QStringLiteral("pg_ctl"), args);
            running_ = false;
        }
    }

    // The server stopped by stop() serves again, on its port, with everything it held.
    bool restart() {
        if (!running_ && !bin_.isEmpty()) {
            running_ = serve();
        }
        return running_;
    }

    // A new, empty database on the server, so that tests sharing the server share no rows.
    bool createDatabase(const QString& name) {
        return psql(QStringLiteral("CREATE DATABASE \"%1\"").arg(name));
    }

    // Runs SQL through psql over the local socket, as the cluster's owner.
    bool psql(const QString& sql) {
        return run(QStringLiteral("psql"),
                   {QStringLiteral("-h"), dir_.path(), QStringLiteral("-p"), QString::number(port_),
                    QStringLiteral("-U"), user(), QStringLiteral("-v"),
                    QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-q"), QStringLiteral("-c"),
                    sql, QStringLiteral("postgres")});
    }

    // Runs the SQL file at `path` in `database`, stopping at its first error.
    bool psqlFile(const QString& path, const QString& database) {
        // A copy the server's account can read, wherever the file lies.
        const QString copy = dir_.filePath(QUuid::createUuid().toString(QUuid::Id128));
        if (!QFile::copy(path, copy) || !handOver(copy)) {
            error_ = QStringLiteral("cannot copy %1 for the server").arg(path);
            return false;
        }
        return run(QStringLiteral("psql"),
                   {QStringLiteral("-h"), dir_.path(), QStringLiteral("-p"), QString::number(port_),
                    QStringLiteral("-U"), user(), QStringLiteral("-v"),
                    QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-q"), QStringLiteral("-f"),
                    copy, database});
    }

    QString user() const { return QStringLiteral("ufd"); }
    QString password() const { return password_; }
    int port() const { return port_; }
    QString url(const QString& database = QStringLiteral("postgres")) const {
        return QStringLiteral("postgresql://%1@127.0.0.1:%2/%3")
            .arg(user())
            .arg(port_)
            .arg(database);
    }
    QString error() const { return error_; }

private:
    static QString binFolder() {
        const QString env = qEnvironmentVariable("UFD_PG_BINDIR");
        if (!env.isEmpty()) {
            return env;
        }
        // Debian keeps the server's programs out of PATH, one folder per major version.
        QDir versions(QStringLiteral("/usr/lib/postgresql"));
        QStringList found = versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        std::sort(found.begin(), found.end(),
                  [](const QString& a, const QString& b) { return a.toInt() > b.toInt(); });
        for (const QString& v : found) {
            if (QFile::exists(versions.filePath(v + QStringLiteral("/bin/initdb")))) {
                return versions.filePath(v + QStringLiteral("/bin"));
            }
        }
        const QString inPath = QStandardPaths::findExecutable(QStringLiteral("initdb"));
        return inPath.isEmpty() ? QString() : QFileInfo(inPath).absolutePath();
    }

    static bool asRoot() {
#ifdef Q_OS_UNIX
        return geteuid() == 0;
#else
        return false;
#endif
    }

    // Lets the server's account use `path` when we are root.
    static bool handOver(const QString& path) {
#ifdef Q_OS_UNIX
        if (asRoot()) {
            const passwd* pg = getpwnam("postgres");
            return pg != nullptr &&
                   chown(QFile::encodeName(path).constData(), pg->pw_uid, pg->pw_gid) == 0;
        }
#endif
        Q_UNUSED(path);
        return true;
    }

    // A port the system had free a moment ago; start() tries again should another take it.
    static int freePort() {
        int port = 0;
#ifdef Q_OS_UNIX
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof addr;
        if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&addr), size) == 0 &&
            getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size) == 0) {
            port = ntohs(addr.sin_port);
        }
        if (fd >= 0) {
            close(fd);
        }
#endif
        return port;
    }

    QString dataFolder() const {
        return dir_.filePath(QStringLiteral("data"));
    }

    bool serve() {
        return run(QStringLiteral("pg_ctl"),
                   {QStringLiteral("-D"), dataFolder(), QStringLiteral("-l"),
                    dir_.filePath(QStringLiteral("server.log")), QStringLiteral("-w"),
                    QStringLiteral("-t"), QStringLiteral("60"), QStringLiteral("-o"),
                    QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off "
                                   "-c synchronous_commit=off -c full_page_writes=off")
                        .arg(port_)
                        .arg(dir_.path()),
                    QStringLiteral("start")});
    }

    QStringList stopArguments() const {
        return {QStringLiteral("-D"),        dataFolder(),         QStringLiteral("-m"),
                QStringLiteral("immediate"), QStringLiteral("-w"), QStringLiteral("stop")};
    }

    // The program of the server's installation, as the account that owns the cluster.
    QStringList command(const QString& program, const QStringList& args) const {
        const QString exe = QDir(bin_).filePath(program);
        return asRoot() ? QStringList{QStringLiteral("runuser"), QStringLiteral("-u"),
                                      QStringLiteral("postgres"), QStringLiteral("--"), exe} +
                              args
                        : QStringList{exe} + args;
    }

    void startWatchdog() {
        const QString script =
            QStringLiteral("pid=$1; shift; while kill -0 \"$pid\" 2>/dev/null; do sleep 1; done; "
                           "\"$@\"; rm -rf \"$DIR\"");
        QProcess dog;
        dog.setProgram(QStringLiteral("sh"));
        dog.setArguments(QStringList{QStringLiteral("-c"), script, QStringLiteral("watchdog"),
                                     QString::number(QCoreApplication::applicationPid())} +
                         command(QStringLiteral("pg_ctl"), stopArguments()));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DIR"), dir_.path());
        dog.setProcessEnvironment(env);
        dog.setStandardInputFile(QProcess::nullDevice());
        dog.setStandardOutputFile(QProcess::nullDevice());
        dog.setStandardErrorFile(QProcess::nullDevice());
        dog.startDetached();
    }

    bool run(const QString& program, const QStringList& arguments) {
        QStringList args = command(program, arguments);
        const QString exe = args.takeFirst();
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.setWorkingDirectory(dir_.path());
        p.start(exe, args);
        if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit ||
            p.exitCode() != 0) {
            error_ = QStringLiteral("%1 %2 failed: %3%4")
                         .arg(exe, args.join(QLatin1Char(' ')), p.errorString(),
                              QString::fromLocal8Bit(p.readAll()));
            QFile log(dir_.filePath(QStringLiteral("server.log")));
            if (log.open(QIODevice::ReadOnly)) {
                error_ += QStringLiteral("\nserver log:\n") + QString::fromLocal8Bit(log.readAll());
            }
            return false;
        }
        return true;
    }

    // A name without blanks: the folder goes into the server's one-string option list (-o), and
    // QTemporaryDir's default template takes the application's name, which may hold blanks.
    QTemporaryDir dir_{QDir::tempPath() + QStringLiteral("/ufd-pg-XXXXXX")};
    QString bin_;
    QString password_;
    QString error_;
    int port_ = 0;
    bool running_ = false;
};

} // namespace ufd::testing
