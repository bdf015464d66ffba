#pragma once

namespace ufd::app {

class TMainForm;

// The port window as the main window's side of the serial link; the main window creates it at
// its first showing, before the login. Its port box offers the simulator's link in the program
// folder.
void registerPortWindow(TMainForm& form);

// What the dispatcher tells the operator through the main window: the link state on the
// instrument's answers, damaged answers in the clock panel, and its messages.
void connectDispatcher(TMainForm& form);

} // namespace ufd::app
