#include "windows/shell/about.h"

#include "core/context/version.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QVBoxLayout>

namespace ufd::app {

void closeChildWindow(QWidget* child) {
    if (auto* frame = qobject_cast<QMdiSubWindow*>(child->parentWidget())) {
        frame->close();
    } else {
        child->close();
    }
}

TFAbout::TFAbout(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("FAbout"));
    setWindowTitle(QStringLiteral("About"));
    resize(380, 260);

    auto* product = new QLabel(QStringLiteral("Tarvenix"), this);
    QFont big = product->font();
    big.setBold(true);
    big.setItalic(true);
    big.setPointSizeF(big.pointSizeF() * 2.2);
    product->setFont(big);

    auto* line = new QLabel(QStringLiteral("Of Ultrsonic Flaw Detector"), this);
    QFont sub = line->font();
    sub.setBold(true);
    sub.setItalic(true);
    sub.setPointSizeF(sub.pointSizeF() * 1.3);
    line->setFont(sub);
    line->setStyleSheet(QStringLiteral("color: red;"));

    auto* rule = new QFrame(this);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);

    auto* version = new QLabel(QStringLiteral("Version   :   " UFD_VERSION_LABEL), this);
    auto* release = new QLabel(QStringLiteral("Release   :   2026-11"), this);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("OKButton"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, [this] { closeChildWindow(this); });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 18, 24, 14);
    layout->addWidget(product);
    layout->addWidget(line);
    layout->addSpacing(6);
    layout->addWidget(rule);
    layout->addSpacing(6);
    layout->addWidget(version);
    layout->addWidget(release);
    layout->addStretch();
    layout->addLayout(buttons);
}

} // namespace ufd::app
