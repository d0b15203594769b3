#pragma once

#include <QString>

struct RunReport;

// The report's text as HTML: page one's facts, the step table, the events. The PDF lays it out
// on pages; the HTML report shows it as it is, with the plots after it.
QString reportBodyHtml(const RunReport& report);

// Writes the report as PDF (A4 landscape: the text, then a page per plot, every page with the
// SN, the program and its number) or as HTML with the plots as SVG, by the name's suffix. The
// file is replaced only when it is written whole. False with `error` naming the file.
bool writeReport(const RunReport& report, const QString& path, QString* error);
