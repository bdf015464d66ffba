#pragma once

#include <QWidget>

namespace ufd::app {

// The splash window shown while the program starts.
class Tlogo : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 600;
    static constexpr int kHeight = 319;

    explicit Tlogo(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* e) override;
};

} // namespace ufd::app
