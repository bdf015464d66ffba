// The simulator's poll round trip: from writing a 48 command on the PC's side of the line to
// having read the whole 2,836-byte live answer. The instrument must manage this well within the
// 100 ms poll period; the target is under 2 ms.
#include "instrument.h"

#include "core/online/record.h"
#include "core/protocol/packet.h"

#include <benchmark/benchmark.h>

#include <array>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

void BM_SimPollRoundTrip(benchmark::State& state) {
    ufd::sim::Instrument sim;
    sim.setReportImage(QByteArray(4096, '\0')); // spare the generated report storage
    std::string error;
    if (!sim.start(std::string(), error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    const int fd = ::open(sim.slavePath().c_str(), O_RDWR | O_NOCTTY);
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);

    ufd::protocol::TxBuffer tx;
    tx.BuildCmdPacket(ufd::protocol::CmdOnlineRequest, 12);
    std::array<std::uint8_t, 8192> in{};
    for (auto _ : state) {
        if (::write(fd, tx.data(), 12) != 12) {
            state.SkipWithError("write failed");
            break;
        }
        std::size_t got = 0;
        while (got < ufd::online::kLivePacketSize) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 1000) <= 0) {
                state.SkipWithError("no answer within a second");
                break;
            }
            const ssize_t n = ::read(fd, in.data(), in.size());
            if (n <= 0) {
                state.SkipWithError("read failed");
                break;
            }
            got += static_cast<std::size_t>(n);
        }
        if (got != ufd::online::kLivePacketSize) {
            break;
        }
    }
    ::close(fd);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(ufd::online::kLivePacketSize));
}
BENCHMARK(BM_SimPollRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
