#include "widgets/message_boxes.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>

namespace ufd::app {

namespace {

QString applicationTitle() {
    return QCoreApplication::applicationName();
}

int run(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
        QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton) {
    QMessageBox box(icon, title, text, buttons, parent);
    box.setDefaultButton(defaultButton);
    return box.exec();
}

} // namespace

QWidget* MessageBoxOperatorMessages::parentWindow() const {
    if (QWidget* modal = QApplication::activeModalWidget()) {
        return modal;
    }
    if (QWidget* active = QApplication::activeWindow()) {
        return active;
    }
    return parent_.data();
}

void MessageBoxOperatorMessages::showMessage(const QString& text) {
    run(parentWindow(), QMessageBox::NoIcon, applicationTitle(), text, QMessageBox::Ok,
        QMessageBox::Ok);
}

void MessageBoxOperatorMessages::showError(const QString& text) {
    run(parentWindow(), QMessageBox::Critical, applicationTitle(), text, QMessageBox::Ok,
        QMessageBox::Ok);
}

bool MessageBoxOperatorMessages::askYesNo(const QString& title, const QString& text) {
    return run(parentWindow(), QMessageBox::Question, title, text,
               QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) == QMessageBox::Yes;
}

bool MessageBoxOperatorMessages::askOkCancel(const QString& text) {
    return run(parentWindow(), QMessageBox::Question, QStringLiteral("Confirm"), text,
               QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok) == QMessageBox::Ok;
}

OperatorMessages::Choice MessageBoxOperatorMessages::askYesNoCancel(const QString& title,
                                                                    const QString& text) {
    switch (run(parentWindow(), QMessageBox::Question, title, text,
                QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes)) {
    case QMessageBox::Yes:
        return Choice::Yes;
    case QMessageBox::No:
        return Choice::No;
    default:
        return Choice::Cancel;
    }
}

} // namespace ufd::app
