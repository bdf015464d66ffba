#pragma once

#include <QList>
#include <initializer_list>

class QBoxLayout;
class QLabel;
class QWidget;

namespace ufd::app {

// A child window's status bar ("StatusBar1"): text panels of fixed widths, left to right,
// added at the bottom of `layout`. Returns the panels.
QList<QLabel*> addStatusPanels(QWidget* owner, QBoxLayout* layout,
                               std::initializer_list<int> widths);

} // namespace ufd::app
