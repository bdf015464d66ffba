#pragma once

namespace ufd::app {

// What the main window needs from the serial side: the port window and its port-open flag, the
// connect button's action and closing the port on exit. The port window provides the real one;
// until it is created the main window behaves as with a port that was never opened.
class PortLink {
public:
    virtual ~PortLink() = default;

    virtual bool portOpen() const = 0;
    // "Port Setting": shows the port window (not modal).
    virtual void showPortWindow() = 0;
    // The connect button: connect or disconnect; only the instrument's answer changes the
    // link state, through TMainForm::setLinkConnected.
    virtual void connectClicked(bool linkConnected) = 0;
    // On exit; no disconnect command is sent.
    virtual void closePort() = 0;
};

} // namespace ufd::app
