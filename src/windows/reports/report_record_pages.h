#pragma once

#include "core/archive/report_records.h"

#include <QTableWidget>
#include <QWidget>
#include <map>
#include <optional>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;

namespace ufd::reports {

// The "Details" page of an archived report: its number, examiner and checker, and the details,
// which change here (with a reason once the report is signed).
class RecordDetailsPage : public QWidget {
public:
    explicit RecordDetailsPage(QWidget* parent = nullptr);

    // Shows `record`, whose examiner holds `qualification`; nothing empties and disables the page.
    void showRecord(const std::optional<archive::ReportRecord>& record,
                    const QString& qualification);
    const std::optional<archive::ReportRecord>& shown() const { return shown_; }
    // The details whose boxes differ from the record shown.
    archive::DetailValues edited() const;
    QString reason() const;

    // The box of a detail: a QLineEdit, a QComboBox for the evaluation, a QPlainTextEdit for
    // the notes.
    QWidget* editor(const QString& field) const;
    QLineEdit* reasonBox() const { return reason_; }
    QPushButton* saveButton() const { return save_; }
    QLabel* numberLabel() const { return number_; }
    QLabel* examinerLabel() const { return examiner_; }
    QLabel* checkedLabel() const { return checked_; }

private:
    QString text(const QString& field) const;
    void setText(const QString& field, const QString& value);

    std::optional<archive::ReportRecord> shown_;
    std::map<QString, QWidget*> editors_;
    QLabel* number_ = nullptr;
    QLabel* examiner_ = nullptr;
    QLabel* checked_ = nullptr;
    QLabel* station_ = nullptr;
    QLabel* reasonLabel_ = nullptr;
    QLineEdit* reason_ = nullptr;
    QPushButton* save_ = nullptr;
};

// The "History" page: every event of an archived report, oldest first.
class RecordHistoryPage : public QTableWidget {
public:
    explicit RecordHistoryPage(QWidget* parent = nullptr);
    void showEvents(const std::vector<archive::HistoryEvent>& events);
};

// The name and password of the user who checks and signs.
struct SignCredentials {
    QString user;
    QString password;
};

// Asks for them, offering `users` other than the examiner; nothing when cancelled.
std::optional<SignCredentials> askSignCredentials(QWidget* parent, const QStringList& users,
                                                  const archive::ReportRecord& record);

} // namespace ufd::reports
