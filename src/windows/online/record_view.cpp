#include "windows/online/record_view.h"

#include "widgets/ascan_chart.h"
#include "widgets/numeric_display.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QValueAxis>

namespace ufd::online {

namespace {

struct SideRow {
    const char* label;
    const char* name;
};

// Side panel, top to bottom.
constexpr SideRow kSideRows[] = {
    {"Channel", "suiEdit_CH_No"},        {"Echo times", "suiEdit_EchoNum"},
    {"Rectiry", "suiEdit_Rectify"},      {"Probe Type", "suiEdit_ProbeType"},
    {"Probe Freq", "suiEdit_ProbeFreq"}, {"Probe Delay", "suiEdit_ProbeZero"},
    {"Probe Angle", "suiEdit_ProbeAng"}, {"Probe xValue", "suiEdit_ProbeFront"},
    {"Velocity", "suiEdit_SoundVel"},    {"Range", "suiEdit_Range"},
    {"D-delay", "suiEdit_dDelayms"},     {"Gate Logic", "suiEdit_GateLogic"},
};

} // namespace

RecordView::RecordView(Kind kind, QWidget* parent) : QWidget(parent) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(4, 4, 4, 4);

    auto* band = new QHBoxLayout;
    const DisplayPicture pictures[] = {DisplayPicture::ArrowDown,  DisplayPicture::ArrowDownRight,
                                       DisplayPicture::ArrowRight, DisplayPicture::Percent,
                                       DisplayPicture::DiameterMm, DisplayPicture::Decibel};
    const char* names[] = {"iAnalogDisplay3", "iAnalogDisplay1", "iAnalogDisplay2",
                           "iAnalogDisplay4", "iAnalogDisplay5", "iAnalogDisplay6"};
    for (std::size_t i = 0; i < 6; ++i) {
        displays_[i] = new NumericDisplay(pictures[i], this);
        displays_[i]->setObjectName(QString::fromLatin1(names[i]));
        band->addWidget(displays_[i]);
    }
    outer->addLayout(band);

    // The reference's readings: what it is, both gate A peaks, and how far apart they are.
    comparison_ = new QWidget(this);
    comparison_->setObjectName(QStringLiteral("ReferenceReadings"));
    auto* compare = new QGridLayout(comparison_);
    compare->setContentsMargins(0, 0, 0, 0);
    const SideRow rows[] = {{"Reference", "suiEdit_Reference"},
                            {"Gate A peak", "suiEdit_PeakLive"},
                            {"Reference peak", "suiEdit_PeakReference"},
                            {"Difference", "suiEdit_PeakDifference"}};
    int column = 0;
    for (const SideRow& r : rows) {
        addField(compare, 0, column, QString::fromLatin1(r.label), QString::fromLatin1(r.name));
        column += 2;
    }
    compare->setColumnStretch(1, 2);
    for (int c = 3; c < column; c += 2) {
        compare->setColumnStretch(c, 1);
    }
    comparison_->setVisible(false);
    outer->addWidget(comparison_);

    auto* middle = new QHBoxLayout;
    tabs_ = new QTabWidget(this);
    chart_ = new AScanChart(kind == Kind::Online ? QStringLiteral("Echo signal")
                                                 : QStringLiteral("Echo Signal"),
                            tabs_);
    tabs_->addTab(chart_, kind == Kind::Online ? QStringLiteral("Real-time data")
                                               : QStringLiteral("Waveform"));
    // The settings are shown, not edited.
    QWidget* params = buildParameterPage();
    params->setEnabled(false);
    tabs_->addTab(params, QStringLiteral("Parameter"));
    middle->addWidget(tabs_, 1);

    auto* sideBox = new QGroupBox(this);
    side_ = new QGridLayout(sideBox);
    side_->setVerticalSpacing(3);
    int row = 0;
    for (const SideRow& r : kSideRows) {
        QString label = QString::fromLatin1(r.label);
        if (kind == Kind::Replay && row == 1) {
            label = QStringLiteral("Num of echo");
        }
        addField(side_, row++, 0, label, QString::fromLatin1(r.name));
    }
    sideBox->setFixedWidth(230);
    middle->addWidget(sideBox);
    outer->addLayout(middle, 1);
}

QLineEdit* RecordView::addField(QGridLayout* grid, int row, int column, const QString& label,
                                const QString& objectName) {
    auto* edit = new QLineEdit(this);
    edit->setObjectName(objectName);
    edit->setReadOnly(true);
    fields_.insert(objectName, edit);
    grid->addWidget(new QLabel(label, this), row, column);
    grid->addWidget(edit, row, column + 1);
    return edit;
}

QLineEdit* RecordView::addSideField(const QString& label, const QString& objectName) {
    return addField(side_, side_->rowCount(), 0, label, objectName);
}

QWidget* RecordView::buildParameterPage() {
    auto* page = new QWidget(this);
    auto* layout = new QHBoxLayout(page);
    const auto group = [&](const QString& title, std::initializer_list<SideRow> rows) {
        auto* box = new QGroupBox(title, page);
        auto* grid = new QGridLayout(box);
        int r = 0;
        for (const SideRow& row : rows) {
            addField(grid, r++, 0, QString::fromUtf8(row.label), QString::fromLatin1(row.name));
        }
        grid->setRowStretch(r, 1);
        layout->addWidget(box);
    };
    group(QStringLiteral("Probe Information"), {{"Name", "suiEdit_ProbeName"},
                                                {"Zero", "suiEdit_ProbeZero1"},
                                                {"Angle", "suiEdit_ProbeAngle1"},
                                                {"Frequency", "suiEdit_ProbeFreq1"},
                                                {"Front", "suiEdit_ProbeFront1"},
                                                {"Type", "suiEdit_ProbeType1"},
                                                {"Diameter", "suiEdit_ProbeDia"},
                                                {"Size", "suiEdit_ProbeSize"}});
    group(QStringLiteral("Setting"), {{"Channel", "suiEdit_CH_No1"},
                                      {"Logic", "suiEdit_GateLogic1"},
                                      {"Range", "suiEdit_Range1"},
                                      {"Rectify", "suiEdit_Rectify1"},
                                      {"Velocity", "suiEdit_SoundVel1"},
                                      {"x-Delay", "suiEdit_dDelayms1"}});
    group(QStringLiteral("Gain"), {{"Basic Gain", "suiEdit_DB_Base"},
                                   {"Gain Step", "suiEdit_DB_Step"},
                                   {"Scan Gain", "suiEdit_DB_Scan"},
                                   {"Surface Gain", "suiEdit_DB_Surf"}});
    return page;
}

QLineEdit* RecordView::field(const QString& objectName) const {
    return fields_.value(objectName, nullptr);
}

void RecordView::showRecord(const InstrumentRecord& rec, CurveArrays& curves) {
    const RecordTexts t = recordTexts(rec);
    for (std::size_t i = 0; i < 6; ++i) {
        displays_[i]->setText(t.displays[i].text);
    }
    const auto set = [this](const char* name, const QString& text) {
        if (QLineEdit* e = field(QString::fromLatin1(name))) {
            e->setText(text);
        }
    };
    set("suiEdit_CH_No", t.channel);
    set("suiEdit_EchoNum", t.echoTimes);
    set("suiEdit_GateLogic", t.gateLogic);
    set("suiEdit_ProbeType", t.probeType);
    set("suiEdit_Rectify", t.rectify);
    set("suiEdit_ProbeFreq", t.probeFreq);
    set("suiEdit_Range", t.range);
    set("suiEdit_dDelayms", t.dDelay);
    set("suiEdit_SoundVel", t.velocity);
    set("suiEdit_ProbeAng", t.probeAngle);
    set("suiEdit_ProbeZero", t.probeDelay);
    set("suiEdit_ProbeFront", t.probeXValue);
    set("suiEdit_ProbeName", t.probeName);
    set("suiEdit_ProbeDia", t.probeDiameter);
    set("suiEdit_ProbeSize", t.probeSize);
    set("suiEdit_DB_Base", t.basicGain);
    set("suiEdit_DB_Step", t.gainStep);
    set("suiEdit_DB_Scan", t.scanGain);
    set("suiEdit_DB_Surf", t.surfaceGain);
    set("suiEdit_ProbeZero1", t.probeDelay);
    set("suiEdit_ProbeAngle1", t.probeAngle);
    set("suiEdit_ProbeFreq1", t.probeFreq);
    set("suiEdit_ProbeFront1", t.probeXValue);
    set("suiEdit_ProbeType1", t.probeType);
    set("suiEdit_CH_No1", t.channel);
    set("suiEdit_GateLogic1", t.gateLogic);
    set("suiEdit_Range1", t.range);
    set("suiEdit_Rectify1", t.rectify);
    set("suiEdit_SoundVel1", t.velocity);
    set("suiEdit_dDelayms1", t.dDelay);

    AScanFrame frame = drawRecord(rec, curves);
    const bool axisMoved =
        !shown_ || frame.geometry.x0 != geometry_.x0 || frame.geometry.x1 != geometry_.x1;
    geometry_ = frame.geometry;
    chart_->render(frame);
    shown_ = std::move(frame);
    if (reference_) {
        // The reference keeps its paths: it moves on the plot only when the axis does.
        if (axisMoved) {
            chart_->setReference(pointsOnAxis(reference_->trace, geometry_.x0, geometry_.x1));
        }
        showComparison();
    }
}

void RecordView::setReference(ReferenceTrace reference) {
    reference_ = std::move(reference);
    chart_->setReference(
        pointsOnAxis(reference_->trace, chart_->xAxis()->min(), chart_->xAxis()->max()));
    comparison_->setVisible(true);
    // What stays while the reference is shown; the live peak and the difference follow each
    // record.
    field(QStringLiteral("suiEdit_Reference"))->setText(reference_->label);
    field(QStringLiteral("suiEdit_PeakReference"))->setText(peakText(reference_->peak));
    showComparison();
}

void RecordView::clearReference() {
    reference_.reset();
    difference_ = {};
    chart_->setReference({});
    comparison_->setVisible(false);
}

std::optional<ReferenceTrace> RecordView::currentTrace(const QString& label) const {
    if (!shown_) {
        return std::nullopt;
    }
    return referenceFromFrame(*shown_, label);
}

void RecordView::showComparison() {
    const std::optional<EchoPeak> live =
        shown_ ? gatePeak(shown_->trace, shown_->gateA) : std::nullopt;
    difference_ = peakDifference(live, reference_->peak);
    field(QStringLiteral("suiEdit_PeakLive"))->setText(peakText(live));
    field(QStringLiteral("suiEdit_PeakDifference"))
        ->setText(difference_.dB ? differenceDbText(difference_) + QStringLiteral(", ") +
                                       differencePathText(difference_)
                                 : QString::fromLatin1(kNoPeakText));
}

} // namespace ufd::online
