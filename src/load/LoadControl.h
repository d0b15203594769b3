#pragma once

#include <QString>

class Station;

// The load's side of a run: the connection check with the reset sequence, the commands that
// start a step, and switching the load off. Everything goes to load channel 0 (instrument 1),
// and only while that channel answered at connect time.

// Opens the load's link, checks that the load answers "MEAS:VOLT?" with a number, marks the
// status grid "Connect OK" (green) or "Connect Fail: <why>" (red, with the address tried) and,
// when it answered, sends the reset sequence. Sets LoadConnected[0] and ConnectedLoadCount.
// Returns the address tried and why no load answered ("127.0.0.1:5025: connection refused"), or
// empty.
QString AllConnect(Station& station);

// Sends the commands that begin step `stepIndex` of the StepTable and, for a discharge-type
// step with a settling time or a pulse load, waits before it returns. A settling wait ends
// early when Stop or Pause is pressed inside it.
void StartStep(Station& station, int stepIndex);

// "LOAD OFF" when channel 0 is ticked and connected.
void LoadOff(Station& station);
// The supply side of switching off: no supply is driven, so nothing is sent.
void SupplyOff(Station& station);
// Everything off: SupplyOff, then LoadOff.
void OutputsOff(Station& station);

// One command line to the load (instrument of channel 0).
void sendToLoad(Station& station, const QString& command);
// A level command: "CC:A " followed by the value in the general print form.
QString levelCommand(const QString& command, double value);
