#pragma once

#include <QString>

class IniFile;
class Station;

// Start-up reading of ACL3.INI: the current program's path, the log switch, the load's link
// kind, the action and load-mode lists; then the load's link settings and the current program.
void LoadSystemSettings(Station& station);

// Fills the load's LinkRecord from ACL3.INI (ConnectMode) and the current program file's
// "Load1 Option" section, and shows it in the connection panel values and the load status grid.
void LoadLinkSettings(Station& station);

// Takes the connection panel's values into the load's LinkRecord, writes the link kind to
// ACL3.INI and the link section to the current program file, and updates the status grid.
// False (after a message) when a file cannot be written.
bool SaveLinkSettings(Station& station);

// The part of SaveLinkSettings that changes the record, the grid and the two files in memory;
// the caller writes the files back (so a program save writes its file once).
void writeLinkSettings(Station& station, IniFile& settingsFile, IniFile& programFile);

// The address and serial values as numbers: the leading numeric part, rounded (the TCP port is
// portOf, which takes only a whole number).
int linkNumber(const QString& text);
