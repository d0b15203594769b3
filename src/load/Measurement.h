#pragma once

class Station;

// One measurement cycle: the loop-count boxes, then the three per-phase queries of voltage,
// current and power into grdPhase3 (a pass with fewer than two fields asks once more), then the
// live values that the stop conditions compare with: VoltageText (phase A), CurrentText and
// PowerText (sums of the phases), ResText (V/I), and the step's ampere-hours and kilowatt-hours
// in AHText and KWHText, accumulated since the previous measurement. True when at least one
// reply held a value that reads as a number.
bool MeasurePhases(Station& station, int stepIndex);

// Greys the measured values (VoltageText, CurrentText, PowerText, ResText, the values of
// grdPhase3) while they are not live, so that the last amperes of a load that is off are not
// read as present ones.
void showMeasurementsLive(Station& station, bool live);

// Sets the step's ampere-hours and kilowatt-hours back to "0.00000000"; the next measurement
// accumulates from this instant.
void ResetStepAccumulators(Station& station);
// The same with the values a step taken up again had reached.
void SetStepAccumulators(Station& station, double ah, double kwh);
