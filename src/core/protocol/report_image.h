#pragma once

#include <QByteArray>
#include <cstdint>

namespace ufd::protocol {

// The program's current report file: filled by the upload, or by opening a report file, and
// read by the report browser. One instance is shared by everybody who needs it.
class ReportImage {
public:
    const QByteArray& bytes() const { return bytes_; }
    qsizetype size() const { return bytes_.size(); }

    // A zero-filled image of `size` bytes.
    void reset(qsizetype size) { bytes_ = QByteArray(size, '\0'); }
    void assign(const QByteArray& bytes) { bytes_ = bytes; }

    // Copies `count` bytes to `pos`; refuses (and writes nothing) when they do not fit.
    bool write(qint64 pos, const std::uint8_t* src, qint64 count);

private:
    QByteArray bytes_;
};

} // namespace ufd::protocol
