#pragma once

namespace ufd::app {

class TMainForm;

// Plugs the windows of the other subsystems into the main window: the online monitoring and
// replay windows here; the port, upload and report windows add theirs beside.
void registerRecordWindows(TMainForm& form);

} // namespace ufd::app
