// PDF files of any content, as `ufdtool verify` is given them: read or refused, never read
// beyond their end, never looping on a cycle of references.
#include "core/documents/pdf_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QString error;
    const auto pages = ufd::documents::pdfPageTexts(
        QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)), error);
    if (!pages && error.isEmpty()) {
        __builtin_trap(); // a refusal always says why
    }
    return 0;
}
