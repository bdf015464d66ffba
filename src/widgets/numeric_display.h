#pragma once

#include <QWidget>

class QLabel;

namespace ufd::online {

// The pictures in front of the numeric displays.
enum class DisplayPicture {
    ArrowDown,
    ArrowDownRight,
    ArrowRight,
    Percent,
    DiameterMm,
    Decibel,
    Clock
};

QPixmap displayPicture(DisplayPicture kind, int size);

// A large numeric read-out with its picture in front.
class NumericDisplay : public QWidget {
public:
    NumericDisplay(DisplayPicture picture, QWidget* parent = nullptr);
    void setText(const QString& text);
    QString text() const;

private:
    QLabel* value_ = nullptr;
};

} // namespace ufd::online
