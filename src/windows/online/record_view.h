#pragma once

#include "core/online/ascan_plot.h"
#include "core/online/record_texts.h"

#include <QHash>
#include <QWidget>
#include <array>

class QLineEdit;
class QTabWidget;
class QGridLayout;

namespace ufd::online {

class AScanChart;
class NumericDisplay;

// The screen both the online window and the replay window show a record on: six numeric
// displays, the plot and the "Parameter" tab, and the side panel of settings.
class RecordView : public QWidget {
public:
    enum class Kind { Online, Replay };
    explicit RecordView(Kind kind, QWidget* parent = nullptr);

    // Texts first, then the plot; the curve arrays are left cleared for the next record.
    void showRecord(const InstrumentRecord& rec, CurveArrays& curves);

    AScanChart* chart() const { return chart_; }
    QTabWidget* tabs() const { return tabs_; }
    NumericDisplay* display(int i) const { return displays_[static_cast<std::size_t>(i)]; }
    // The read-only field of that object name ("suiEdit_ProbeFreq", ...), or null.
    QLineEdit* field(const QString& objectName) const;
    const DisplayGeometry& geometry() const { return geometry_; }
    // Extra side-panel rows (the replay window's "Date" and "Time").
    QLineEdit* addSideField(const QString& label, const QString& objectName);

private:
    QWidget* buildParameterPage();
    QLineEdit* addField(QGridLayout* grid, int row, int column, const QString& label,
                        const QString& objectName);

    AScanChart* chart_ = nullptr;
    QTabWidget* tabs_ = nullptr;
    QGridLayout* side_ = nullptr;
    std::array<NumericDisplay*, 6> displays_{};
    DisplayGeometry geometry_;
    QHash<QString, QLineEdit*> fields_;
};

} // namespace ufd::online
