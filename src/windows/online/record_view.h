#pragma once

#include "core/online/ascan_plot.h"
#include "core/online/record_texts.h"
#include "core/online/reference.h"

#include <QHash>
#include <QWidget>
#include <array>
#include <optional>

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

    // The echo to compare with: drawn under every record on the record's own axis, and the
    // readings of the gate A peaks and their difference shown above the plot until cleared.
    void setReference(ReferenceTrace reference);
    void clearReference();
    const std::optional<ReferenceTrace>& reference() const { return reference_; }
    // What is on the plot now, as a reference; nothing before the first record.
    std::optional<ReferenceTrace> currentTrace(const QString& label) const;
    const PeakDifference& difference() const { return difference_; }

private:
    void showComparison();
    QWidget* buildParameterPage();
    QLineEdit* addField(QGridLayout* grid, int row, int column, const QString& label,
                        const QString& objectName);

    AScanChart* chart_ = nullptr;
    QTabWidget* tabs_ = nullptr;
    QGridLayout* side_ = nullptr;
    std::array<NumericDisplay*, 6> displays_{};
    DisplayGeometry geometry_;
    QHash<QString, QLineEdit*> fields_;
    std::optional<AScanFrame> shown_; // the record on the plot
    std::optional<ReferenceTrace> reference_;
    PeakDifference difference_;
    QWidget* comparison_ = nullptr; // the reference's readings, shown with a reference only
};

} // namespace ufd::online
