#include "core/documents/report_verification.h"

#include "core/accounts/user_accounts.h"
#include "core/archive/report_records.h"
#include "core/documents/pdf_text.h"
#include "core/documents/report_document.h"
#include "core/documents/report_page_content.h"
#include "core/reports/database.h"

#include <QFile>
#include <map>

namespace ufd::documents {

namespace {

constexpr QChar kEllipsis(0x2026);

QString squeezed(const QString& s) {
    QString out;
    out.reserve(s.size());
    for (const QChar c : s) {
        if (!c.isSpace()) {
            out += c;
        }
    }
    return out;
}

// Where `t` ends when the text at `at` is `t`, or `t` cut short with an ellipsis as a box too
// narrow draws it; -1 when it is neither.
qsizetype matchAt(const QString& text, qsizetype at, const QString& t) {
    if (QStringView(text).mid(at).startsWith(t)) {
        return at + t.size();
    }
    qsizetype k = 0;
    while (k < t.size() && at + k < text.size() && text[at + k] == t[k]) {
        ++k;
    }
    return at + k < text.size() && text[at + k] == kEllipsis ? at + k + 1 : -1;
}

// The end of `block` drawn from `at` on, its texts one after the other; -1 when it is not.
qsizetype blockAt(const QString& text, qsizetype at, const std::vector<PrintedText>& block) {
    bool open = false;
    for (const PrintedText& p : block) {
        const QString t = squeezed(p.text);
        if (t.isEmpty()) {
            open = open || p.open;
            continue;
        }
        if (open) {
            // Whatever the page draws before the next text is not compared.
            qsizetype found = text.indexOf(t, at);
            if (found < 0) {
                found = text.indexOf(t.left(1), at);
            }
            qsizetype end = -1;
            while (found >= 0 && end < 0) {
                end = matchAt(text, found, t);
                if (end < 0) {
                    found = text.indexOf(t.left(1), found + 1);
                }
            }
            at = end;
        } else {
            at = matchAt(text, at, t);
        }
        if (at < 0) {
            return -1;
        }
        open = p.open;
    }
    return at;
}

// True when the page's text holds the record's blocks in their order.
bool printsRecord(const QString& pageText, const PageRecord& record) {
    const QString text = squeezed(pageText);
    qsizetype at = 0;
    for (const auto& block : printedRecord(record)) {
        const QString first = squeezed(block.front().text);
        qsizetype end = -1;
        for (qsizetype found = text.indexOf(first, at); found >= 0 && end < 0;
             found = text.indexOf(first, found + 1)) {
            end = blockAt(text, found, block);
        }
        if (end < 0) {
            return false;
        }
        at = end;
    }
    return true;
}

// Each state the record was in before its last change, by its hash: the change that ended it.
// The history keeps every change with its old value, so the states come back by undoing the
// changes from the newest on.
std::map<QString, archive::HistoryEvent>
earlierStates(const archive::ReportRecord& current,
              const std::vector<archive::HistoryEvent>& events) {
    std::map<QString, archive::HistoryEvent> out;
    archive::ReportRecord state = current;
    for (std::size_t i = events.size(); i-- > 1;) {
        const archive::HistoryEvent& e = events[i];
        if (e.event != QLatin1String(archive::kEventChanged)) {
            continue;
        }
        state.details[e.field] = e.oldValue;
        state.revision = events[i - 1].revision;
        out[state.hash()] = e;
    }
    return out;
}

QString changeText(const archive::HistoryEvent& e) {
    QString text = QStringLiteral("%1 changed %2 on %3 UTC")
                       .arg(e.user, archive::detailLabel(e.field).toLower(),
                            e.at.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    if (!e.reason.isEmpty()) {
        text += QStringLiteral(" (%1)").arg(e.reason);
    }
    return text;
}

} // namespace

bool PdfVerification::ok() const {
    if (!error.isEmpty()) {
        return false;
    }
    for (const PageCheck& p : pages) {
        if (!p.problem.isEmpty()) {
            return false;
        }
    }
    return true;
}

PdfVerification verifyReportsPdf(const QString& path, reports::DataStore& store) {
    PdfVerification out;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        out.error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return out;
    }
    QString why;
    const auto texts = pdfPageTexts(file.readAll(), why);
    if (!texts) {
        out.error = QStringLiteral("%1: %2").arg(path, why);
        return out;
    }
    const std::vector<ReportIdentity> named = reportsInPdf(path);
    archive::ReportRecords records(store.archiveDb());
    app::UserAccounts users(store.userDb());
    for (std::size_t i = 0; i < texts->size(); ++i) {
        PageCheck check;
        check.page = static_cast<int>(i) + 1;
        const ReportIdentity* id = i < named.size() ? &named[i] : nullptr;
        if (!id || id->hash.isEmpty()) {
            check.problem = QStringLiteral("unknown report: the page names no archived report");
            out.pages.push_back(check);
            continue;
        }
        check.report = QStringLiteral("%1 %2").arg(
            archive::reportNumber(id->archiveId, id->revision), id->name);
        const auto record = records.recordByHash(id->hash);
        if (!record) {
            if (!records.lastError().isEmpty()) {
                out.error = records.lastError();
                return out;
            }
            check.problem = QStringLiteral("unknown report: the archive holds no report %1")
                                .arg(id->hash.left(16));
        } else if (record->revision != id->revision || record->hash() != id->recordHash) {
            const auto events = records.history(record->archiveId);
            if (!events) {
                out.error = records.lastError();
                return out;
            }
            const auto states = earlierStates(*record, *events);
            const auto earlier = states.find(id->recordHash);
            if (earlier == states.end() || id->revision > record->revision) {
                check.problem = QStringLiteral("altered content: the page's record is no state "
                                               "of the report's revision %1 in the archive")
                                    .arg(id->revision);
            } else {
                check.problem =
                    id->revision == record->revision
                        ? QStringLiteral("amended since: revision %1 changed after the page was "
                                         "made, before it was signed; %2")
                              .arg(id->revision)
                              .arg(changeText(earlier->second))
                        : QStringLiteral("amended since: the page shows revision %1, the archive "
                                         "holds revision %2; %3")
                              .arg(id->revision)
                              .arg(record->revision)
                              .arg(changeText(earlier->second));
            }
        } else {
            const PageRecord page{*record, users.level(record->examiner).value_or(QString())};
            if (!printsRecord((*texts)[i], page)) {
                PageRecord unsigned_ = page;
                unsigned_.record.signature.reset();
                check.problem =
                    record->signature && printsRecord((*texts)[i], unsigned_)
                        ? QStringLiteral("signed since: the page says not checked, the archive "
                                         "has it checked by %1")
                              .arg(archive::checkedText(record->signature))
                        : QStringLiteral("altered content: what the page prints is not the "
                                         "archive's record of revision %1")
                              .arg(id->revision);
            }
        }
        out.pages.push_back(check);
    }
    return out;
}

} // namespace ufd::documents
