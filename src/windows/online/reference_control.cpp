#include "windows/online/reference_control.h"

#include "core/archive/report_archive.h"
#include "core/reports/database.h"
#include "core/reports/report_display.h"
#include "widgets/operator_messages.h"
#include "windows/online/record_view.h"
#include "windows/online/reference_chooser.h"

#include <QAction>
#include <QMenu>
#include <QPushButton>

namespace ufd::online {

ReferenceControl::ReferenceControl(RecordView* view, app::OperatorMessages& messages,
                                   QWidget* window, std::function<QString()> freezeLabel)
    : QObject(window), view_(view), messages_(messages), window_(window),
      freezeLabel_(std::move(freezeLabel)) {
    reference_ = new QPushButton(QStringLiteral("Reference"), window);
    reference_->setObjectName(QStringLiteral("BitBtn_Reference"));
    reference_->setToolTip(QStringLiteral("An echo to compare the trace with"));
    clear_ = new QPushButton(QStringLiteral("Clear"), window);
    clear_->setObjectName(QStringLiteral("BitBtn_ClearReference"));
    clear_->setToolTip(QStringLiteral("Remove the reference echo"));
    auto* menu = new QMenu(reference_);
    QAction* freeze = menu->addAction(QStringLiteral("Freeze current trace"));
    archived_ = menu->addAction(QStringLiteral("Archived report..."));
    reference_->setMenu(menu);

    chooseReport_ = [this](QWidget* parent) -> std::optional<qint64> {
        ReferenceChooser chooser(*store_, parent);
        if (chooser.exec() != QDialog::Accepted || chooser.chosenId() < 0) {
            return std::nullopt;
        }
        return chooser.chosenId();
    };
    connect(freeze, &QAction::triggered, this, [this] { freezeClick(); });
    connect(archived_, &QAction::triggered, this, [this] { archivedClick(); });
    connect(clear_, &QPushButton::clicked, this, [this] { clearClick(); });
    enable();
}

void ReferenceControl::setArchive(reports::DataStore* store) {
    store_ = store;
    enable();
}

void ReferenceControl::enable() {
    archived_->setEnabled(store_ != nullptr);
    clear_->setEnabled(view_->reference().has_value());
}

bool ReferenceControl::freezeClick() {
    std::optional<ReferenceTrace> trace = view_->currentTrace(freezeLabel_());
    if (!trace) {
        messages_.showMessage(QStringLiteral("There is no trace on the screen to freeze yet."));
        return false;
    }
    view_->setReference(std::move(*trace));
    enable();
    return true;
}

bool ReferenceControl::archivedClick() {
    if (store_ == nullptr) {
        return false;
    }
    const std::optional<qint64> id = chooseReport_(window_);
    return id && useArchivedReport(*id);
}

bool ReferenceControl::useArchivedReport(qint64 id) {
    if (store_ == nullptr) {
        return false;
    }
    archive::ReportArchive archive(store_->archiveDb());
    const std::optional<archive::ArchivedReport> report = archive.fetch(id);
    if (!report) {
        messages_.showError(archive.lastError().isEmpty()
                                ? QStringLiteral("The archive holds no report %1.").arg(id)
                                : archive.lastError());
        return false;
    }
    const reports::ShowResult shown = reports::showCurrentReport(report->row, {});
    if (!shown.ok()) {
        messages_.showError(shown.error);
        return false;
    }
    const archive::ArchiveEntry& e = report->entry;
    QString label = e.fileName;
    if (e.fileDate.isValid()) {
        label += QLatin1Char(' ') + e.fileDate.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    }
    view_->setReference(reports::referenceFromReport(shown.display, label));
    enable();
    return true;
}

void ReferenceControl::clearClick() {
    view_->clearReference();
    enable();
}

} // namespace ufd::online
