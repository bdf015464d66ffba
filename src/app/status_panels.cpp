#include "app/status_panels.h"

#include "app/operator_messages.h"

#include <QBoxLayout>
#include <QLabel>
#include <QStatusBar>

namespace ufd::app {

void announcePortState(bool portOpen, OperatorMessages& messages, QLabel* panel0) {
    if (portOpen) {
        panel0->setText(QStringLiteral("Communication Port opened."));
    } else {
        messages.showMessage(QStringLiteral("Please set and open the communication port first!"));
        panel0->setText(QStringLiteral("Communication Port closed."));
    }
}

QList<QLabel*> addStatusPanels(QWidget* owner, QBoxLayout* layout,
                               std::initializer_list<int> widths) {
    auto* status = new QStatusBar(owner);
    status->setObjectName(QStringLiteral("StatusBar1"));
    status->setSizeGripEnabled(false);
    QList<QLabel*> panels;
    for (const int width : widths) {
        auto* panel = new QLabel(status);
        panel->setFixedWidth(width);
        status->addWidget(panel);
        panels.append(panel);
    }
    layout->addWidget(status);
    return panels;
}

} // namespace ufd::app
