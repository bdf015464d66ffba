#pragma once

#include "demo/demo_data.h"

#include <QByteArray>
#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace ufd::sim {

// Faults the instrument commits on request. A count of 0 switches its fault off.
struct Faults {
    int damageReadEvery = 0;              // every K-th read-block answer carries a wrong checksum
    int dropEvery = 0;                    // every K-th command goes unanswered
    bool failOpen = false;                // open-file answers carry a failure status
    int failReadAt = 0;                   // the K-th read-block command of a line fails
    int splitEvery = 0;                   // every K-th answer goes out in two writes with a pause
    int closeAfter = 0;                   // the line hangs up once N commands have been handled
    std::chrono::milliseconds goneFor{0}; // after a hang-up, no line (and no link) this long
    std::chrono::milliseconds answerDelay{0}; // every answer waits this long (its latency)
    int lateReadAt = 0;                       // the K-th read-block answer of a line comes late
    std::chrono::milliseconds lateReadBy{3600};
    int offAfter = 0; // switched off once N commands have been handled, on again after offFor
    std::chrono::milliseconds offFor{5000};
};

struct Settings {
    Faults faults;
    demo::CurveSet curves = demo::CurveSet::Dac;
    QByteArray reportImage; // the instrument's report storage
};

// What the instrument does with each command: its state (link, report file, read position) and
// the answer packet, with the faults applied. Knows nothing of the line.
class Responder {
public:
    static constexpr std::uint8_t kStatusOk = 0;
    static constexpr std::uint8_t kStatusFailed = 1;
    static constexpr std::uint32_t kMaxBlock = 4096;

    struct Reply {
        std::string packet;     // empty: the command goes unanswered
        bool split = false;     // send in two parts with a pause between them
        bool hangUp = false;    // close the line once this command is dealt with
        bool switchOff = false; // the instrument goes off once this command is answered
        std::chrono::milliseconds holdBack{0}; // on top of the usual latency
        std::string note;                      // what happened, for the log
    };

    explicit Responder(std::uint32_t seed) : rng_(seed) {}

    // `command` is a complete command with a good checksum.
    Reply handle(const std::vector<std::uint8_t>& command, const Settings& settings);

    // A live record packet of the current screen; each call shows the next one.
    std::string onlinePacket(std::uint8_t code, demo::CurveSet curves);

    // A new line is a freshly started instrument: no link, no open file, counts from zero.
    void reset();

    bool connected() const { return connected_; }

private:
    std::string fileAnswer(const std::vector<std::uint8_t>& command, const Settings& settings,
                           std::string& note);

    std::mt19937 rng_;
    bool connected_ = false;
    bool fileOpen_ = false;
    QByteArray file_; // the image as it was when the file was opened
    std::uint32_t position_ = 0;
    long long commands_ = 0;
    long long answers_ = 0;
    long long reads_ = 0;
    long long frames_ = 0;
};

} // namespace ufd::sim
