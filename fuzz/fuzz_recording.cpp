// Recording files of any content: refused or played, never read beyond their end.
#include "core/online/recording.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ufd::online;
    const auto rec = Recording::parse(
        QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    if (rec) {
        (void)rec->dateText();
        (void)rec->playingTime();
        (void)rec->framePeriodMs();
        for (std::uint32_t k = 0; k < rec->frameCount() && k < 4; ++k) {
            (void)rec->decodeFrame(k);
        }
        (void)rec->decodeFrame(rec->frameCount() - 1);
    }
    return 0;
}
