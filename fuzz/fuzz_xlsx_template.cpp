// Spreadsheet templates of any content: refused with a message or filled, never a crash.
#include "reports/xlsx_template.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ufd::reports;
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const std::vector<SheetCell> cells{{1, 1, QStringLiteral("Ultrasonic Flaw Detect Report")},
                                       {2, 3, QStringLiteral("WELD-0001")},
                                       {10, 3, QStringLiteral("100.0mm")},
                                       {252, 18, QStringLiteral("100.20")}};
    const XlsxFillResult r = fillFirstSheet(bytes, cells);
    if (r.error.isEmpty()) {
        // What we wrote must open again.
        (void)fillFirstSheet(r.workbook, cells);
    }
    return 0;
}
