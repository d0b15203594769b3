#pragma once

#include <QString>

class Station;

// A file dialog filter of the form "description|pattern|..." in Qt's form
// ("description (pattern);;...").
QString qtFileFilter(const QString& dialogFilter);
// The program file dialogs' filter, in Qt's form.
extern const QString kProgramFileFilter;

// The file work of the Open and Save buttons: ask for a file (the current program, or
// TESTTMP.INI in the station folder when none is known), remember it in ACL3.INI, then load or
// save. A cancelled dialog ends the command and changes nothing. Open first settles unsaved
// edits. Both return whether the program was loaded or saved.
bool OpenCommand(Station& station);
bool SaveCommand(Station& station);

// Before the program shown is replaced or the window closes: when the step grid holds unsaved
// edits, asks Save / Discard / Cancel (Save through the Save command's dialog). Returns whether
// to go on: the edits were saved or dropped, or there were none.
bool settleUnsavedEdits(Station& station);

// Saves the program and its link section to the file named by TestFileName in one replace of
// the file, and remembers the name in ACL3.INI.
bool saveProgramAs(Station& station, const QString& fileName);
