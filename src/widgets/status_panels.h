#pragma once

#include <QList>
#include <initializer_list>

class QBoxLayout;
class QLabel;
class QWidget;

namespace ufd::app {

class OperatorMessages;

// "Please set and open the communication port first!"
QString openPortFirstText();

// The first showing of a window that talks to the instrument: panel 0 tells whether the port is
// open, and a closed port is also said in a message box.
void announcePortState(bool portOpen, OperatorMessages& messages, QLabel* panel0);

// A child window's status bar ("StatusBar1"): text panels of the given widths, left to right,
// added at the bottom of `layout`; the first also takes the room left over. Returns the panels.
QList<QLabel*> addStatusPanels(QWidget* owner, QBoxLayout* layout,
                               std::initializer_list<int> widths);

} // namespace ufd::app
