#pragma once

#include "core/archive/report_archive.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLineEdit;

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

    // What they ask for: a ticked date covers its whole day, an empty text asks nothing.
    archive::ArchiveFilter filter() const;
};

} // namespace ufd::widgets
