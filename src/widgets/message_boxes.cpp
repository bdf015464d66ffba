#include "widgets/message_boxes.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QGridLayout>
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
    fitMessageBoxTitle(box);
    return box.exec();
}

} // namespace

// A message box is as narrow as its text, and a title bar shortens a longer title
// ("Ultras… tector"): the box is made wide enough for its title beside the title bar's icon and
// buttons, at whatever font size the desktop uses.
void fitMessageBoxTitle(QMessageBox& box) {
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (grid == nullptr) {
        return;
    }
    const QFont font = QApplication::font("QMdiSubWindowTitleBar");
    const int wanted =
        QFontMetrics(font).horizontalAdvance(box.windowTitle()) + 12 * font.pointSize() + 40;
    grid->addItem(new QSpacerItem(wanted, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                  grid->rowCount(), 0, 1, grid->columnCount());
}

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
