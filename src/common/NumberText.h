#pragma once

#include <QString>
#include <QStringView>

// Step values travel as text everywhere (grid, step table, files); these helpers are the one
// place where such text becomes a number and a number becomes text again.

// The number that a text begins with: leading blanks skipped, "." as the decimal point, an
// optional sign and exponent; 0 for empty or non-numeric text ("12.5V" gives 12.5).
double parseNumber(QStringView text);

// True when the text, after leading blanks, begins with a number ("230.1", " 12V"; not "Err").
bool beginsWithNumber(QStringView text);

// True when the whole text, apart from surrounding blanks, is one decimal number.
bool isNumberText(QStringView text);

// True when the whole text, apart from surrounding blanks, is an optionally signed whole number.
bool isWholeNumberText(QStringView text);

// The general print form used for everything sent to the load and for normalised step values:
// up to 15 significant digits, no trailing zeros, no decimal point for whole numbers, and the
// exponent form (capital E, sign, two digits at least) only below 1E-04 or from 1E+15 on.
QString formatGeneral(double value);

// A number taken to the nearest whole number, halves away from zero, clamped to int.
int roundToInt(double value);

// The integer part of a number (towards zero), clamped to int.
int truncToInt(double value);

// Values kept with four decimal places (measure time, dwell, step start time).
double roundTo4(double value);

// An entry "m:s" becomes decimal minutes with four decimals ("1:30" gives "1.5000");
// any text without ":" is returned unchanged.
QString ConvertSecToMin(const QString& text);
