// The archive from the command line, and where every command finds its databases.
#include "commands.h"

#include "core/archive/report_archive.h"
#include "core/archive/shared_database.h"
#include "core/context/station_folder.h"
#include "core/reports/database.h"
#include "core/reports/report_display.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlRecord>
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <limits>
#include <optional>
#include <string>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <termios.h>
#include <unistd.h>
#endif

namespace ufd::tool {

bool stdinIsTerminal() {
#ifdef Q_OS_WIN
    return _isatty(_fileno(stdin)) != 0;
#else
    return isatty(STDIN_FILENO) != 0;
#endif
}

std::optional<QString> readHidden(const QString& prompt) {
    std::fprintf(stderr, "%s", qPrintable(prompt));
    std::fflush(stderr);
#ifdef Q_OS_WIN
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    GetConsoleMode(in, &mode);
    SetConsoleMode(in, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
#else
    termios old{};
    const bool terminal = tcgetattr(STDIN_FILENO, &old) == 0;
    if (terminal) {
        termios silent = old;
        silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &silent);
    }
#endif
    std::string line;
    const bool got = static_cast<bool>(std::getline(std::cin, line));
#ifdef Q_OS_WIN
    SetConsoleMode(in, mode);
#else
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSANOW, &old);
    }
#endif
    std::fprintf(stderr, "\n");
    if (!got) {
        return std::nullopt;
    }
    return QString::fromStdString(line);
}

namespace {

constexpr char kUsage[] =
    "usage: ufdtool archive list [--from DATE] [--to DATE] [--name TEXT] [--probe NAME]\n"
    "                            [--workpiece ID] [--source FILE] [--limit N] [--offset N]\n"
    "                            [--sort name|date|probe|workpiece|source|imported|by] "
    "[--ascending] [--json]\n"
    "       ufdtool archive show ID [--json]\n"
    "       ufdtool archive import FILE... [--user NAME]\n"
    "       ufdtool archive details ID [--set FIELD=VALUE]... [--reason TEXT] [--user NAME] "
    "[--json]\n"
    "       ufdtool archive sign ID --user NAME\n"
    "       ufdtool archive history ID [--json]\n"
    "       ufdtool archive pdf ID... --out FILE.pdf\n";
constexpr char kStamp[] = "yyyy-MM-dd hh:mm:ss";

// The database server's password, asked on the terminal.
std::optional<QString> askPassword(const archive::ServerAddress& server) {
    return readHidden(QStringLiteral("Password for %1: ").arg(server.describe()));
}

std::optional<qint64> number(const QStringList& args, const char* option, qint64 fallback,
                             qint64 min, Io io) {
    const QString name = QLatin1String(option);
    if (!args.contains(name)) {
        return fallback;
    }
    bool ok = false;
    const qint64 v = optionValue(args, name).toLongLong(&ok);
    if (!ok || v < min || v > std::numeric_limits<int>::max()) {
        io.err << "ufdtool: " << name << " must be a number of at least " << min << "\n";
        return std::nullopt;
    }
    return v;
}

// "yyyy-MM-dd" (the whole day, from its start or to its end) or "yyyy-MM-dd hh:mm:ss".
std::optional<QDateTime> dateOption(const QStringList& args, const char* option, bool dayEnd,
                                    Io io) {
    const QString name = QLatin1String(option);
    if (!args.contains(name)) {
        return QDateTime();
    }
    const QString text = optionValue(args, name);
    QDateTime t = QDateTime::fromString(text, QLatin1String(kStamp));
    if (!t.isValid()) {
        const QDate day = QDate::fromString(text, Qt::ISODate);
        if (day.isValid()) {
            t = QDateTime(day, dayEnd ? QTime(23, 59, 59) : QTime(0, 0));
        }
    }
    if (!t.isValid()) {
        io.err << "ufdtool: " << name << " takes yyyy-MM-dd or \"yyyy-MM-dd hh:mm:ss\"\n";
        return std::nullopt;
    }
    return t;
}

QString stamp(const QDateTime& t) {
    return t.isValid() ? t.toString(QLatin1String(kStamp)) : QString();
}

QJsonObject entryJson(const archive::ArchiveEntry& e) {
    return {{QStringLiteral("id"), e.id},
            {QStringLiteral("fileName"), e.fileName},
            {QStringLiteral("fileDate"), stamp(e.fileDate)},
            {QStringLiteral("fileNum"), e.fileNum},
            {QStringLiteral("probeName"), e.probeName},
            {QStringLiteral("workpiece"), e.workpiece},
            {QStringLiteral("sourceFile"), e.sourceFile},
            {QStringLiteral("importedAt"), stamp(e.importedAt)},
            {QStringLiteral("importedBy"), e.importedBy},
            {QStringLiteral("hash"), e.hash}};
}

int listArchive(archive::ReportArchive& archive, const QStringList& args, Io io) {
    const auto from = dateOption(args, "--from", false, io);
    const auto to = dateOption(args, "--to", true, io);
    const auto limit = number(args, "--limit", 50, 0, io);
    const auto offset = number(args, "--offset", 0, 0, io);
    if (!from || !to || !limit || !offset) {
        return 2;
    }
    archive::ArchiveFilter filter;
    filter.from = *from;
    filter.to = *to;
    filter.nameContains = optionValue(args, QStringLiteral("--name"));
    filter.probeName = optionValue(args, QStringLiteral("--probe"));
    filter.workpiece = optionValue(args, QStringLiteral("--workpiece"));
    filter.sourceFile = optionValue(args, QStringLiteral("--source"));
    filter.limit = static_cast<int>(*limit);
    filter.offset = static_cast<int>(*offset);
    if (args.contains(QStringLiteral("--sort"))) {
        const QString sort = optionValue(args, QStringLiteral("--sort"));
        const std::pair<const char*, archive::ArchiveSort> sorts[] = {
            {"name", archive::ArchiveSort::FileName},
            {"date", archive::ArchiveSort::FileDate},
            {"probe", archive::ArchiveSort::ProbeName},
            {"workpiece", archive::ArchiveSort::Workpiece},
            {"source", archive::ArchiveSort::SourceFile},
            {"imported", archive::ArchiveSort::ImportedAt},
            {"by", archive::ArchiveSort::ImportedBy}};
        const auto it = std::find_if(std::begin(sorts), std::end(sorts),
                                     [&](const auto& s) { return sort == QLatin1String(s.first); });
        if (it == std::end(sorts)) {
            io.err << kUsage;
            return 2;
        }
        filter.sortBy = it->second;
    }
    filter.descending = !hasFlag(args, QStringLiteral("--ascending"));
    const auto page = archive.list(filter);
    if (!page) {
        io.err << archive.lastError() << "\n";
        return 1;
    }
    if (hasFlag(args, QStringLiteral("--json"))) {
        QJsonArray entries;
        for (const auto& e : page->entries) {
            entries.append(entryJson(e));
        }
        io.out << QJsonDocument(QJsonObject{{QStringLiteral("total"), page->total},
                                            {QStringLiteral("offset"), filter.offset},
                                            {QStringLiteral("entries"), entries}})
                      .toJson(QJsonDocument::Compact)
               << "\n";
        return 0;
    }
    io.out << "ID\tDate\tName\tProbe\tWorkpiece\tSource\tImported\tBy\n";
    for (const auto& e : page->entries) {
        io.out << e.id << "\t" << stamp(e.fileDate) << "\t" << e.fileName << "\t" << e.probeName
               << "\t" << e.workpiece << "\t" << e.sourceFile << "\t" << stamp(e.importedAt) << "\t"
               << e.importedBy << "\n";
    }
    io.out << "Shown: " << page->entries.size() << " of " << page->total << "\n";
    return 0;
}

int showArchived(archive::ReportArchive& archive, const QStringList& args, Io io) {
    const QStringList ids = positional(args, {});
    bool ok = false;
    const qint64 id = ids.size() == 2 ? ids[1].toLongLong(&ok) : 0;
    if (!ok) {
        io.err << kUsage;
        return 2;
    }
    const auto report = archive.fetch(id);
    if (!report) {
        io.err << (archive.lastError().isEmpty()
                       ? QStringLiteral("ufdtool: no archived report %1").arg(id)
                       : archive.lastError())
               << "\n";
        return 1;
    }
    const bool json = hasFlag(args, QStringLiteral("--json"));
    QJsonObject columns;
    if (!json) {
        const QJsonObject entry = entryJson(report->entry);
        for (auto it = entry.begin(); it != entry.end(); ++it) {
            io.out << it.key() << "\t" << it.value().toVariant().toString() << "\n";
        }
    }
    for (int i = 0; i < report->row.count(); ++i) {
        const QString name = report->row.fieldName(i);
        const QString text = reports::fieldText(report->row, name);
        if (json) {
            columns.insert(name, text);
        } else if (name == QLatin1String("FileData")) {
            io.out << name << "\t(" << text.count(QLatin1Char(';')) << " values)\n";
        } else {
            io.out << name << "\t" << text << "\n";
        }
    }
    if (json) {
        QJsonObject all = entryJson(report->entry);
        all.insert(QStringLiteral("columns"), columns);
        io.out << QJsonDocument(all).toJson(QJsonDocument::Compact) << "\n";
    }
    return 0;
}

int importFiles(archive::ReportArchive& archive, const QStringList& args, Io io) {
    const QStringList files = positional(args, {QStringLiteral("--user")}).mid(1);
    if (files.isEmpty()) {
        io.err << kUsage;
        return 2;
    }
    const QString user = importingUser(args);
    QElapsedTimer timer;
    timer.start();
    qint64 reportsSeen = 0, added = 0, known = 0;
    int failedFiles = 0;
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QString& path = files[i];
        io.out << "[" << (i + 1) << "/" << files.size() << "] " << path << ": ";
        QFile f(path);
        QByteArray image;
        if (f.open(QIODevice::ReadOnly)) {
            image = f.readAll();
        }
        // The archive keeps the bytes FileData is made of, not the text.
        const reports::DecodeResult decoded =
            reports::decodeReportFile(image, reports::Columns::WithoutFileData);
        QString error = f.error() != QFileDevice::NoError ? f.errorString()
                        : !decoded.sizeOk                 ? reports::reportFileErrorText()
                                                          : QString();
        if (error.isEmpty()) {
            const archive::AddResult r =
                archive.add(image, decoded.rows, {QFileInfo(path).fileName(), user});
            error = r.error;
            if (r.ok()) {
                reportsSeen += static_cast<qint64>(decoded.rows.size());
                added += r.added;
                known += r.known;
                io.out << decoded.rows.size() << " reports, " << r.added << " new\n";
            }
        }
        if (!error.isEmpty()) {
            ++failedFiles;
            io.out << "not archived\n";
            io.err << path << ": " << error << "\n";
        }
        io.out.flush();
    }
    io.out << "Files: " << files.size() << ", reports: " << reportsSeen << ", new: " << added
           << ", already archived: " << known << ", files not archived: " << failedFiles << "\n"
           << "Time taken: " << timer.elapsed() << " ms\n";
    return failedFiles > 0 ? 1 : 0;
}

} // namespace

QString importingUser(const QStringList& args) {
    if (args.contains(QStringLiteral("--user"))) {
        return optionValue(args, QStringLiteral("--user"));
    }
    const QString user = qEnvironmentVariable("USER");
    return user.isEmpty() ? qEnvironmentVariable("USERNAME") : user;
}

namespace {
// The --database of this run; without it the settings file beside ufdtool decides.
std::optional<archive::DatabaseLocation>& namedDatabase() {
    static std::optional<archive::DatabaseLocation> named;
    return named;
}
} // namespace

bool chooseDatabase(QStringList& args, Io io) {
    std::optional<archive::DatabaseLocation>& named = namedDatabase();
    const qsizetype at = args.indexOf(QStringLiteral("--database"));
    if (at >= 0) {
        if (at + 1 >= args.size()) {
            io.err << "ufdtool: --database takes postgresql://USER@HOST:PORT/DATABASE or "
                      "sqlite:FOLDER\n";
            return false;
        }
        // A mistyped URL is a usage error, also for a command that would not have used it.
        QString error;
        named = archive::parseDatabaseUrl(args[at + 1], QStringLiteral("."), error);
        if (!named) {
            io.err << "ufdtool: " << error << "\n";
            return false;
        }
        args.remove(at, 2);
    }
    return true;
}

// Each command opens its databases when it needs them, so only those ask for a password.
bool openStore(reports::DataStore& store, Io io) {
    const std::optional<archive::DatabaseLocation>& named = namedDatabase();
    QString error;
    const QString settings = QDir(QCoreApplication::applicationDirPath())
                                 .filePath(QLatin1String(archive::kSettingsFileName));
    const auto where =
        named ? named
              : archive::locationFromSettings(settings, app::stationFolders().databases, error);
    const archive::PasswordPrompt prompt =
        stdinIsTerminal() ? archive::PasswordPrompt(askPassword) : archive::PasswordPrompt();
    if (!where || !archive::openDatabases(store, *where, prompt, error)) {
        io.err << error << "\n";
        return false;
    }
    return true;
}

int cmdArchive(const QStringList& args, Io io) {
    const QString sub = args.value(0);
    if (sub == QLatin1String("details") || sub == QLatin1String("sign") ||
        sub == QLatin1String("history")) {
        return archiveRecordCommand(args, io);
    }
    if (sub == QLatin1String("pdf")) {
        return archivePdf(args, io);
    }
    if (sub != QLatin1String("list") && sub != QLatin1String("show") &&
        sub != QLatin1String("import")) {
        io.err << kUsage;
        return 2;
    }
    reports::DataStore store;
    if (!openStore(store, io)) {
        return 1;
    }
    archive::ReportArchive archive(store.archiveDb());
    if (sub == QLatin1String("list")) {
        return listArchive(archive, args, io);
    }
    if (sub == QLatin1String("show")) {
        return showArchived(archive, args, io);
    }
    return importFiles(archive, args, io);
}

} // namespace ufd::tool
