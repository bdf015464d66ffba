#pragma once

#include "core/archive/report_archive.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLineEdit;
class QWidget;

namespace ufd::widgets {

// The archive's filter fields as the archive window and the reference chooser lay them out.
struct ArchiveFilterFields {
    QCheckBox* fromOn = nullptr;
    QDateEdit* from = nullptr;
    QCheckBox* toOn = nullptr;
    QDateEdit* to = nullptr;
    QLineEdit* name = nullptr;
    QComboBox* probe = nullptr;
    QComboBox* workpiece = nullptr;
    QComboBox* source = nullptr;

    // Makes them on `parent`: a date greyed until it is ticked (today's at first), the name with
    // a clear button, each list of choices ten characters wide and empty.
    void create(QWidget* parent);

    // What they ask for: a ticked date covers its whole day, an empty text asks nothing.
    archive::ArchiveFilter filter() const;
};

} // namespace ufd::widgets
