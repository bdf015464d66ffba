#include "widgets/icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace ufd::app {

namespace {

constexpr int kSize = 32;

const QColor kInk(40, 60, 90);
const QColor kBlue(40, 110, 200);
const QColor kGreen(30, 150, 70);
const QColor kRed(200, 50, 40);
const QColor kAmber(220, 150, 30);

void triangle(QPainter& p, double x, double dir, const QColor& c) {
    // dir > 0 points right.
    QPainterPath path;
    const double w = 10.0 * dir;
    path.moveTo(x, 8);
    path.lineTo(x + w, 16);
    path.lineTo(x, 24);
    path.closeSubpath();
    p.fillPath(path, c);
}

void drawWorkpiece(QPainter& p) {
    p.setPen(QPen(kInk, 2));
    p.setBrush(QColor(170, 185, 205));
    p.drawRect(5, 12, 22, 12);
    p.drawLine(5, 12, 11, 6);
    p.drawLine(27, 12, 31, 7);
    p.drawLine(11, 6, 31, 6);
    p.drawLine(31, 6, 31, 18);
    p.drawLine(27, 24, 31, 18);
    p.setPen(QPen(kRed, 2));
    p.drawLine(12, 18, 20, 18);
}

void drawUsers(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(120, 150, 190));
    p.drawEllipse(QPointF(21, 10), 5, 5);
    p.drawPie(QRectF(12, 15, 18, 18), 0, 180 * 16);
    p.setBrush(kBlue);
    p.drawEllipse(QPointF(12, 12), 5.5, 5.5);
    p.drawPie(QRectF(2, 18, 20, 20), 0, 180 * 16);
}

void drawPortSetting(QPainter& p) {
    // A 9-pin connector shell.
    QPainterPath shell;
    shell.moveTo(3, 9);
    shell.lineTo(29, 9);
    shell.lineTo(25, 23);
    shell.lineTo(7, 23);
    shell.closeSubpath();
    p.setPen(QPen(kInk, 2));
    p.setBrush(QColor(200, 205, 215));
    p.drawPath(shell);
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    for (int i = 0; i < 5; ++i) {
        p.drawEllipse(QPointF(8.0 + 4.0 * i, 13.5), 1.4, 1.4);
    }
    for (int i = 0; i < 4; ++i) {
        p.drawEllipse(QPointF(10.0 + 4.0 * i, 18.5), 1.4, 1.4);
    }
}

void drawPlug(QPainter& p, bool connected) {
    const QColor c = connected ? kGreen : kRed;
    p.setPen(QPen(kInk, 2));
    p.setBrush(c);
    // Left half.
    p.drawRoundedRect(QRectF(3, 11, 9, 10), 2, 2);
    p.drawLine(QPointF(12, 13.5), QPointF(connected ? 16 : 14, 13.5));
    p.drawLine(QPointF(12, 18.5), QPointF(connected ? 16 : 14, 18.5));
    // Right half.
    const double rx = connected ? 16 : 20;
    p.drawRoundedRect(QRectF(rx, 11, 9, 10), 2, 2);
    p.drawLine(QPointF(rx + 9, 16), QPointF(31, 16));
    p.drawLine(QPointF(0, 16), QPointF(3, 16));
    if (!connected) {
        p.setPen(QPen(kRed, 2));
        p.drawLine(QPointF(15, 6), QPointF(19, 26));
    }
}

void drawAscan(QPainter& p) {
    p.setPen(QPen(kInk, 2));
    p.setBrush(QColor(10, 30, 20));
    p.drawRect(3, 5, 26, 22);
    QPainterPath trace;
    trace.moveTo(5, 24);
    trace.lineTo(8, 24);
    trace.lineTo(9, 8);
    trace.lineTo(10, 24);
    trace.lineTo(17, 24);
    trace.lineTo(18, 15);
    trace.lineTo(19, 24);
    trace.lineTo(23, 24);
    trace.lineTo(24, 11);
    trace.lineTo(25, 24);
    trace.lineTo(27, 24);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(90, 230, 120), 1.5));
    p.drawPath(trace);
}

void drawUpload(QPainter& p) {
    p.setPen(QPen(kInk, 2));
    p.setBrush(QColor(235, 235, 225));
    p.drawRect(5, 4, 16, 22);
    p.setPen(QPen(QColor(150, 150, 150), 1));
    for (int y = 9; y < 22; y += 4) {
        p.drawLine(8, y, 18, y);
    }
    QPainterPath arrow;
    arrow.moveTo(22, 12);
    arrow.lineTo(22, 22);
    arrow.lineTo(17, 22);
    arrow.lineTo(24.5, 30);
    arrow.lineTo(32, 22);
    arrow.lineTo(27, 22);
    arrow.lineTo(27, 12);
    arrow.closeSubpath();
    p.setPen(Qt::NoPen);
    p.fillPath(arrow, kBlue);
}

void drawReplay(QPainter& p) {
    p.setPen(QPen(kInk, 2));
    p.setBrush(QColor(60, 60, 70));
    p.drawRoundedRect(QRectF(3, 7, 26, 18), 3, 3);
    p.setBrush(Qt::white);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 5; ++i) {
        p.drawRect(6 + 5 * i, 8, 2, 2);
        p.drawRect(6 + 5 * i, 22, 2, 2);
    }
    triangle(p, 13, 1.0, kAmber);
}

void drawReport(QPainter& p) {
    p.setPen(QPen(kInk, 2));
    p.setBrush(QColor(245, 245, 235));
    p.drawRect(6, 3, 20, 26);
    p.setPen(QPen(kGreen, 2));
    p.drawLine(9, 10, 23, 10);
    p.drawLine(9, 15, 23, 15);
    p.setPen(QPen(kRed, 2));
    p.drawLine(9, 20, 12, 24);
    p.drawLine(12, 24, 22, 18);
}

void drawExit(QPainter& p) {
    p.setPen(QPen(kInk, 2));
    p.setBrush(QColor(180, 140, 100));
    p.drawRect(4, 4, 14, 24);
    QPainterPath arrow;
    arrow.moveTo(12, 13);
    arrow.lineTo(22, 13);
    arrow.lineTo(22, 8);
    arrow.lineTo(30, 16);
    arrow.lineTo(22, 24);
    arrow.lineTo(22, 19);
    arrow.lineTo(12, 19);
    arrow.closeSubpath();
    p.setPen(Qt::NoPen);
    p.fillPath(arrow, kRed);
}

void drawNavigator(QPainter& p, Picture picture) {
    switch (picture) {
    case Picture::NavFirst:
        p.fillRect(QRectF(9, 8, 3, 16), kInk);
        triangle(p, 23, -1.0, kInk);
        break;
    case Picture::NavPrior:
        triangle(p, 21, -1.0, kInk);
        break;
    case Picture::NavNext:
        triangle(p, 11, 1.0, kInk);
        break;
    case Picture::NavLast:
        triangle(p, 9, 1.0, kInk);
        p.fillRect(QRectF(20, 8, 3, 16), kInk);
        break;
    case Picture::NavInsert:
        p.fillRect(QRectF(14, 7, 4, 18), kGreen);
        p.fillRect(QRectF(7, 14, 18, 4), kGreen);
        break;
    case Picture::NavDelete:
        p.fillRect(QRectF(7, 14, 18, 4), kRed);
        break;
    case Picture::NavEdit: {
        QPainterPath up;
        up.moveTo(8, 22);
        up.lineTo(16, 10);
        up.lineTo(24, 22);
        up.closeSubpath();
        p.fillPath(up, kBlue);
        break;
    }
    case Picture::NavPost:
        p.setPen(QPen(kGreen, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawLine(8, 17, 14, 23);
        p.drawLine(14, 23, 25, 9);
        break;
    case Picture::NavCancel:
        p.setPen(QPen(kRed, 4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(9, 9, 23, 23);
        p.drawLine(23, 9, 9, 23);
        break;
    case Picture::NavRefresh:
        p.setPen(QPen(kBlue, 3, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(8, 8, 16, 16), 30 * 16, 280 * 16);
        triangle(p, 21, 1.0, kBlue);
        break;
    default:
        break;
    }
}

} // namespace

QIcon drawnIcon(Picture picture) {
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    switch (picture) {
    case Picture::Workpiece:
        drawWorkpiece(p);
        break;
    case Picture::Users:
        drawUsers(p);
        break;
    case Picture::PortSetting:
        drawPortSetting(p);
        break;
    case Picture::Connected:
        drawPlug(p, true);
        break;
    case Picture::Disconnected:
        drawPlug(p, false);
        break;
    case Picture::Online:
        drawAscan(p);
        break;
    case Picture::Upload:
        drawUpload(p);
        break;
    case Picture::Replay:
        drawReplay(p);
        break;
    case Picture::Report:
        drawReport(p);
        break;
    case Picture::Exit:
        drawExit(p);
        break;
    default:
        drawNavigator(p, picture);
        break;
    }
    p.end();
    return QIcon(pixmap);
}

} // namespace ufd::app
