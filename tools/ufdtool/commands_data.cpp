// Commands on files and databases.
#include "commands.h"

#include "core/accounts/user_accounts.h"
#include "core/archive/report_archive.h"
#include "core/archive/report_records.h"
#include "core/online/recording.h"
#include "core/online/text_format.h"
#include "core/reports/database.h"
#include "core/reports/report_file.h"
#include "demo/demo_data.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSaveFile>

namespace ufd::tool {

QString optionValue(const QStringList& args, const QString& name, const QString& fallback) {
    const qsizetype i = args.indexOf(name);
    return (i >= 0 && i + 1 < args.size()) ? args[i + 1] : fallback;
}

bool hasFlag(const QStringList& args, const QString& name) {
    return args.contains(name);
}

QStringList positional(const QStringList& args, const QStringList& withValue) {
    QStringList out;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (withValue.contains(args[i])) {
            ++i;
        } else if (!args[i].startsWith(QLatin1String("--")) || args[i] == QLatin1String("--")) {
            out << args[i];
        }
    }
    return out;
}

std::optional<reports::WorkpieceFields> workpieceOption(const QStringList& args,
                                                        reports::DataStore& store, Io io) {
    reports::WorkpieceFields workpiece;
    workpiece.location = archive::stationLocation(store.archiveDb());
    if (args.contains(QStringLiteral("--workpiece"))) {
        workpiece.number = optionValue(args, QStringLiteral("--workpiece"));
        QString error;
        const auto details = store.workpieceDetails(workpiece.number, &error);
        if (!details) {
            io.err << (error.isEmpty() ? QStringLiteral("ufdtool: no workpiece numbered '%1'")
                                             .arg(workpiece.number)
                                       : error)
                   << "\n";
            return std::nullopt;
        }
        workpiece.details = *details;
    }
    return workpiece;
}

namespace {

bool readWholeFile(const QString& path, QByteArray& bytes, Io io) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        io.err << path << ": " << f.errorString() << "\n";
        return false;
    }
    bytes = f.readAll();
    return true;
}

bool writeWholeFile(const QString& path, const QByteArray& bytes, Io io) {
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit()) {
        io.err << path << ": " << f.errorString() << "\n";
        return false;
    }
    return true;
}

bool parseCount(const QString& text, qint64 min, qint64 max, qint64& value, const char* what,
                Io io) {
    bool ok = false;
    value = text.toLongLong(&ok);
    if (!ok || value < min || value > max) {
        io.err << "ufdtool: " << what << " must be a number from " << min << " to " << max << "\n";
        return false;
    }
    return true;
}

} // namespace

int cmdInit(const QStringList&, Io io) {
    reports::DataStore store;
    if (!openStore(store, io)) {
        return 1;
    }
    if (store.isShared()) {
        io.out << "Databases ready: " << reports::kReportDbFile
               << " (reports); users, workpieces and the archive on the server\n";
    } else {
        io.out << "Databases ready: " << reports::kReportDbFile << ", " << reports::kUserDbFile
               << "\n";
    }
    return 0;
}

int cmdUsers(const QStringList& args, Io io) {
    reports::DataStore store;
    if (args.isEmpty() || !openStore(store, io)) {
        if (args.isEmpty()) {
            io.err << "usage: ufdtool users add NAME PASSWORD [LEVEL] | users list\n";
        }
        return args.isEmpty() ? 2 : 1;
    }
    app::UserAccounts users(store.userDb());
    if (args[0] == QLatin1String("list")) {
        for (const QString& name : users.userNames()) {
            io.out << name << "\n";
        }
        return 0;
    }
    if (args[0] == QLatin1String("add") && args.size() >= 3) {
        if (args[1].isEmpty()) {
            io.err << "ufdtool: the user name must not be empty\n";
            return 1;
        }
        if (!users.addUser(args[1], args[2], args.value(3))) {
            io.err << users.lastError() << "\n";
            return 1;
        }
        io.out << "User added: " << args[1] << "\n";
        return 0;
    }
    io.err << "usage: ufdtool users add NAME PASSWORD [LEVEL] | users list\n";
    return 2;
}

int cmdImportReport(const QStringList& args, Io io) {
    const QStringList files = positional(args, {QStringLiteral("--user")});
    if (files.size() != 1) {
        io.err << "usage: ufdtool import-report FILE [--user NAME]\n";
        return 2;
    }
    QElapsedTimer timer;
    timer.start();
    QByteArray image;
    if (!readWholeFile(files[0], image, io)) {
        return 1;
    }
    const reports::DecodeResult decoded = reports::decodeReportFile(image);
    if (!decoded.sizeOk) {
        io.err << reports::reportFileErrorText() << "\n";
        return 1;
    }
    reports::DataStore store;
    if (!openStore(store, io)) {
        return 1;
    }
    // The same hook as the program's: the import also goes to the archive.
    const QString user = importingUser(args);
    archive::archiveEveryImport(
        store,
        [&] {
            return archive::ImportedImage{image, files[0]};
        },
        [&user] { return user; });
    const reports::ReplaceResult stored = store.replaceReports(decoded.rows);
    const qint64 ms = timer.elapsed();
    io.out << "Reports imported: " << stored.stored << "\n";
    if (stored.archiveError.isEmpty()) {
        io.out << "Reports archived: " << stored.archived << " new, " << stored.alreadyArchived
               << " already archived\n";
    } else {
        io.err << "Reports not archived: " << stored.archiveError << "\n";
    }
    if (decoded.invalidDates > 0) {
        io.out << "Reports with an invalid date (stored without a date): " << decoded.invalidDates
               << "\n";
    }
    if (stored.failed > 0) {
        io.err << "Reports not stored: " << stored.failed << " (" << stored.firstError << ")\n";
    }
    io.out << "Time taken: " << ms << " ms\n";
    return stored.failed > 0 || !stored.archiveError.isEmpty() ? 1 : 0;
}

int cmdRecordingInfo(const QStringList& args, Io io) {
    if (args.size() != 1) {
        io.err << "usage: ufdtool recording-info FILE\n";
        return 2;
    }
    QByteArray bytes;
    if (!readWholeFile(args[0], bytes, io)) {
        return 1;
    }
    const qsizetype size = bytes.size();
    const auto rec = online::Recording::parse(std::move(bytes));
    if (!rec) {
        io.err << online::recordingRefusedText() << "\n";
        return 1;
    }
    io.out << "File size: " << size << " bytes\n"
           << "Frame rate: " << rec->frameRate() << " (tenths of a frame per second)\n"
           << "Frames: " << rec->frameCount() << "\n"
           << "Date: " << rec->dateText() << "\n"
           << "Time: " << rec->timeText() << "\n"
           << "Playing time: " << online::formatFixed(rec->playingTime(), 1) << " s\n"
           << "Frame period: " << rec->framePeriodMs() << " ms\n";
    if (rec->cutShort()) {
        io.out << rec->cutShortText() << "\n";
    }
    return 0;
}

int cmdMakeReport(const QStringList& args, Io io) {
    const QStringList files =
        positional(args, {QStringLiteral("--reports"), QStringLiteral("--seed")});
    qint64 reports = 0;
    qint64 seed = 0;
    if (files.size() != 1 ||
        !parseCount(optionValue(args, QStringLiteral("--reports"), QStringLiteral("24")), 0, 1024,
                    reports, "--reports", io) ||
        !parseCount(optionValue(args, QStringLiteral("--seed"), QStringLiteral("1")), 0, 0xFFFFFFFF,
                    seed, "--seed", io)) {
        if (files.size() != 1) {
            io.err << "usage: ufdtool make-report FILE [--reports N] [--seed S]\n";
        }
        return 2;
    }
    const QByteArray image =
        demo::makeReportImage(static_cast<int>(reports), static_cast<std::uint32_t>(seed));
    if (!writeWholeFile(files[0], image, io)) {
        return 1;
    }
    io.out << "Report file written: " << files[0] << " (" << reports << " reports)\n";
    return 0;
}

int cmdMakeRecording(const QStringList& args, Io io) {
    const QStringList files = positional(
        args, {QStringLiteral("--frames"), QStringLiteral("--rate"), QStringLiteral("--seed")});
    qint64 frames = 0;
    qint64 rate = 0;
    qint64 seed = 0;
    if (files.size() != 1 ||
        !parseCount(optionValue(args, QStringLiteral("--frames"), QStringLiteral("200")), 1, 100000,
                    frames, "--frames", io) ||
        !parseCount(optionValue(args, QStringLiteral("--rate"), QStringLiteral("200")), 1, 65535,
                    rate, "--rate", io) ||
        !parseCount(optionValue(args, QStringLiteral("--seed"), QStringLiteral("1")), 0, 0xFFFFFFFF,
                    seed, "--seed", io)) {
        if (files.size() != 1) {
            io.err << "usage: ufdtool make-recording FILE [--frames N] [--rate R] [--seed S]\n";
        }
        return 2;
    }
    const QByteArray file =
        demo::makeRecording(static_cast<std::uint32_t>(frames), static_cast<std::uint16_t>(rate),
                            static_cast<std::uint32_t>(seed));
    if (!writeWholeFile(files[0], file, io)) {
        return 1;
    }
    io.out << "Recording written: " << files[0] << " (" << frames << " frames)\n";
    return 0;
}

} // namespace ufd::tool
