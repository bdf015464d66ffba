#pragma once

#include <QString>

namespace ufd::app {

// The names under which the program keeps its user data folder and its settings.
inline constexpr char kOrganizationName[] = "Tarvenix";
inline constexpr char kStationName[] = "Ultrasonic Flaw Detector";
// Beside an installed executable (bin/), the files the package shares: share/ufd/.
inline constexpr char kSharedFolder[] = "../share/ufd";

// Where a station keeps its files.
struct StationFolders {
    QString program;   // base of Report/, Record/, Moudle/ and Outfiles/, ending in '/'
    QString databases; // where UFD.mdb and kvrt.mdb live
    bool userData = false;
    QString error; // why the user's data folder could not be laid out; empty when it was
};

// A program run from a folder it may write to (the build's bin/, a copied folder on Windows)
// keeps its folders beside itself and its databases in `currentFolder`, as it always has. An
// installed one (its shared files in ../share/ufd), or one in a folder it may not write to,
// keeps both in `userDataFolder`: made with Report/, Record/, Moudle/ and Outfiles/ when
// missing, and given the default template Moudle/TSV.xlsx from the shared files (or from
// Moudle/ beside the executable) when it has none, so a site's own template is never replaced.
StationFolders chooseStationFolders(const QString& executableFolder, const QString& currentFolder,
                                    const QString& userDataFolder);

// The choice for this process: its executable's folder, the current folder and Qt's application
// data location under the station's names (setStationIdentity must have run).
StationFolders stationFolders();

// Names the process as the station, so that the program, ufdtool and ufd-sim share one user
// data folder and one settings store.
void setStationIdentity();

} // namespace ufd::app
