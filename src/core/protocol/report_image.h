#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace ufd::protocol {

// The program's current report file: filled by the upload, or by opening a report file, and
// read by the report browser. One instance is shared by everybody who needs it.
class ReportImage {
public:
    const QByteArray& bytes() const { return bytes_; }
    qsizetype size() const { return bytes_.size(); }

    // A zero-filled image of `size` bytes.
    void reset(qsizetype size) {
        bytes_ = QByteArray(size, '\0');
        source_.clear();
    }
    void assign(const QByteArray& bytes) {
        bytes_ = bytes;
        source_.clear();
    }
    // The file the image was read from or saved to; empty when it has none (yet).
    const QString& source() const { return source_; }
    void setSource(const QString& path) { source_ = path; }

    // Copies `count` bytes to `pos`; refuses (and writes nothing) when they do not fit.
    bool write(qint64 pos, const std::uint8_t* src, qint64 count);

private:
    QByteArray bytes_;
    QString source_;
};

} // namespace ufd::protocol
