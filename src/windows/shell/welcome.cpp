#include "windows/shell/welcome.h"

#include "core/context/version.h"

#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <cmath>

namespace ufd::app {

// A plain window, not a splash-screen type: window managers keep those above everything, and
// the login dialog must come up in front of it.
Tlogo::Tlogo(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("logo"));
    setFixedSize(kWidth, kHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.center() - QPoint(kWidth / 2, kHeight / 2));
    }
}

void Tlogo::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient sky(0, 0, 0, kHeight);
    sky.setColorAt(0.0, QColor(18, 44, 82));
    sky.setColorAt(1.0, QColor(6, 16, 34));
    p.fillRect(rect(), sky);

    // An A-scan across the lower part: initial pulse, a flaw echo and the back wall.
    const QRectF screen(40, 170, 520, 110);
    p.setPen(QPen(QColor(60, 110, 90), 1));
    for (int i = 0; i <= 10; ++i) {
        const double x = screen.left() + screen.width() * i / 10.0;
        p.drawLine(QPointF(x, screen.top()), QPointF(x, screen.bottom()));
    }
    for (int i = 0; i <= 4; ++i) {
        const double y = screen.top() + screen.height() * i / 4.0;
        p.drawLine(QPointF(screen.left(), y), QPointF(screen.right(), y));
    }
    auto echo = [](double x, double centre, double height, double width) {
        const double d = (x - centre) / width;
        return height * std::exp(-d * d) * std::abs(std::cos(d * 3.0));
    };
    QPainterPath trace;
    for (int i = 0; i <= 520; ++i) {
        const double x = i;
        const double noise = 2.0 * std::abs(std::sin(x * 1.7) * std::cos(x * 0.31));
        const double h = echo(x, 18, 105, 6) + echo(x, 250, 62, 7) + echo(x, 430, 88, 8) + noise;
        const QPointF point(screen.left() + x, screen.bottom() - std::min(h, screen.height()));
        if (i == 0) {
            trace.moveTo(point);
        } else {
            trace.lineTo(point);
        }
    }
    p.setPen(QPen(QColor(120, 255, 150), 1.6));
    p.drawPath(trace);
    p.setPen(QPen(QColor(255, 90, 70), 2));
    p.drawLine(QPointF(screen.left() + 215, screen.top() + 50),
               QPointF(screen.left() + 290, screen.top() + 50));

    QFont title = font();
    title.setPointSize(40);
    title.setBold(true);
    title.setItalic(true);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRectF(40, 28, 520, 70), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Tarvenix"));

    QFont subtitle = font();
    subtitle.setPointSize(16);
    subtitle.setItalic(true);
    p.setFont(subtitle);
    p.setPen(QColor(255, 120, 100));
    p.drawText(QRectF(44, 96, 520, 36), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Of Ultrsonic Flaw Detector"));

    QFont small = font();
    small.setPointSize(10);
    p.setFont(small);
    p.setPen(QColor(170, 190, 215));
    p.drawText(QRectF(40, 132, 520, 24), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral(UFD_VERSION_LABEL));

    p.setPen(QPen(QColor(90, 130, 180), 2));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(1, 1, kWidth - 2, kHeight - 2));
}

} // namespace ufd::app
