#pragma once

class Station;

// Sets up the four grids of the main window (shape, headers, widths in twips, initial texts)
// and selects row 1 of the step grid. The load status grid's link-type header follows the
// settings file's ConnectMode.
void InitGrids(Station& station);
