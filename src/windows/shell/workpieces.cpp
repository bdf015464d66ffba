#include "windows/shell/workpieces.h"

#include "core/context/app_context.h"
#include "core/reports/database.h"
#include "widgets/data_link.h"
#include "widgets/record_navigator.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QSqlTableModel>
#include <QStatusBar>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <array>

namespace ufd::app {

namespace {

struct PartColumn {
    const char* column;
    const char* gridTitle; // null: the column's own name
    const char* label;
};

// Grid order.
constexpr std::array<PartColumn, 8> kColumns{{
    {"PartID", "Num", "Number"},
    {"PartName", "Name", "Name"},
    {"PartType", "Type", "Type"},
    {"Material", nullptr, "Material"},
    {"Face", "Roughness", "Roughness"},
    {"Heat", "Heat treatment", "Heat Treatment"},
    {"Mandator", "Department", "Department"},
    {"FlawInfo", "Additional", "Flaw description"},
}};

const PartColumn& columnInfo(const char* column) {
    for (const PartColumn& c : kColumns) {
        if (qstrcmp(c.column, column) == 0) {
            return c;
        }
    }
    return kColumns[0];
}

} // namespace

TSbgl::TSbgl(AppContext& context, OperatorMessages& messages, QWidget* parent)
    : QWidget(parent),
      ADOQuery_PartInfo(new reports::RowIdTableModel(this, context.dataStore().reportDb())) {
    setObjectName(QStringLiteral("Sbgl"));
    setWindowTitle(QStringLiteral("Workpiece management"));
    resize(672, 429);

    ADOQuery_PartInfo->setTable(QStringLiteral("tabPartInfo"));
    link = new DataLink(ADOQuery_PartInfo, messages, this);
    link->setAutoEdit(false);
    link->setDeleteQuestion(QStringLiteral("Delete record?"));
    link->setRequired(ADOQuery_PartInfo->fieldIndex(QStringLiteral("PartID")),
                      QStringLiteral("The workpiece number must not be empty."));

    auto* group = new QGroupBox(QStringLiteral("Workpiece"), this);
    auto* form = new QGridLayout(group);
    form->setHorizontalSpacing(6);
    form->setVerticalSpacing(6);
    auto place = [this, group, form](const char* column, int row, int col, int span) {
        const PartColumn& info = columnInfo(column);
        auto* label = new QLabel(QLatin1String(info.label), group);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        auto* edit = new QLineEdit(group);
        edit->setObjectName(QStringLiteral("DBEdit_") + QLatin1String(column));
        label->setBuddy(edit);
        form->addWidget(label, row, col * 2);
        form->addWidget(edit, row, col * 2 + 1, 1, span);
        editors_[QLatin1String(column)] = edit;
        link->addEditor(edit, ADOQuery_PartInfo->fieldIndex(QLatin1String(column)));
    };
    place("PartID", 0, 0, 1);
    place("PartName", 0, 1, 1);
    place("Material", 0, 2, 1);
    place("Face", 1, 0, 1);
    place("Heat", 1, 1, 1);
    place("PartType", 1, 2, 1);
    place("Mandator", 2, 0, 5);
    place("FlawInfo", 3, 0, 5);
    for (int c : {1, 3, 5}) {
        form->setColumnStretch(c, 1);
    }

    DBNavigator1 = new RecordNavigator(RecordNavigator::First | RecordNavigator::Prior |
                                           RecordNavigator::Next | RecordNavigator::Last |
                                           RecordNavigator::Insert | RecordNavigator::Delete |
                                           RecordNavigator::Edit | RecordNavigator::Post,
                                       this);
    DBNavigator1->setObjectName(QStringLiteral("DBNavigator1"));
    DBNavigator1->setDataLink(link);

    DBGrid1 = new QTableView(this);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    link->setGrid(DBGrid1);
    DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DBGrid1->verticalHeader()->setDefaultSectionSize(22);
    DBGrid1->verticalHeader()->setFixedWidth(22);
    QHeaderView* header = DBGrid1->horizontalHeader();
    for (int c = 0; c < ADOQuery_PartInfo->columnCount(); ++c) {
        DBGrid1->setColumnHidden(c, true);
    }
    for (std::size_t i = 0; i < kColumns.size(); ++i) {
        const PartColumn& info = kColumns[i];
        const int column = ADOQuery_PartInfo->fieldIndex(QLatin1String(info.column));
        DBGrid1->setColumnHidden(column, false);
        ADOQuery_PartInfo->setHeaderData(
            column, Qt::Horizontal, QLatin1String(info.gridTitle ? info.gridTitle : info.column));
        header->moveSection(header->visualIndex(column), static_cast<int>(i));
        DBGrid1->setColumnWidth(column, std::max(90, header->sectionSizeHint(column)));
    }
    header->setStretchLastSection(true);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 0);
    layout->setSpacing(6);
    layout->addWidget(group);
    layout->addWidget(DBNavigator1);
    layout->addWidget(DBGrid1, 1);
    layout->addWidget(StatusBar1);

    FormCreate();
}

void TSbgl::FormCreate() {
    // Each window runs the query anew, so it shows the table as it is now.
    link->open();
}

QLineEdit* TSbgl::editor(const QString& column) const {
    const auto it = editors_.find(column);
    return it == editors_.end() ? nullptr : it->second;
}

void TSbgl::closeEvent(QCloseEvent* e) {
    if (!link->closeQuery(windowTitle())) {
        e->ignore();
        return;
    }
    QWidget::closeEvent(e);
}

} // namespace ufd::app
