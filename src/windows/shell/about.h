#pragma once

#include <QWidget>

namespace ufd::app {

// "About": product name, version and release date.
class TFAbout : public QWidget {
    Q_OBJECT
public:
    explicit TFAbout(QWidget* parent = nullptr);
};

// Closes a child window: its frame in the main window, or the widget itself when it has none.
void closeChildWindow(QWidget* child);

} // namespace ufd::app
