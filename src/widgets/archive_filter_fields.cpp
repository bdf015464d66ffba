#include "widgets/archive_filter_fields.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>

namespace ufd::widgets {

void ArchiveFilterFields::create(QWidget* parent) {
    const auto dateBox = [parent](QCheckBox*& on, QDateEdit*& date, const QString& caption) {
        on = new QCheckBox(caption, parent);
        date = new QDateEdit(QDate::currentDate(), parent);
        date->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        date->setCalendarPopup(true);
        date->setEnabled(false);
        QObject::connect(on, &QCheckBox::toggled, date, &QWidget::setEnabled);
    };
    dateBox(fromOn, from, QStringLiteral("From"));
    dateBox(toOn, to, QStringLiteral("To"));
    name = new QLineEdit(parent);
    name->setClearButtonEnabled(true);
    for (QComboBox** box : {&probe, &workpiece, &source}) {
        *box = new QComboBox(parent);
        (*box)->setMinimumContentsLength(10);
        (*box)->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    }
}

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
