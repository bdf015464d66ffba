#pragma once

namespace ufd::app {

class TMainForm;

// Plugs the upload window and the report browser into the main window.
void registerReportWindows(TMainForm& form);

} // namespace ufd::app
