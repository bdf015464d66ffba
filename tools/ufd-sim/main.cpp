// ufd-sim: an instrument to talk to, on a pseudo-terminal, for tests, demos and new users.
#include "instrument.h"

#include "core/context/station_folder.h"
#include "core/context/version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ctime>

namespace {

using ufd::sim::Instrument;

constexpr char kExitCodes[] =
    "\nExit codes: 0 ended by a signal (the link removed), 1 the line could not be opened or\n"
    "was lost for good, 2 unknown option or bad value.\n";

struct Options {
    QString link;
    QString report;
    int reports = 24;
    std::uint32_t seed = 1;
    ufd::demo::CurveSet curves = ufd::demo::CurveSet::Dac;
    double pushRate = 0;
    ufd::sim::Faults faults;
    ufd::sim::LineModel line;
    bool verbose = false;
};

enum class Parsed { Run, Shown, Refused };

// A whole number >= 0 from an option, or a message in `error`.
bool count(const QCommandLineParser& p, const QString& name, int& out, QString& error) {
    if (!p.isSet(name)) {
        return true;
    }
    bool ok = false;
    const int v = p.value(name).toInt(&ok);
    if (!ok || v < 0) {
        error = QStringLiteral("--%1 wants a whole number of 0 or more").arg(name);
        return false;
    }
    out = v;
    return true;
}

Parsed parse(const QCoreApplication& app, Options& o, QString& error) {
    QCommandLineParser p;
    p.setApplicationDescription(
        QStringLiteral("Simulated flaw detector on a pseudo-terminal. Open the printed path "
                       "like a serial port; Ctrl+C ends it and removes the link."));
    const QCommandLineOption helpOption = p.addHelpOption();
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Show the version and end."));
    p.addOption(version);
    const auto opt = [&p](const char* name, const char* help, const char* value = nullptr) {
        p.addOption(value
                        ? QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(help),
                                             QString::fromLatin1(value))
                        : QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(help)));
    };
    opt("link",
        "Symbolic link to the port (default: ufd-sim-port in the program folder of ufd, which is "
        "beside this program or, installed, the user's data folder).",
        "PATH");
    opt("report", "Report storage served by 96..99 (default: a generated report file).", "FILE");
    opt("reports", "Reports in the generated report file (default 24).", "N");
    opt("seed", "Seed of the generated data (default 1).", "S");
    opt("curves", "Curves of the live record: dac, avg or none (default dac).", "KIND");
    opt("push-rate", "Send live records (code 20) unasked, HZ a second, while connected.", "HZ");
    opt("damage-every", "Every K-th read-block answer gets a wrong checksum.", "K");
    opt("drop-every", "Every K-th command goes unanswered.", "K");
    opt("fail-open", "Answer open-file with a failure status.");
    opt("fail-read", "Answer the K-th read-block command with a failure status.", "K");
    opt("split-every", "Send every K-th answer in two writes 60 ms apart.", "K");
    opt("late-read", "Hold the K-th read-block answer back (see --late-by).", "K");
    opt("late-by", "How long --late-read holds it back, MS milliseconds (default 3600).", "MS");
    opt("off-after",
        "Switch off after answering N commands: silent for --off-for, then as newly switched on.",
        "N");
    opt("off-for", "How long --off-after stays off, S seconds (default 5).", "S");
    opt("close-after", "Hang up after N commands, as a pulled adapter; a new line follows.", "N");
    opt("gone-for",
        "With --close-after: no line and no link for MS milliseconds before the new line, as an "
        "adapter out of its socket.",
        "MS");
    opt("baud", "Pace both directions at N Bd, 10 bits a byte (default 0: instant).", "N");
    opt("usb-ms",
        "Hand received bytes to the PC every MS milliseconds, as an adapter's latency timer.",
        "MS");
    opt("latency", "Think MS milliseconds before every answer.", "MS");
    // The name --latency had before; scripts still use it.
    QCommandLineOption delay(QStringLiteral("delay"), QString(), QStringLiteral("MS"));
    delay.setFlags(QCommandLineOption::HiddenFromHelp);
    p.addOption(delay);
    opt("verbose", "Report every command.");
    if (!p.parse(app.arguments()) || !p.positionalArguments().isEmpty()) {
        error = (p.positionalArguments().isEmpty()
                     ? p.errorText()
                     : QStringLiteral("unexpected argument '%1'").arg(p.positionalArguments()[0])) +
                QStringLiteral("\n") + p.helpText() + QLatin1String(kExitCodes);
        return Parsed::Refused;
    }
    if (p.isSet(helpOption)) {
        std::fputs(qPrintable(p.helpText() + QLatin1String(kExitCodes)), stdout);
        return Parsed::Shown;
    }
    if (p.isSet(version)) {
        std::fputs("ufd-sim " UFD_VERSION "\n", stdout);
        return Parsed::Shown;
    }

    if (p.isSet(QStringLiteral("link"))) {
        o.link = p.value(QStringLiteral("link"));
    } else {
        // Where the program looks for it: in its program folder, which for an installed program
        // is the user's data folder.
        ufd::app::setStationIdentity();
        o.link = ufd::app::stationFolders().program + QStringLiteral("ufd-sim-port");
    }
    o.report = p.value(QStringLiteral("report"));
    o.verbose = p.isSet(QStringLiteral("verbose"));
    o.faults.failOpen = p.isSet(QStringLiteral("fail-open"));
    int seed = 1;
    int latency = 0;
    int lateBy = static_cast<int>(o.faults.lateReadBy.count());
    int baud = 0;
    int goneFor = 0;
    if (!count(p, QStringLiteral("reports"), o.reports, error) ||
        !count(p, QStringLiteral("seed"), seed, error) ||
        !count(p, QStringLiteral("damage-every"), o.faults.damageReadEvery, error) ||
        !count(p, QStringLiteral("drop-every"), o.faults.dropEvery, error) ||
        !count(p, QStringLiteral("fail-read"), o.faults.failReadAt, error) ||
        !count(p, QStringLiteral("split-every"), o.faults.splitEvery, error) ||
        !count(p, QStringLiteral("close-after"), o.faults.closeAfter, error) ||
        !count(p, QStringLiteral("gone-for"), goneFor, error) ||
        !count(p, QStringLiteral("late-read"), o.faults.lateReadAt, error) ||
        !count(p, QStringLiteral("late-by"), lateBy, error) ||
        !count(p, QStringLiteral("off-after"), o.faults.offAfter, error) ||
        !count(p, QStringLiteral("baud"), baud, error) ||
        !count(p, QStringLiteral("usb-ms"), o.line.usbMs, error) ||
        !count(p, QStringLiteral("delay"), latency, error) ||
        !count(p, QStringLiteral("latency"), latency, error)) {
        return Parsed::Refused;
    }
    o.seed = static_cast<std::uint32_t>(seed);
    o.faults.answerDelay = std::chrono::milliseconds(latency);
    o.faults.lateReadBy = std::chrono::milliseconds(lateBy);
    o.line.baud = static_cast<std::uint32_t>(baud);
    o.faults.goneFor = std::chrono::milliseconds(goneFor);
    if (p.isSet(QStringLiteral("off-for"))) {
        bool ok = false;
        const double seconds = p.value(QStringLiteral("off-for")).toDouble(&ok);
        if (!ok || seconds < 0 || seconds > 86400) {
            error = QStringLiteral("--off-for wants seconds from 0 to 86400");
            return Parsed::Refused;
        }
        o.faults.offFor = std::chrono::milliseconds(std::llround(seconds * 1000));
    }
    if (p.isSet(QStringLiteral("push-rate"))) {
        bool ok = false;
        o.pushRate = p.value(QStringLiteral("push-rate")).toDouble(&ok);
        if (!ok || o.pushRate < 0 || o.pushRate > 1000) {
            error = QStringLiteral("--push-rate wants a rate from 0 to 1000 a second");
            return Parsed::Refused;
        }
    }
    const QString curves = p.value(QStringLiteral("curves")).toLower();
    if (curves == QLatin1String("avg")) {
        o.curves = ufd::demo::CurveSet::Avg;
    } else if (curves == QLatin1String("none")) {
        o.curves = ufd::demo::CurveSet::None;
    } else if (!curves.isEmpty() && curves != QLatin1String("dac")) {
        error = QStringLiteral("--curves wants dac, avg or none");
        return Parsed::Refused;
    }
    return Parsed::Run;
}

} // namespace

int main(int argc, char** argv) {
    // Blocked before any thread exists, so every thread inherits the mask and only sigwait below
    // takes them: the link is then always removed on the way out.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    QCoreApplication app(argc, argv);
    Options o;
    QString error;
    switch (parse(app, o, error)) {
    case Parsed::Run:
        break;
    case Parsed::Shown:
        return 0;
    case Parsed::Refused:
        std::fprintf(stderr, "ufd-sim: %s\n", qPrintable(error));
        return 2;
    }

    Instrument instrument;
    instrument.setSeed(o.seed);
    instrument.setLog(
        [](const std::string& text) { std::fprintf(stderr, "ufd-sim: %s\n", text.c_str()); },
        o.verbose);
    if (!o.report.isEmpty()) {
        QFile file(o.report);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "ufd-sim: %s: %s\n", qPrintable(o.report),
                         qPrintable(file.errorString()));
            return 1;
        }
        QByteArray image = file.readAll();
        if (file.error() != QFileDevice::NoError) {
            std::fprintf(stderr, "ufd-sim: %s: %s\n", qPrintable(o.report),
                         qPrintable(file.errorString()));
            return 1;
        }
        instrument.setReportImage(image.isNull() ? QByteArray("") : std::move(image));
    } else {
        instrument.setReportImage(ufd::demo::makeReportImage(o.reports, o.seed));
    }
    instrument.setCurveSet(o.curves);
    instrument.setPushRate(o.pushRate);
    instrument.setFaults(o.faults);
    instrument.setLine(o.line);

    std::string startError;
    if (!instrument.start(QDir::cleanPath(o.link).toStdString(), startError)) {
        std::fprintf(stderr, "ufd-sim: %s\n", startError.c_str());
        return 1;
    }
    // The link path alone on standard output, for scripts that start the simulator.
    std::printf("%s\n", instrument.linkPath().c_str());
    std::fflush(stdout);

    // Wakes once a second only to notice a worker that gave up (no new line could be opened).
    const timespec second{1, 0};
    bool signalled = false;
    while (!signalled && instrument.running()) {
        signalled = sigtimedwait(&stopSignals, nullptr, &second) > 0;
    }
    instrument.stop();
    return signalled ? 0 : 1;
}
