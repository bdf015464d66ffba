#include "windows/reports/report_browser_parts.h"

#include "core/reports/database.h"
#include "core/reports/report_display.h"
#include "widgets/ascan_chart.h"
#include "widgets/operator_messages.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSqlRecord>
#include <QSqlTableModel>
#include <QTableView>
#include <QValueAxis>
#include <initializer_list>

namespace ufd::reports {

namespace {

// One line of a field group: a label and one or two fields, an optional text between them.
struct FieldLine {
    const char* label;
    const char* column;
    const char* between = nullptr;
    const char* second = nullptr;
    const char* unit = nullptr; // shown after a single field, whose column holds only the number
};

struct FieldGroup {
    const char* title;
    std::initializer_list<FieldLine> lines;
};

const FieldGroup kProbeGroup{"Probe information",
                             {{"Name", "ProbeName"},
                              {"Frequency", "ProbeFreq", nullptr, nullptr, "MHz"},
                              {"Type", "ProbeType"},
                              {"Angle", "ProbeAng"},
                              {"Delay", "ProbeZero"},
                              {"xValue", "ProbeFront"},
                              {"Diameter", "ProbedSize"},
                              {"Size(cm)", "ProbehSize", "X", "ProbewSize"},
                              {"Damp", "ProbeDamp"},
                              {"Rectiry", "ProbeRectify"},
                              {"Scaling", "CoordType", "", "Flag_ProbeAng_En"}}};

const FieldGroup kDetectionGroup{"Flaw detection parameters",
                                 {{"Range", "mRange"},
                                  {"D-Delay", "dDelay"},
                                  {"Velocity", "SoundVel"},
                                  {"Base DB", "DB_Base"},
                                  {"Thickness", "ThickValue"},
                                  {"Diameter", "DiaValue"},
                                  {"DB Step", "DB_Step"},
                                  {"Scan DB", "DB_Scan"}}};

const FieldGroup kGateGroup{"Gate parameters",
                            {{"A Start", "GateA_Start"},
                             {"A Width", "GateA_Width"},
                             {"A Height", "GateA_Height"},
                             {"B Start", "GateB_Start"},
                             {"B Width", "GateB_Width"},
                             {"B Height", "GateB_Height"},
                             {"Gata Logic", "GateLogic"},
                             {"Gate Alarm", "GateAlert"}}};

const FieldGroup kResultGroup{"Detection result",
                              {{"Echo Path", "sValue"},
                               {"Horizontal distance", "pValue"},
                               {"Vertical distance", "dValue"},
                               {"Equivalent", "vERS"},
                               {"Echo Height", "hValue"},
                               {"Number of echo", "vEchoNum"},
                               {"Name of Report ", "FileName"},
                               {"Detection date", "FileDate"}}};

const FieldGroup kPulserGroup{"Pulser",
                              {{"Amplitude", "FPGA_FireEnergy"},
                               {"Pulse Width", "FPGA_DisChgTime"},
                               {"Pulse Freq", "FPGA_FireFreq"},
                               {"Echo Reject", "DB_Surface"}}};

const FieldGroup kDacGroup{"DAC",
                           {{"Velocity", "DAC_SoundVel"},
                            {"Number of samples", "DAC_SampleNum"},
                            {"Number of curves", "DAC_CurveNum"},
                            {"Offset of RL", "DAC_Offset0"},
                            {"Offset of SL", "DAC_Offset1"},
                            {"Offset of EL", "DAC_Offset2"},
                            {"Offset of No4", "DAC_Offset3"},
                            {"Offset of No5", "DAC_Offset4"},
                            {"Offset of No6", "DAC_Offset5"}}};

// The grid's columns: the column, and its title where it is not the column's own name.
struct GridColumn {
    const char* column;
    const char* title;
    int width; // in digits
};
constexpr GridColumn kGridColumns[] = {
    {"FileNum", "Num", 5},         {"FileName", "Report Name ", 14}, {"FileDate", "Date", 19},
    {"SoundVel", "Vel", 6},        {"mRange", "Range", 7},           {"DB_Base", "DB", 6},
    {"sValue", nullptr, 8},        {"pValue", nullptr, 8},           {"dValue", nullptr, 8},
    {"hValue", nullptr, 8},        {"FileData", nullptr, 24},        {"DAC_SampleNum", nullptr, 14},
    {"DAC_Offset0", nullptr, 12},  {"DAC_Offset1", nullptr, 12},     {"DAC_Offset2", nullptr, 12},
    {"DAC_CurveNum", nullptr, 13}, {"CurrveType", nullptr, 10},
};

QLineEdit* makeField(QWidget* parent, const QString& column) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QStringLiteral("DBEdit_") + column);
    e->setReadOnly(true);
    e->setMinimumWidth(60);
    return e;
}

QGroupBox* buildGroup(const FieldGroup& group, QWidget* parent,
                      std::map<QString, QLineEdit*>& fields) {
    auto* box = new QGroupBox(QString::fromLatin1(group.title), parent);
    auto* grid = new QGridLayout(box);
    grid->setVerticalSpacing(3);
    int row = 0;
    for (const FieldLine& line : group.lines) {
        grid->addWidget(new QLabel(QString::fromLatin1(line.label), box), row, 0);
        const QString first = QString::fromLatin1(line.column);
        QLineEdit* f = makeField(box, first);
        fields[first] = f;
        if (line.unit != nullptr) {
            grid->addWidget(f, row, 1, 1, 2);
            grid->addWidget(new QLabel(QString::fromLatin1(line.unit), box), row, 3);
        } else if (line.second == nullptr) {
            grid->addWidget(f, row, 1, 1, 3);
        } else {
            grid->addWidget(f, row, 1);
            if (line.between != nullptr && *line.between != '\0') {
                grid->addWidget(new QLabel(QString::fromLatin1(line.between), box), row, 2,
                                Qt::AlignCenter);
            }
            const QString second = QString::fromLatin1(line.second);
            QLineEdit* g = makeField(box, second);
            fields[second] = g;
            grid->addWidget(g, row, 3);
        }
        ++row;
    }
    grid->setRowStretch(row, 1);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    return box;
}

QWidget* buildPage(std::initializer_list<const FieldGroup*> groups,
                   std::map<QString, QLineEdit*>& fields) {
    auto* page = new QWidget;
    auto* row = new QHBoxLayout(page);
    for (const FieldGroup* g : groups) {
        row->addWidget(buildGroup(*g, page, fields), 1);
    }
    return page;
}

} // namespace

WorkpieceGroup::WorkpieceGroup(DataStore& store, QWidget* parent)
    : QGroupBox(QStringLiteral("Workpiece information"), parent), store_(store),
      number_(new QComboBox(this)) {
    setObjectName(QStringLiteral("GroupBox_Workpiece"));
    number_->setObjectName(QStringLiteral("ComboBox_PartID"));
    number_->setEditable(true);
    number_->setInsertPolicy(QComboBox::NoInsert);
    auto* grid = new QGridLayout(this);
    grid->setVerticalSpacing(3);
    grid->addWidget(new QLabel(QStringLiteral("Number"), this), 0, 0);
    grid->addWidget(number_, 0, 1);
    const char* labels[] = {
        "Name",         "Type",       "Material",        "Heat treatment method",
        "Roughness Ra", "Department", "Flaw description"};
    const char* names[] = {"PartName", "PartType", "Material", "Heat",
                           "Face",     "Mandator", "FlawInfo"};
    for (std::size_t i = 0; i < details_.size(); ++i) {
        const int row = static_cast<int>(i) + 1;
        grid->addWidget(new QLabel(QString::fromLatin1(labels[i]), this), row, 0);
        details_[i] = new QLineEdit(this);
        details_[i]->setObjectName(QStringLiteral("Edit_") + QString::fromLatin1(names[i]));
        grid->addWidget(details_[i], row, 1);
    }
    grid->setRowStretch(static_cast<int>(details_.size()) + 1, 1);
    connect(number_, &QComboBox::currentTextChanged, this,
            [this](const QString& number) { numberChanged(number); });
}

void WorkpieceGroup::fill(app::OperatorMessages& messages) {
    messages_ = &messages;
    QString error;
    const QStringList numbers = store_.workpieceNumbers(&error);
    if (!error.isEmpty()) {
        messages.showError(error);
    }
    QStringList usable;
    for (const QString& number : numbers) {
        if (!number.isEmpty()) {
            usable << number;
        }
    }
    {
        const QSignalBlocker quiet(number_);
        number_->clear();
        number_->addItems(usable);
        number_->setCurrentIndex(usable.isEmpty() ? -1 : 0);
    }
    if (!usable.isEmpty()) {
        numberChanged(usable.front());
    }
}

void WorkpieceGroup::numberChanged(const QString& number) {
    QString error;
    const auto found = store_.workpieceDetails(number, &error);
    if (!found) {
        if (!error.isEmpty() && messages_ != nullptr) {
            messages_->showError(error);
        }
        return;
    }
    const QString values[] = {found->PartName, found->PartType, found->Material, found->Heat,
                              found->Face,     found->Mandator, found->FlawInfo};
    for (std::size_t i = 0; i < details_.size(); ++i) {
        // A text longer than its field shows from its start, whole in the tool tip.
        details_[i]->setText(values[i]);
        details_[i]->setCursorPosition(0);
        details_[i]->setToolTip(values[i]);
    }
}

WorkpieceFields WorkpieceGroup::fields() const {
    WorkpieceFields w;
    w.number = number_->currentText();
    WorkpieceDetails& d = w.details;
    d.PartName = details_[0]->text();
    d.PartType = details_[1]->text();
    d.Material = details_[2]->text();
    d.Heat = details_[3]->text();
    d.Face = details_[4]->text();
    d.Mandator = details_[5]->text();
    d.FlawInfo = details_[6]->text();
    return w;
}

ReportFieldPages::ReportFieldPages(QWidget* owner)
    : parameter_(buildPage({&kProbeGroup, &kDetectionGroup, &kGateGroup}, fields_)),
      result_(buildPage({&kResultGroup, &kPulserGroup, &kDacGroup}, fields_)) {
    parameter_->setParent(owner);
    result_->setParent(owner);
}

void ReportFieldPages::showRow(const QSqlRecord& row) {
    for (auto& [column, field] : fields_) {
        field->setText(fieldText(row, column));
        field->setCursorPosition(0);
    }
}

QLineEdit* ReportFieldPages::field(const QString& column) const {
    const auto it = fields_.find(column);
    return it == fields_.end() ? nullptr : it->second;
}

ReportView::ReportView(QWidget* parent)
    : QTabWidget(parent), chart_(new online::AScanChart(QStringLiteral("Echo signal"))),
      fields_(std::make_unique<ReportFieldPages>(this)) {
    setObjectName(QStringLiteral("PageControl1"));
    chart_->setGateStyle(QStringLiteral("Gate A"), QStringLiteral("Gate B"), 2.0);
    addTab(chart_, QStringLiteral("Waveform"));
    // The field pages scroll in a small window rather than hold the whole window taller than
    // the main window's room, which would hide the plot's path axis below its edge.
    for (auto [page, title] : {std::pair{fields_->parameterPage(), "Parameter"},
                               std::pair{fields_->resultPage(), "Result"}}) {
        auto* scroll = new QScrollArea(this);
        scroll->setWidget(page);
        scroll->setWidgetResizable(true);
        scroll->setFrameShape(QFrame::NoFrame);
        addTab(scroll, QString::fromLatin1(title));
    }
    setCurrentIndex(0);
}

ReportView::~ReportView() = default;

void ReportView::showFields(const QSqlRecord& row) {
    fields_->showRow(row);
}

void ReportView::draw(const ReportDisplay& d) {
    chart_->setPathRange(d.xMin, d.xMax);
    chart_->yAxis()->setRange(d.yMin, d.yMax);
    chart_->traceSeries()->replace(d.trace);
    for (int k = 0; k < 3; ++k) {
        QLineSeries* s = chart_->curveSeries(k);
        s->replace(d.curves[static_cast<std::size_t>(k)]);
        s->setName(d.curveTitles[static_cast<std::size_t>(k)]);
        s->setVisible(d.curvesVisible);
    }
    chart_->gateASeries()->replace(d.gateA);
    chart_->gateASeries()->setVisible(d.gateAVisible);
    chart_->gateBSeries()->replace(d.gateB);
    chart_->gateBSeries()->setVisible(d.gateBVisible);
}

void MemoDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    // Enough characters to fill the cell however narrow the digits are; the rest is elided.
    const qsizetype room = option->rect.width() / 3 + 8;
    if (option->text.size() > room) {
        option->text.truncate(room);
    }
    option->displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    option->textElideMode = Qt::ElideRight;
}

QList<int> chosenRows(const QTableView* grid, int current) {
    QList<int> rows;
    for (const QModelIndex& index : grid->selectionModel()->selectedRows()) {
        rows << index.row();
    }
    if (rows.size() < 2) {
        rows.clear();
        if (current >= 0) {
            rows << current;
        }
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

void configureReportGrid(QTableView* grid, QSqlTableModel* model) {
    QHeaderView* header = grid->horizontalHeader();
    const QFontMetrics digits = grid->fontMetrics();
    for (int c = 0; c < model->columnCount(); ++c) {
        grid->setColumnHidden(c, true);
    }
    int visual = 0;
    for (const GridColumn& gc : kGridColumns) {
        const QString name = QString::fromLatin1(gc.column);
        const int c = model->fieldIndex(name);
        if (c < 0) {
            continue;
        }
        grid->setColumnHidden(c, false);
        model->setHeaderData(c, Qt::Horizontal,
                             gc.title != nullptr ? QString::fromLatin1(gc.title) : name);
        header->moveSection(header->visualIndex(c), visual++);
        grid->setColumnWidth(c, digits.horizontalAdvance(QString(gc.width, QLatin1Char('0'))) + 12);
        if (name == QLatin1String("FileData")) {
            grid->setItemDelegateForColumn(c, new MemoDelegate(grid));
        }
    }
    grid->verticalHeader()->setDefaultSectionSize(grid->fontMetrics().height() + 6);
}

} // namespace ufd::reports
