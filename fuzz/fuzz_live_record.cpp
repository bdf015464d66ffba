// Live packets of any content and length, then the curve algorithms on what they carry.
#include "core/online/curves.h"
#include "core/online/record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ufd::online;
    TOnlineData online;
    if (online.decodeLivePacket(data, size)) {
        const InstrumentRecord rec = online.decoded();
        computeCurves(rec, online.curves());
        CalcDacCurves(rec, kCurvePointCount, online.curves());
        CalcAvgCurves(rec, kCurvePointCount, online.curves());
        (void)rec.probeNameText().toUtf8();
    }
    return 0;
}
