#include "windows/shell/station.h"

#include "core/archive/report_records.h"
#include "core/reports/database.h"
#include "widgets/operator_messages.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace ufd::app {

TFStation::TFStation(reports::DataStore& store, OperatorMessages& messages, QWidget* parent)
    : QWidget(parent), store_(store), messages_(messages), name_(archive::stationName()) {
    setObjectName(QStringLiteral("TFStation"));
    setWindowTitle(QStringLiteral("Station"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* form = new QFormLayout;
    auto* name = new QLabel(name_, this);
    name->setObjectName(QStringLiteral("StationName"));
    name->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(QStringLiteral("Station"), name);
    for (const QString& field : archive::stationFields()) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QStringLiteral("Edit_") + field);
        edit->setMinimumWidth(240);
        editors_[field] = edit;
        form->addRow(archive::detailLabel(field), edit);
    }
    editors_[QLatin1String(archive::kCalibrationDue)]->setPlaceholderText(
        QStringLiteral("yyyy-MM-dd"));
    editors_[QLatin1String(archive::kLocation)]->setPlaceholderText(archive::defaultLocation());

    auto* note = new QLabel(QStringLiteral("Every report this station archives from now on takes "
                                           "these details over."),
                            this);
    note->setWordWrap(true);
    state_ = new QLabel(this);
    state_->setObjectName(QStringLiteral("StationState"));
    auto* save = new QPushButton(QStringLiteral("Save"), this);
    save->setObjectName(QStringLiteral("BitBtn_Save"));
    auto* quit = new QPushButton(QStringLiteral("Quit"), this);
    quit->setObjectName(QStringLiteral("BitBtn_Quit"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(state_, 1);
    buttons->addWidget(save);
    buttons->addWidget(quit);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(note);
    layout->addStretch(1);
    layout->addLayout(buttons);

    connect(save, &QPushButton::clicked, this, [this] { saveClick(); });
    connect(quit, &QPushButton::clicked, this, [this] { close(); });
    for (const auto& [field, edit] : editors_) {
        connect(edit, &QLineEdit::textEdited, state_, [this] { state_->clear(); });
    }
    load();
    resize(420, 260);
}

QLineEdit* TFStation::editor(const QString& field) const {
    const auto it = editors_.find(field);
    return it == editors_.end() ? nullptr : it->second;
}

void TFStation::load() {
    archive::ReportRecords records(store_.archiveDb());
    const archive::StationDetails station = records.station(name_);
    if (!records.lastError().isEmpty()) {
        messages_.showError(records.lastError());
    }
    for (const auto& [field, edit] : editors_) {
        const auto it = station.values.find(field);
        edit->setText(it == station.values.end() ? QString() : it->second);
    }
}

bool TFStation::saveClick() {
    archive::StationDetails station{name_, {}};
    for (const auto& [field, edit] : editors_) {
        station.values[field] = edit->text().trimmed();
    }
    archive::ReportRecords records(store_.archiveDb());
    if (!records.setStation(station)) {
        messages_.showError(records.lastError());
        return false;
    }
    state_->setText(QStringLiteral("Saved."));
    return true;
}

} // namespace ufd::app
