#include "widgets/numeric_display.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>

namespace ufd::online {

namespace {

void arrow(QPainter& p, QPointF from, QPointF to) {
    p.drawLine(from, to);
    const QLineF shaft(to, from);
    for (const qreal turn : {30.0, -30.0}) {
        QLineF head = shaft;
        head.setLength(shaft.length() * 0.35);
        head.setAngle(shaft.angle() + turn);
        p.drawLine(head);
    }
}

} // namespace

QPixmap displayPicture(DisplayPicture kind, int size) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink(20, 70, 140);
    p.setPen(QPen(ink, size / 12.0, Qt::SolidLine, Qt::RoundCap));
    const qreal m = size * 0.18;
    const qreal e = size - m;
    QFont font = p.font();
    font.setBold(true);
    switch (kind) {
    case DisplayPicture::ArrowDown:
        arrow(p, {size / 2.0, m}, {size / 2.0, e});
        break;
    case DisplayPicture::ArrowDownRight:
        arrow(p, {m, m}, {e, e});
        break;
    case DisplayPicture::ArrowRight:
        arrow(p, {m, size / 2.0}, {e, size / 2.0});
        break;
    case DisplayPicture::Percent:
        font.setPixelSize(static_cast<int>(size * 0.7));
        p.setFont(font);
        p.drawText(pm.rect(), Qt::AlignCenter, QStringLiteral("%"));
        break;
    case DisplayPicture::DiameterMm:
        font.setPixelSize(static_cast<int>(size * 0.42));
        p.setFont(font);
        p.drawText(QRectF(0, 0, size, size * 0.55), Qt::AlignCenter, QStringLiteral("\u2300"));
        p.drawText(QRectF(0, size * 0.45, size, size * 0.55), Qt::AlignCenter,
                   QStringLiteral("mm"));
        break;
    case DisplayPicture::Decibel:
        font.setPixelSize(static_cast<int>(size * 0.5));
        p.setFont(font);
        p.drawText(pm.rect(), Qt::AlignCenter, QStringLiteral("dB"));
        break;
    case DisplayPicture::Clock: {
        const QRectF face(m, m, e - m, e - m);
        p.drawEllipse(face);
        p.drawLine(face.center(), face.center() + QPointF(0, -face.height() * 0.35));
        p.drawLine(face.center(), face.center() + QPointF(face.width() * 0.25, 0));
        break;
    }
    }
    return pm;
}

NumericDisplay::NumericDisplay(DisplayPicture picture, QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(4);
    auto* pic = new QLabel(this);
    pic->setPixmap(displayPicture(picture, 28));
    value_ = new QLabel(QStringLiteral("0"), this);
    value_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    value_->setMinimumWidth(96);
    value_->setStyleSheet(QStringLiteral(
        "QLabel { background: #0b1a10; color: #5cff7a; border: 1px solid #3a4a3e; "
        "border-radius: 3px; padding: 2px 6px; font-family: monospace; font-size: 20px; "
        "font-weight: bold; }"));
    layout->addWidget(pic);
    layout->addWidget(value_, 1);
}

void NumericDisplay::setText(const QString& text) {
    value_->setText(text);
}

QString NumericDisplay::text() const {
    return value_->text();
}

} // namespace ufd::online
