#pragma once

#include "core/serial/port_discovery.h"
#include "windows/serial/port_link.h"

#include <QWidget>
#include <cstdint>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTimer;

namespace ufd::app {
class OperatorMessages;
}
namespace ufd::protocol {
class Dispatcher;
}

namespace ufd::serial {

class TComm;

inline constexpr char kPortWindowCaption[] = "Communication Port ";
// The simulator's link in the program folder; listed in the port box while it exists.
inline constexpr char kSimulatorLinkName[] = "ufd-sim-port";

// A rectangular indicator lamp.
class TiLedRectangle : public QWidget {
    Q_OBJECT
public:
    explicit TiLedRectangle(QWidget* parent = nullptr);
    bool active() const { return active_; }
    void setActive(bool on);
    QSize sizeHint() const override { return {34, 18}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool active_ = false;
};

// "Communication Port ": the operator picks a port and a speed and opens or closes the port.
// Lives for the whole run, hidden when closed; the port-open flag it keeps is what the other
// windows ask before they address the instrument.
class Tcksz : public QWidget, public app::PortLink {
    Q_OBJECT
public:
    // How often the port list is read again while the window shows.
    static constexpr int kPortRefreshMs = 1000;

    // The port box lists the machine's serial devices (from `devices`) and `simulatorLink`
    // when it exists.
    Tcksz(TComm& comm, protocol::Dispatcher& dispatcher, app::OperatorMessages& messages,
          const QString& simulatorLink, QWidget* parent = nullptr,
          DeviceEnumerator devices = systemDevices);
    ~Tcksz() override;

    bool portOpen() const override;
    void showPortWindow() override;
    // The dispatcher knows the link state itself; the flag it is handed is the same one.
    void connectClicked(bool linkConnected) override;
    void closePort() override;

    void suiButtonOpenCommClick();
    // A change of port (or, through ComboBox2Change, of speed) while the port is open reopens
    // it with the new choice.
    void ComboBox1Change();
    void ComboBox2Change();

    // Reads the port list again; an adapter plugged in or pulled shows without a restart. The
    // text in the box, chosen or typed, stays.
    void refreshPorts();
    // What opening takes for the box's text: the entry's location, or the text as typed.
    QString portLocation() const;
    // The port's name for the box's text ("ttyUSB0" for "ttyUSB0 — USB serial"), or the text as
    // typed.
    QString portName() const;

    QComboBox* portBox() const { return ComboBox1_; }
    QTimer* portRefresh() const { return portRefresh_; }
    QComboBox* speedBox() const { return ComboBox2_; }
    QComboBox* parityBox() const { return ComboBox3_; }
    QPushButton* openButton() const { return suiButtonOpenComm_; }
    bool lampLit() const;
    QString statusText() const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void FormShow();
    void buildLegacyControls();
    // The speed box as a number; false after the conversion error went to the error display.
    bool readSpeed(std::uint32_t& baudRate);
    void showOpened();
    void showReopened(const QString& location);
    void showClosed();
    void setStatus(const QString& text);
    // As wide as the longest port entry and the status text need, within the screen.
    void fitWidth();

    TComm& comm_;
    protocol::Dispatcher& dispatcher_;
    app::OperatorMessages& messages_;
    bool centred_ = false;
    QString simulatorLink_;
    DeviceEnumerator devices_;
    QList<PortEntry> entries_;
    int entriesWidth_ = 0; // what the longest entry needs
    QTimer* portRefresh_ = nullptr;

    QComboBox* ComboBox1_ = nullptr;
    QComboBox* ComboBox2_ = nullptr;
    QComboBox* ComboBox3_ = nullptr;
    TiLedRectangle* iLedRectangle1_ = nullptr;
    QPushButton* suiButtonOpenComm_ = nullptr;
    QLabel* statusPanel_ = nullptr;
    // Holds the port-open flag; never shown.
    QCheckBox* CheckBox1_ = nullptr;
};

// The two failure messages: the button's ends with "!", the change handlers' does not.
QString invalidPortText();
QString invalidPortOnChangeText();
// What the general error display shows for a speed text that is not a whole number.
QString notAnIntegerText(const QString& text);

} // namespace ufd::serial
