#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

namespace ufd::documents {

// The text on each page of a PDF as this program's writer makes it, in drawing order, read back
// from the file: its cross-reference tables (an appended update included), page tree, content
// streams and the fonts' ToUnicode maps. Nothing, with `error` set, for a file it cannot read
// that way (not a PDF, damaged, or rewritten by a program that compresses its cross-reference),
// so that a check built on it fails closed.
std::optional<std::vector<QString>> pdfPageTexts(const QByteArray& pdf, QString& error);

} // namespace ufd::documents
