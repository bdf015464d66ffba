// Long runs that a person reads the figures of: the online window polling ufd-sim at 10 Hz
// (CPU share, memory and the longest gap between answers over the run, optionally recording
// all of it) and replay at 20 frames per second (frame intervals).
//   online_soak poll PORT [SECONDS [record]]   PORT: the simulator's link
//   online_soak replay [SECONDS]
#include "core/protocol/dispatcher.h"
#include "core/serial/comm.h"
#include "core/serial/instrument_port.h"
#include "demo/demo_data.h"
#include "widgets/operator_messages.h"
#include "windows/online/online_window.h"
#include "windows/online/record_view.h"
#include "windows/online/recording_control.h"
#include "windows/online/replay_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <numeric>
#include <vector>

using namespace ufd;

namespace {

class Silent : public app::OperatorMessages {
public:
    void showMessage(const QString& t) override { std::fprintf(stderr, "%s\n", qPrintable(t)); }
    void showError(const QString& t) override { std::fprintf(stderr, "%s\n", qPrintable(t)); }
    bool askYesNo(const QString&, const QString&) override { return true; }
    bool askOkCancel(const QString&) override { return true; }
};

// Resident memory in KiB (Linux).
long residentKiB() {
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QList<QByteArray> parts = f.readAll().split(' ');
    return parts.size() > 1 ? parts[1].toLong() * 4 : -1;
}

double cpuSeconds() {
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

int poll(const QString& port, int seconds, bool record) {
    serial::TComm comm;
    serial::configureForInstrument(comm);
    serial::openInstrumentPort(comm, port, 921600);
    protocol::Dispatcher dispatcher(
        [&comm](const std::uint8_t* d, std::uint16_t n) { return comm.WriteData(d, n); });
    QObject::connect(&comm, &serial::TComm::OnReceiveData, &dispatcher,
                     &protocol::Dispatcher::CommReceiveData);
    Silent messages;
    auto* window = new online::TSssj(
        dispatcher, [] { return true; }, messages);
    window->show();
    QTemporaryDir records;
    window->setRecordFolder(records.path());
    int answers = 0;
    // The longest time between two answers shown: what a slowed view would lengthen.
    QElapsedTimer sinceAnswer;
    double longestGapMs = 0;
    QObject::connect(&dispatcher, &protocol::Dispatcher::onlineData, [&] {
        ++answers;
        if (sinceAnswer.isValid()) {
            longestGapMs =
                std::max(longestGapMs, static_cast<double>(sinceAnswer.nsecsElapsed()) / 1e6);
        }
        sinceAnswer.restart();
    });
    window->BitBtn_StartClick();

    // Warm up for two seconds, then measure.
    long rssStart = 0;
    double cpuStart = 0;
    int answersStart = 0;
    QElapsedTimer wall;
    QTimer::singleShot(2000, [&] {
        rssStart = residentKiB();
        cpuStart = cpuSeconds();
        answersStart = answers;
        longestGapMs = 0;
        wall.start();
        if (record) {
            window->recording()->recordClick();
        }
    });
    QTimer::singleShot(2000 + seconds * 1000, [] { QCoreApplication::exit(0); });
    QApplication::exec();
    const double elapsed = static_cast<double>(wall.elapsed()) / 1000.0;
    const double cpu = cpuSeconds() - cpuStart;
    std::printf("polled for %.1f s: %d answers shown (%.1f a second)\n", elapsed,
                answers - answersStart, (answers - answersStart) / elapsed);
    std::printf("CPU %.2f s = %.1f %% of one core\n", cpu, 100.0 * cpu / elapsed);
    std::printf("resident memory %ld KiB at the start, %ld KiB at the end\n", rssStart,
                residentKiB());
    std::printf("longest time between two answers: %.1f ms\n", longestGapMs);
    if (record) {
        window->recording()->stopClick();
        std::printf("%s (%lld bytes)\n", qPrintable(window->recording()->statusText()),
                    QFileInfo(window->recording()->recorder().path()).size());
    }
    window->BitBtn_StopClick();
    delete window;
    comm.ClosePort();
    return 0;
}

int replay(int seconds) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("soak.Rec"));
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(demo::makeRecording(static_cast<std::uint32_t>(seconds * 20 + 20), 200, 7));
    f.close();
    Silent messages;
    online::ReplayState state;
    online::TFYaokong window(state, messages, dir.path());
    window.setFileChooser([path](QWidget*, const QString&) { return path; });
    window.show();
    window.sbtOpenVideoClick();
    std::vector<double> intervals;
    QElapsedTimer clock;
    QObject::connect(window.timer(), &QTimer::timeout, [&] {
        if (clock.isValid()) {
            intervals.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        }
        clock.restart();
    });
    window.sbtPlayClick();
    QTimer::singleShot(seconds * 1000, [] { QCoreApplication::exit(0); });
    QApplication::exec();
    if (intervals.empty()) {
        std::printf("no frames played\n");
        return 1;
    }
    const double mean = std::accumulate(intervals.begin(), intervals.end(), 0.0) /
                        static_cast<double>(intervals.size());
    std::sort(intervals.begin(), intervals.end());
    std::printf("%zu frame intervals: mean %.2f ms, median %.2f ms, 99th percentile %.2f ms, "
                "worst %.2f ms (period %d ms)\n",
                intervals.size(), mean, intervals[intervals.size() / 2],
                intervals[intervals.size() * 99 / 100], intervals.back(),
                window.timer()->interval());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 3 && args[1] == QLatin1String("poll")) {
        return poll(args[2], args.size() > 3 ? args[3].toInt() : 60,
                    args.size() > 4 && args[4] == QLatin1String("record"));
    }
    if (args.size() >= 2 && args[1] == QLatin1String("replay")) {
        return replay(args.size() > 2 ? args[2].toInt() : 30);
    }
    std::fprintf(stderr, "usage: online_soak poll PORT [SECONDS [record]] | online_soak replay "
                         "[SECONDS]\n");
    return 2;
}
