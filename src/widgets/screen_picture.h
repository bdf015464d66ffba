#pragma once

#include <QDateTime>
#include <QString>

class QWidget;

namespace ufd::app {

// The file a picture taken at `now` is saved as in `folder`: "A-scan yyyyMMdd-hhmmss.png", with
// " (2)", " (3)"... when that second has a picture already.
QString screenPicturePath(const QString& folder, const QDateTime& now);

// Saves what `what` shows as a PNG in `folder` (see screenPicturePath) and puts it on the
// clipboard too. Returns the file written; empty with the reason in `error` when it could not
// be written (the clipboard still has the picture).
QString saveScreenPicture(QWidget* what, const QString& folder, const QDateTime& now,
                          QString* error);

class OperatorMessages;
// The windows' "Screenshot": saves the picture now; a file that cannot be written is told.
void takeScreenshot(QWidget* what, const QString& folder, OperatorMessages& messages);

} // namespace ufd::app
