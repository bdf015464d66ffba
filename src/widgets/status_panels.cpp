#include "widgets/status_panels.h"

#include "widgets/operator_messages.h"

#include <QBoxLayout>
#include <QLabel>
#include <QStatusBar>

namespace ufd::app {

QString openPortFirstText() {
    return QStringLiteral("Please set and open the communication port first!");
}

void announcePortState(bool portOpen, OperatorMessages& messages, QLabel* panel0) {
    if (portOpen) {
        panel0->setText(QStringLiteral("Communication Port opened."));
    } else {
        messages.showMessage(openPortFirstText());
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
        // The first panel carries the status texts, some longer than its width (the final
        // time-out, a lost line): it takes whatever room the window has beside the others.
        if (panels.isEmpty()) {
            panel->setMinimumWidth(width);
            status->addWidget(panel, 1);
        } else {
            panel->setFixedWidth(width);
            status->addWidget(panel);
        }
        panels.append(panel);
    }
    layout->addWidget(status);
    return panels;
}

} // namespace ufd::app
