#pragma once

#include <QString>
#include <vector>

namespace ufd::reports {
class DataStore;
}

namespace ufd::documents {

// One page of a report PDF against the archive.
struct PageCheck {
    int page = 0;    // from 1
    QString report;  // "17-R2 WELD-0003", as far as the page names it
    QString problem; // empty: the page is its report's current revision, as the archive holds it
};

struct PdfVerification {
    QString error; // the file could not be checked at all
    std::vector<PageCheck> pages;
    bool ok() const;
};

// Checks every page of the report PDF at `path` against the archive of `store`: the report its
// metadata names must be archived, the page's revision must be the current one, and the record
// the page prints (number, details, examiner, checker, statement) must be the archive's. A page
// says why when it differs: amended since, signed since, unknown report, altered content.
PdfVerification verifyReportsPdf(const QString& path, reports::DataStore& store);

} // namespace ufd::documents
