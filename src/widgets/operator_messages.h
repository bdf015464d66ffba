#pragma once

#include <QString>

namespace ufd::app {

// Every message box and Yes/No question of the program goes through this, so that tests answer
// them without a modal loop. The windows' implementation uses QMessageBox.
class OperatorMessages {
public:
    virtual ~OperatorMessages() = default;

    // A plain message box with a fixed text of the program.
    virtual void showMessage(const QString& text) = 0;
    // The general error display: a failure's own text (database, file, conversion errors).
    virtual void showError(const QString& text) = 0;
    // A Yes/No question; true for Yes.
    virtual bool askYesNo(const QString& title, const QString& text) = 0;
    // A confirmation with OK and Cancel; true for OK.
    virtual bool askOkCancel(const QString& text) = 0;
    // A question with Yes, No and Cancel, as before dropping unstored work. Where it is not
    // asked, the work is kept (Cancel).
    enum class Choice { Yes, No, Cancel };
    virtual Choice askYesNoCancel(const QString& /*title*/, const QString& /*text*/) {
        return Choice::Cancel;
    }
};

} // namespace ufd::app
