// Commands that talk to the instrument over the serial line, through the same component,
// dispatcher and transfer objects the windows use.
#include "commands.h"

#include "core/context/app_context.h"

#include "core/online/live_recording.h"
#include "core/online/record.h"
#include "core/online/record_texts.h"
#include "core/protocol/dispatcher.h"
#include "core/protocol/poll_pacer.h"
#include "core/protocol/report_image.h"
#include "core/protocol/report_transfer.h"
#include "core/serial/comm.h"
#include "core/serial/instrument_port.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <ctime>
#include <memory>

namespace ufd::tool {

namespace {

// The program's own serial component and dispatcher, wired as the program wires them.
using Link = app::AppContext;

bool openLink(Link& link, const QStringList& args, Io io) {
    const QString port = optionValue(args, QStringLiteral("--port"));
    if (port.isEmpty()) {
        io.err << "ufdtool: --port PATH is required\n";
        return false;
    }
    bool ok = false;
    const QString baudText = optionValue(args, QStringLiteral("--baud"), QStringLiteral("921600"));
    const uint baud = baudText.toUInt(&ok);
    if (!ok || baud == 0) {
        io.err << "ufdtool: --baud must be a positive whole number\n";
        return false;
    }
    try {
        serial::openInstrumentPort(link.comm(), port, baud);
    } catch (const serial::ECommsError& e) {
        io.err << serial::withOpenFailureReason(
                      QStringLiteral("The communication port is invalid! (%1)")
                          .arg(QLatin1String(e.what())),
                      e)
               << "\n";
        return false;
    }
    const QString timeout = optionValue(args, QStringLiteral("--response-timeout"));
    if (!timeout.isEmpty()) {
        link.dispatcher().setResponseTimeout(std::max(1, timeout.toInt()));
    }
    return true;
}

int linkCommand(std::uint8_t code, const QStringList& args, Io io) {
    Link link;
    if (!openLink(link, args, io)) {
        return 1;
    }
    int rc = -1;
    QObject::connect(&link.dispatcher(), &protocol::Dispatcher::linkStateChanged,
                     [&](bool, const QString& text) {
                         io.out << text << "\n";
                         io.out.flush();
                         rc = 0;
                         QCoreApplication::exit(0);
                     });
    QObject::connect(&link.dispatcher(), &protocol::Dispatcher::communicationTimeout,
                     [&](const QString& text, quint32, bool gaveUp) {
                         io.err << text << "\n";
                         io.err.flush();
                         if (gaveUp) {
                             rc = 1;
                             QCoreApplication::exit(1);
                         }
                     });
    QObject::connect(&link.dispatcher(), &protocol::Dispatcher::lineGone, [&](const QString& text) {
        io.err << text << "\n";
        rc = 1;
        QCoreApplication::exit(1);
    });
    link.dispatcher().SendPublicCmd(code);
    if (rc < 0) {
        QCoreApplication::exec();
    }
    link.comm().ClosePort();
    return rc < 0 ? 1 : rc;
}

QJsonObject pairs(const std::vector<std::pair<QString, QString>>& list) {
    QJsonObject o;
    for (const auto& [label, text] : list) {
        o.insert(label, text);
    }
    return o;
}

} // namespace

int cmdConnect(const QStringList& args, Io io) {
    return linkCommand(protocol::CmdConnect, args, io);
}

int cmdDisconnect(const QStringList& args, Io io) {
    return linkCommand(protocol::CmdDisconnect, args, io);
}

int cmdUpload(const QStringList& args, Io io) {
    const QString out = optionValue(args, QStringLiteral("--out"));
    if (out.isEmpty()) {
        io.err << "usage: ufdtool upload --port PATH [--baud N] --out FILE [-v]\n";
        return 2;
    }
    Link link;
    if (!openLink(link, args, io)) {
        return 1;
    }
    const bool verbose = hasFlag(args, QStringLiteral("-v"));
    protocol::ReportTransfer transfer(link.dispatcher(), link.reportImage());
    transfer.setSaveTarget(out);

    QElapsedTimer wall;
    wall.start();
    const std::clock_t cpuStart = std::clock();
    int lastPercent = -1;
    bool saved = false;
    QString lastStatus;
    // The status panel repeats "Transferring data" for every block; a terminal shows a change.
    QObject::connect(&transfer, &protocol::ReportTransfer::statusText, [&](const QString& text) {
        if (text == lastStatus) {
            return;
        }
        lastStatus = text;
        io.out << text << "\n";
        io.out.flush();
    });
    // A message box that repeats the status text just printed adds nothing on a terminal.
    QObject::connect(&transfer, &protocol::ReportTransfer::operatorMessage,
                     [&](const QString& text) {
                         if (text != lastStatus) {
                             io.out << text << "\n";
                             io.out.flush();
                         }
                     });
    QObject::connect(&transfer, &protocol::ReportTransfer::progressChanged, [&](int pos, int max) {
        const int percent = max > 0 ? static_cast<int>(100LL * pos / max) : 0;
        if (percent != lastPercent && percent % 5 == 0) {
            lastPercent = percent;
            io.out << "Progress: " << percent << " % (" << pos << " of " << max << ")\n";
            io.out.flush();
        }
    });
    if (verbose) {
        QObject::connect(&link.dispatcher(), &protocol::Dispatcher::dataMonitorLine,
                         [&](const QString& line) {
                             io.out << line << "\n";
                             io.out.flush();
                         });
    }
    // Every end of the transfer comes here, the line's loss included.
    QObject::connect(&transfer, &protocol::ReportTransfer::finished, [&](bool ok) {
        saved = ok;
        QCoreApplication::exit(ok ? 0 : 1);
    });
    transfer.StartUpload();
    QCoreApplication::exec();
    link.dispatcher().stopResponseTimer();
    link.comm().ClosePort();

    const double seconds = static_cast<double>(wall.elapsed()) / 1000.0;
    const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    io.out << "Time taken: " << QString::number(seconds, 'f', 2) << " s, CPU "
           << QString::number(cpu, 'f', 2) << " s ("
           << QString::number(seconds > 0 ? 100.0 * cpu / seconds : 0.0, 'f', 1)
           << " % of one core)\n";
    if (saved) {
        io.out << "Saved: " << transfer.savedPath() << "\n";
    } else {
        io.err << "Upload failed: " << lastStatus << "\n";
    }
    return saved ? 0 : 1;
}

int cmdMonitor(const QStringList& args, Io io) {
    bool ok = true;
    const int count = optionValue(args, QStringLiteral("--count"), QStringLiteral("10")).toInt(&ok);
    bool secondsOk = true;
    const double seconds =
        optionValue(args, QStringLiteral("--seconds"), QStringLiteral("0")).toDouble(&secondsOk);
    const QString recordTo = optionValue(args, QStringLiteral("--record"));
    if (!ok || count < 1 || !secondsOk || seconds < 0 ||
        (hasFlag(args, QStringLiteral("--record")) && recordTo.isEmpty())) {
        io.err << "usage: ufdtool monitor --port PATH [--baud N] [--count N | --seconds S] "
                  "[--record FILE]\n";
        return 2;
    }
    // A recording is never written over: an existing file may be the only copy of a finding.
    if (!recordTo.isEmpty() && QFileInfo::exists(recordTo)) {
        io.err << "ufdtool: " << recordTo << " exists; choose another file\n";
        return 1;
    }
    Link link;
    if (!openLink(link, args, io)) {
        return 1;
    }
    online::TOnlineData online;
    int shown = 0;
    QElapsedTimer sinceAnswer;
    sinceAnswer.start();
    QElapsedTimer wall;
    wall.start();
    online::LiveRecorder recorder;
    bool recordFailed = false;
    if (!recordTo.isEmpty()) {
        recorder.startAt(recordTo, 1000.0 / protocol::PollPacer::kPeriodMs);
    }
    // The online window's pacing: every 100 ms, but never past an answer still on its way.
    protocol::PollPacer pacer(link.dispatcher());
    // Each answer goes into the recording before it is printed; false when it could not be kept.
    const auto record = [&](const std::uint8_t* liveRecord) {
        if (!recorder.recording()) {
            return true;
        }
        // The header follows the answer rate the pacer measures.
        recorder.setFrameRate(pacer.answerRate());
        if (recorder.take(liveRecord, wall.elapsed(), QDateTime::currentDateTime())) {
            return true;
        }
        io.err << recorder.lastError() << "\n";
        recordFailed = true;
        QCoreApplication::exit(1);
        return false;
    };
    QObject::connect(&link.dispatcher(), &protocol::Dispatcher::onlineData,
                     [&](const QByteArray& packet) {
                         const auto* p = reinterpret_cast<const std::uint8_t*>(packet.constData());
                         if (!online.decodeLivePacket(p, static_cast<std::size_t>(packet.size()))) {
                             return;
                         }
                         sinceAnswer.restart();
                         if (!record(p + 8)) {
                             return;
                         }
                         const online::RecordTexts t = online::recordTexts(online.decoded());
                         QJsonObject displays;
                         const char* names[] = {"depth",      "soundPath",  "horizontal",
                                                "echoHeight", "equivalent", "baseGain"};
                         for (std::size_t i = 0; i < 6; ++i) {
                             displays.insert(QLatin1String(names[i]), t.displays[i].text);
                         }
                         QJsonObject o;
                         o.insert(QStringLiteral("code"), packet.size() > 6 ? packet[6] : 0);
                         o.insert(QStringLiteral("displays"), displays);
                         o.insert(QStringLiteral("sidePanel"), pairs(t.sidePanel()));
                         o.insert(QStringLiteral("parameter"), pairs(t.parameterTab()));
                         io.out << QJsonDocument(o).toJson(QJsonDocument::Compact) << "\n";
                         io.out.flush();
                         if (seconds <= 0 && ++shown >= count) {
                             QCoreApplication::exit(0);
                         } else if (seconds > 0) {
                             ++shown;
                         }
                     });
    QObject::connect(&link.dispatcher(), &protocol::Dispatcher::lineGone, [&](const QString& text) {
        io.err << text << "\n";
        QCoreApplication::exit(1);
    });
    QTimer watch;
    watch.setInterval(100);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (sinceAnswer.elapsed() > 5000) {
            io.err << "No answer from the instrument.\n";
            QCoreApplication::exit(1);
        } else if (seconds > 0 && static_cast<double>(wall.elapsed()) >= seconds * 1000.0) {
            QCoreApplication::exit(0);
        }
    });
    watch.start();
    pacer.start();
    const int rc = QCoreApplication::exec();
    pacer.stop();
    watch.stop();
    link.comm().ClosePort();
    const double elapsed = static_cast<double>(wall.elapsed()) / 1000.0;
    io.err << shown << " answers in " << QString::number(elapsed, 'f', 1) << " s ("
           << QString::number(elapsed > 0 ? shown / elapsed : 0.0, 'f', 1) << " a second), "
           << pacer.polls() << " polls; the last answer came " << pacer.lastAnswerDelayMs()
           << " ms after its poll\n";
    if (!recordTo.isEmpty()) {
        // Closed whatever ended the run, a lost line included: the header counts every frame.
        const std::uint32_t frames = recorder.stop();
        if (frames > 0) {
            io.err << "Recorded " << frames << " frames in " << recordTo << "\n";
        } else if (!recordFailed) {
            io.err << "Nothing recorded: no live record came\n";
        }
        if (!recorder.lastError().isEmpty()) {
            if (!recordFailed) {
                io.err << recorder.lastError() << "\n";
            }
            return 1;
        }
    }
    return rc;
}

} // namespace ufd::tool
