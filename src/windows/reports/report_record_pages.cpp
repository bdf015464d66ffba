#include "windows/reports/report_record_pages.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace ufd::reports {

namespace {

constexpr char kStamp[] = "yyyy-MM-dd hh:mm:ss";

QLabel* valueLabel(QWidget* parent, const char* name) {
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

} // namespace

RecordDetailsPage::RecordDetailsPage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("DetailsPage"));
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(6, 6, 6, 6);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(4);

    number_ = valueLabel(this, "RecordNumber");
    examiner_ = valueLabel(this, "RecordExaminer");
    checked_ = valueLabel(this, "RecordChecked");
    station_ = valueLabel(this, "RecordStation");
    const auto heading = [this](const QString& text) {
        auto* label = new QLabel(text, this);
        QFont bold = label->font();
        bold.setBold(true);
        label->setFont(bold);
        return label;
    };
    grid->addWidget(heading(QStringLiteral("Report No.")), 0, 0);
    grid->addWidget(number_, 0, 1);
    grid->addWidget(heading(QStringLiteral("Examiner")), 0, 2);
    grid->addWidget(examiner_, 0, 3);
    grid->addWidget(heading(QStringLiteral("Checked by")), 1, 0);
    grid->addWidget(checked_, 1, 1);
    grid->addWidget(heading(QStringLiteral("Station")), 1, 2);
    grid->addWidget(station_, 1, 3);

    // The examiner's details on the left, the station's on the right, the notes below both.
    const QStringList fields = archive::detailFields();
    int left = 2;
    int right = 2;
    for (const QString& field : fields) {
        if (field == QLatin1String(archive::kNotes)) {
            continue;
        }
        QWidget* editor = nullptr;
        if (field == QLatin1String(archive::kEvaluation)) {
            auto* box = new QComboBox(this);
            box->addItems(archive::evaluations());
            editor = box;
        } else {
            auto* edit = new QLineEdit(this);
            if (field == QLatin1String(archive::kCalibrationDue)) {
                edit->setPlaceholderText(QStringLiteral("yyyy-MM-dd"));
            } else if (field == QLatin1String(archive::kLocation)) {
                edit->setPlaceholderText(archive::defaultLocation());
            }
            editor = edit;
        }
        editor->setObjectName(QStringLiteral("Detail_") + field);
        editors_[field] = editor;
        const bool station = archive::stationFields().contains(field);
        int& row = station ? right : left;
        grid->addWidget(new QLabel(archive::detailLabel(field), this), row, station ? 2 : 0);
        grid->addWidget(editor, row, station ? 3 : 1);
        ++row;
    }
    int row = std::max(left, right);
    auto* notes = new QPlainTextEdit(this);
    notes->setObjectName(QStringLiteral("Detail_notes"));
    notes->setTabChangesFocus(true);
    notes->setMinimumHeight(48);
    editors_[QLatin1String(archive::kNotes)] = notes;
    grid->addWidget(new QLabel(archive::detailLabel(QLatin1String(archive::kNotes)), this), row, 0,
                    Qt::AlignTop);
    grid->addWidget(notes, row, 1, 1, 3);
    grid->setRowStretch(row, 1);
    ++row;

    reasonLabel_ = new QLabel(QStringLiteral("Reason"), this);
    reason_ = new QLineEdit(this);
    reason_->setObjectName(QStringLiteral("DetailReason"));
    save_ = new QPushButton(QStringLiteral("Save details"), this);
    save_->setObjectName(QStringLiteral("BitBtn_SaveDetails"));
    grid->addWidget(reasonLabel_, row, 0);
    grid->addWidget(reason_, row, 1, 1, 2);
    grid->addWidget(save_, row, 3, Qt::AlignRight);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    showRecord(std::nullopt, {});
}

QWidget* RecordDetailsPage::editor(const QString& field) const {
    const auto it = editors_.find(field);
    return it == editors_.end() ? nullptr : it->second;
}

QString RecordDetailsPage::text(const QString& field) const {
    QWidget* w = editor(field);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        return edit->text().trimmed();
    }
    if (auto* box = qobject_cast<QComboBox*>(w)) {
        return box->currentText();
    }
    if (auto* notes = qobject_cast<QPlainTextEdit*>(w)) {
        return notes->toPlainText().trimmed();
    }
    return {};
}

void RecordDetailsPage::setText(const QString& field, const QString& value) {
    QWidget* w = editor(field);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        edit->setText(value);
        edit->setCursorPosition(0);
    } else if (auto* box = qobject_cast<QComboBox*>(w)) {
        box->setCurrentIndex(std::max(0, box->findText(value)));
    } else if (auto* notes = qobject_cast<QPlainTextEdit*>(w)) {
        notes->setPlainText(value);
    }
}

void RecordDetailsPage::showRecord(const std::optional<archive::ReportRecord>& record,
                                   const QString& qualification) {
    shown_ = record;
    for (const QString& field : archive::detailFields()) {
        setText(field, record ? record->value(field) : QString());
    }
    if (!record) {
        // An evaluation left at the combo's first entry would read as "accept".
        setText(QLatin1String(archive::kEvaluation), QLatin1String(archive::kNotEvaluated));
    }
    number_->setText(record ? record->number() : QString());
    examiner_->setText(record ? archive::examinerText(record->examiner, qualification) : QString());
    checked_->setText(record ? archive::checkedText(record->signature) : QString());
    station_->setText(record ? record->station : QString());
    reason_->clear();
    const bool isSigned = record && record->signature;
    reasonLabel_->setText(isSigned ? QStringLiteral("Reason (required)")
                                   : QStringLiteral("Reason"));
    reason_->setPlaceholderText(
        isSigned ? QStringLiteral("The report is signed: a change makes revision %1")
                       .arg(record->revision + 1)
                 : QString());
    setEnabled(record.has_value());
}

archive::DetailValues RecordDetailsPage::edited() const {
    archive::DetailValues out;
    if (!shown_) {
        return out;
    }
    for (const QString& field : archive::detailFields()) {
        const QString now = text(field);
        if (now != shown_->value(field)) {
            out[field] = now;
        }
    }
    return out;
}

QString RecordDetailsPage::reason() const {
    return reason_->text().trimmed();
}

RecordHistoryPage::RecordHistoryPage(QWidget* parent) : QTableWidget(parent) {
    setObjectName(QStringLiteral("HistoryPage"));
    const QStringList titles{
        QStringLiteral("Time (UTC)"), QStringLiteral("User"),   QStringLiteral("Event"),
        QStringLiteral("Revision"),   QStringLiteral("Detail"), QStringLiteral("Old value"),
        QStringLiteral("New value"),  QStringLiteral("Reason"), QStringLiteral("Record hash")};
    setColumnCount(static_cast<int>(titles.size()));
    setHorizontalHeaderLabels(titles);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    verticalHeader()->setVisible(false);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    horizontalHeader()->setStretchLastSection(true);
    setColumnWidth(0, 140);
    setColumnWidth(3, 60);
}

void RecordHistoryPage::showEvents(const std::vector<archive::HistoryEvent>& events) {
    setRowCount(0);
    setRowCount(static_cast<int>(events.size()));
    int row = 0;
    for (const archive::HistoryEvent& e : events) {
        const QStringList texts{e.at.toString(QLatin1String(kStamp)),
                                e.user,
                                e.event,
                                QString::number(e.revision),
                                e.field.isEmpty() ? QString() : archive::detailLabel(e.field),
                                e.oldValue,
                                e.newValue,
                                e.reason,
                                e.hash};
        for (int c = 0; c < texts.size(); ++c) {
            auto* item = new QTableWidgetItem(texts[c]);
            item->setToolTip(texts[c]);
            setItem(row, c, item);
        }
        ++row;
    }
    resizeColumnsToContents();
    for (int c = 0; c + 1 < columnCount(); ++c) {
        setColumnWidth(c, std::min(columnWidth(c), 260));
    }
    if (row > 0) {
        scrollToBottom(); // the latest event
    }
}

std::optional<SignCredentials> askSignCredentials(QWidget* parent, const QStringList& users,
                                                  const archive::ReportRecord& record) {
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("SignDialog"));
    dialog.setWindowTitle(QStringLiteral("Check and sign"));
    auto* form = new QFormLayout;
    auto* user = new QComboBox(&dialog);
    user->setEditable(true);
    for (const QString& name : users) {
        if (name != record.examiner) {
            user->addItem(name);
        }
    }
    auto* password = new QLineEdit(&dialog);
    password->setEchoMode(QLineEdit::Password);
    form->addRow(QStringLiteral("Report No."), new QLabel(record.number(), &dialog));
    form->addRow(QStringLiteral("Examiner"), new QLabel(record.examiner, &dialog));
    form->addRow(QStringLiteral("User Name"), user);
    form->addRow(QStringLiteral("Password"), password);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addLayout(form);
    layout->addWidget(buttons);
    password->setFocus();
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return SignCredentials{user->currentText(), password->text()};
}

} // namespace ufd::reports
