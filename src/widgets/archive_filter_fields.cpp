#include "widgets/archive_filter_fields.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>

namespace ufd::widgets {

archive::ArchiveFilter ArchiveFilterFields::filter() const {
    archive::ArchiveFilter f;
    if (fromOn->isChecked()) {
        f.from = QDateTime(from->date(), QTime(0, 0, 0));
    }
    if (toOn->isChecked()) {
        f.to = QDateTime(to->date(), QTime(23, 59, 59));
    }
    f.nameContains = name->text().trimmed();
    f.probeName = probe->currentText();
    f.workpiece = workpiece->currentText();
    f.sourceFile = source->currentText();
    return f;
}

} // namespace ufd::widgets
