#include "core/protocol/report_image.h"

#include <cstring>

namespace ufd::protocol {

bool ReportImage::write(qint64 pos, const std::uint8_t* src, qint64 count) {
    if (pos < 0 || count < 0 || pos > bytes_.size() || count > bytes_.size() - pos) {
        return false;
    }
    if (count > 0) {
        std::memcpy(bytes_.data() + pos, src, static_cast<std::size_t>(count));
    }
    return true;
}

} // namespace ufd::protocol
