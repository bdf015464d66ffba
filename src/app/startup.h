#pragma once

#include <QString>

namespace ufd::app {

class AppContext;
class OperatorMessages;

// Start-up's opening of the databases in `folder`; a failure is shown with the engine's text.
// Without the users database start-up ends (false); without the report database the program
// goes on without reports.
bool openStartupData(AppContext& context, OperatorMessages& messages, const QString& folder);

} // namespace ufd::app
