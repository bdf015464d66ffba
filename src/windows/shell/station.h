#pragma once

#include <QWidget>
#include <map>

class QLabel;
class QLineEdit;

namespace ufd::reports {
class DataStore;
}

namespace ufd::app {

class OperatorMessages;

// "Station": what this station gives every report it archives from now on (instrument, its
// serial number and calibration due date, location), kept with the archive under the station's
// name. Reports archived before keep what they were given.
class TFStation : public QWidget {
public:
    TFStation(reports::DataStore& store, OperatorMessages& messages, QWidget* parent = nullptr);

    // Stores the boxes; false, having said why, when the archive refuses them.
    bool saveClick();

    // The box of a station detail ("instrument", "instrument-serial", ...).
    QLineEdit* editor(const QString& field) const;
    QLabel* stateLabel() const { return state_; }

private:
    void load();

    reports::DataStore& store_;
    OperatorMessages& messages_;
    QString name_;
    std::map<QString, QLineEdit*> editors_;
    QLabel* state_ = nullptr;
};

} // namespace ufd::app
