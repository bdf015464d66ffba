#pragma once

#include "widgets/operator_messages.h"

#include <QPointer>
#include <QWidget>

class QMessageBox;

namespace ufd::app {

// Widens a message box so that its title is not shortened in the title bar.
void fitMessageBoxTitle(QMessageBox& box);

// The operator messages as modal message boxes over the active window.
class MessageBoxOperatorMessages final : public OperatorMessages {
public:
    explicit MessageBoxOperatorMessages(QWidget* parent = nullptr) : parent_(parent) {}
    void setParentWindow(QWidget* parent) { parent_ = parent; }

    void showMessage(const QString& text) override;
    void showError(const QString& text) override;
    bool askYesNo(const QString& title, const QString& text) override;
    bool askOkCancel(const QString& text) override;
    Choice askYesNoCancel(const QString& title, const QString& text) override;

private:
    QWidget* parentWindow() const;

    QPointer<QWidget> parent_;
};

} // namespace ufd::app
