#include "report/ReportDocument.h"

#include "common/AtomicFile.h"
#include "plot/TrendPlot.h"
#include "report/RunReport.h"
#include "testprogram/ProgramCheck.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QPdfWriter>
#include <QSvgGenerator>
#include <QTextDocument>

#include <qcustomplot.h>

#include <cmath>

namespace {

// Screen resolution: the plot lays out its fonts and lines as it does in the window.
constexpr int kDpi = 96;
constexpr double kPageMarginMm = 10;
constexpr double kBodyFontPt = 7.5;
constexpr double kHeaderFontPt = 8;
constexpr int kValueDecimals = 3;
constexpr int kAhDecimals = 4;
constexpr int kKwhDecimals = 6;
constexpr std::size_t kRowsPerTable = 12;
const QString kFontFamily = QStringLiteral("DejaVu Sans");
// The size a plot is laid out at for the HTML report.
constexpr QSize kHtmlPlotSize(1100, 560);

const QString kStyle =
    QStringLiteral("body { font-family: 'DejaVu Sans', sans-serif; }"
                   "h1 { font-size: 14pt; } h2 { font-size: 11pt; margin-top: 10px; }"
                   "table { border-collapse: collapse; }"
                   "th { background-color: #e4e4e4; font-weight: bold; }"
                   "td.n { text-align: right; } .note { color: #8a3b00; }");

QString esc(const QString& text)
{
    return text.toHtmlEscaped();
}

QString number(double value, int decimals)
{
    return std::isnan(value) ? QStringLiteral("—") : QString::number(value, 'f', decimals);
}

// A plot of the report: one quantity of all phases against run time, or the battery view.
struct PlotPage
{
    QString caption;
    bool battery = false;
    Quantity quantity = Quantity::Voltage;
};

std::vector<PlotPage> plotPages(const RunReport& r)
{
    std::vector<PlotPage> pages;
    for (int q = 0; q < SeriesStore::kQuantityCount; ++q) {
        const auto quantity = static_cast<Quantity>(q);
        pages.push_back({QStringLiteral("%1 of phases A, B and C against run time (dashed: "
                                        "where each step begins, with its number)")
                             .arg(SeriesStore::quantityName(quantity)),
                         false, quantity});
    }
    if (r.battery)
        pages.push_back({QStringLiteral("Voltage of phase A against the charge drawn"), true,
                         Quantity::Voltage});
    return pages;
}

// The window's trend plot, offscreen, laid out at a page's size.
class PlotPainter
{
public:
    explicit PlotPainter(const SeriesStore& store)
    {
        plot_.setAttribute(Qt::WA_DontShowOnScreen);
        plot_.setStore(&store);
        plot_.setRange(TrendPlot::Range::WholeRun);
    }

    // Draws one plot into `area` of the painter.
    void draw(const PlotPage& page, QCPPainter& painter, const QRect& area)
    {
        plot_.setBatteryView(page.battery);
        for (int q = 0; q < SeriesStore::kQuantityCount; ++q)
            plot_.setQuantityShown(static_cast<Quantity>(q),
                                   page.quantity == static_cast<Quantity>(q));
        // The tool row sits above the plot: the widget is that much taller than the area.
        const int tools = plot_.height() - plot_.plot()->height();
        plot_.resize(area.width(), area.height() + std::max(tools, 0));
        plot_.show();
        plot_.layout()->activate();
        plot_.redraw();
        painter.save();
        painter.translate(area.topLeft());
        plot_.render(&painter, area.width(), area.height());
        painter.restore();
    }

private:
    TrendPlot plot_;
};

QString infoRow(const QString& name, const QString& value)
{
    return QStringLiteral("<tr><th align=\"left\">%1</th><td>%2</td></tr>").arg(esc(name), value);
}

QString pageHeader(const RunReport& r)
{
    return QStringLiteral("ACL3 run report   SN %1   Program %2")
        .arg(r.serialNumber,
             r.program.isEmpty() ? QStringLiteral("not known") : QFileInfo(r.program).fileName());
}

QByteArray plotSvg(PlotPainter& plots, const PlotPage& page)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    svg.setSize(kHtmlPlotSize);
    svg.setViewBox(QRect(QPoint(0, 0), kHtmlPlotSize));
    svg.setTitle(page.caption);
    QCPPainter painter(&svg);
    plots.draw(page, painter, QRect(QPoint(0, 0), kHtmlPlotSize));
    painter.end();
    return buffer.data();
}

QByteArray reportHtml(const RunReport& r)
{
    QString html = QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>%1"
                                  "</title><style>%2</style></head><body>\n")
                       .arg(esc(pageHeader(r)), kStyle);
    html += reportBodyHtml(r);
    html += QStringLiteral("<h2>Plots</h2>\n");
    PlotPainter plots(*r.store);
    for (const PlotPage& page : plotPages(r))
        html += QStringLiteral("<p>%1</p><img alt=\"%1\" width=\"%2\" height=\"%3\" "
                               "src=\"data:image/svg+xml;base64,%4\">\n")
                    .arg(esc(page.caption))
                    .arg(kHtmlPlotSize.width())
                    .arg(kHtmlPlotSize.height())
                    .arg(QString::fromLatin1(plotSvg(plots, page).toBase64()));
    html += QStringLiteral("</body></html>\n");
    return html.toUtf8();
}

bool reportPdf(const RunReport& r, QIODevice* out, QString* error)
{
    QPdfWriter pdf(out);
    pdf.setResolution(kDpi);
    pdf.setPageLayout(
        QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape,
                    QMarginsF(kPageMarginMm, kPageMarginMm, kPageMarginMm, kPageMarginMm),
                    QPageLayout::Millimeter));
    pdf.setTitle(pageHeader(r));
    pdf.setCreator(QStringLiteral("acl3-report"));

    QTextDocument doc;
    doc.documentLayout()->setPaintDevice(&pdf);
    QFont body(kFontFamily);
    body.setPointSizeF(kBodyFontPt);
    doc.setDefaultFont(body);
    doc.setDefaultStyleSheet(kStyle);
    doc.setHtml(reportBodyHtml(r));

    QFont headerFont(kFontFamily);
    headerFont.setPointSizeF(kHeaderFontPt);
    const QFontMetricsF metrics(headerFont, &pdf);
    const QRect page = pdf.pageLayout().paintRectPixels(kDpi).translated(
        -pdf.pageLayout().paintRectPixels(kDpi).topLeft());
    const int band = static_cast<int>(std::ceil(metrics.height() * 2));
    const QRect bodyArea(0, band, page.width(), page.height() - 2 * band);
    doc.setPageSize(QSizeF(bodyArea.width(), bodyArea.height()));
    const int textPages = doc.pageCount();
    const std::vector<PlotPage> plots = plotPages(r);
    const int pageCount = textPages + static_cast<int>(plots.size());

    QCPPainter painter;
    if (!painter.begin(&pdf)) {
        *error = QStringLiteral("the PDF cannot be started");
        return false;
    }
    const QString header = pageHeader(r);
    const auto frame = [&](int n) {
        painter.setFont(headerFont);
        painter.setPen(Qt::black);
        painter.drawText(QRectF(0, 0, page.width(), band), Qt::AlignLeft | Qt::AlignTop, header);
        painter.drawLine(QLineF(0, metrics.height() * 1.3, page.width(), metrics.height() * 1.3));
        painter.drawText(QRectF(0, page.height() - band, page.width(), band),
                         Qt::AlignRight | Qt::AlignBottom,
                         QStringLiteral("Page %1 of %2").arg(n).arg(pageCount));
    };
    for (int i = 0; i < textPages; ++i) {
        if (i > 0)
            pdf.newPage();
        frame(i + 1);
        painter.save();
        painter.translate(0, bodyArea.top() - i * bodyArea.height());
        doc.drawContents(&painter,
                         QRectF(0, i * bodyArea.height(), bodyArea.width(), bodyArea.height()));
        painter.restore();
    }
    PlotPainter plotter(*r.store);
    for (std::size_t k = 0; k < plots.size(); ++k) {
        pdf.newPage();
        frame(textPages + static_cast<int>(k) + 1);
        painter.setFont(body);
        const int caption = static_cast<int>(std::ceil(QFontMetricsF(body, &pdf).height() * 1.8));
        painter.drawText(QRectF(bodyArea.left(), bodyArea.top(), bodyArea.width(), caption),
                         Qt::AlignLeft | Qt::AlignVCenter, plots[k].caption);
        plotter.draw(plots[k], painter, bodyArea.adjusted(0, caption, 0, 0));
    }
    if (!painter.end()) {
        *error = QStringLiteral("the PDF cannot be finished");
        return false;
    }
    return true;
}

} // namespace

QString reportBodyHtml(const RunReport& r)
{
    QString h;
    h += QStringLiteral("<h1>Run report: %1</h1>\n").arg(esc(r.serialNumber));
    if (r.stepsInferred)
        h += QStringLiteral("<p class=\"note\">%1</p>\n")
                 .arg(esc(r.events.fromJournal
                              ? QStringLiteral("The run journal holds no steps: step ends are "
                                               "inferred from the log's step column.")
                              : QStringLiteral("No run journal beside the log: step ends are "
                                               "inferred from the log's step column, and pauses "
                                               "and times the load was out of reach are not "
                                               "known.")));
    if (!r.events.journalProblem.isEmpty())
        h += QStringLiteral("<p class=\"note\">%1.</p>\n").arg(esc(r.events.journalProblem));
    if (r.read.badLines > 0)
        h += QStringLiteral("<p class=\"note\">%1</p>\n").arg(esc(r.read.warning(r.logPath)));

    const QString unknown = QStringLiteral("not known");
    QString program = r.program.isEmpty() ? unknown : esc(QDir::toNativeSeparators(r.program));
    if (!r.programProblem.isEmpty())
        program += QStringLiteral(" <span class=\"note\">(%1)</span>").arg(esc(r.programProblem));
    const auto orUnknown = [&](const QString& text) {
        return text.isEmpty() ? unknown : esc(text);
    };
    QString estimate = r.estimate.isEmpty() ? unknown : esc(r.estimate);
    if (!std::isnan(r.events.estimateSeconds))
        estimate = runTimeText(r.events.estimateSeconds);
    h += QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\">\n");
    h += infoRow(QStringLiteral("Serial number"), esc(r.serialNumber));
    h += infoRow(QStringLiteral("Program file"), program);
    h += infoRow(QStringLiteral("Program SHA-256"), orUnknown(r.programSha256));
    h += infoRow(QStringLiteral("Station folder"), esc(r.stationFolder));
    h += infoRow(QStringLiteral("Run log"), esc(QDir::toNativeSeparators(r.logPath)));
    h += infoRow(QStringLiteral("Load link"), orUnknown(r.link));
    h += infoRow(QStringLiteral("Start"), orUnknown(r.startText));
    h += infoRow(QStringLiteral("End"), orUnknown(r.endText));
    h += infoRow(QStringLiteral("Run time"), esc(runTimeText(r.runSeconds)));
    h += infoRow(QStringLiteral("Estimated run time"), estimate);
    h += infoRow(QStringLiteral("How the run ended"), orUnknown(r.ended));
    h += infoRow(QStringLiteral("Records"), QString::number(r.read.records));
    h += infoRow(QStringLiteral("Step rows"), QString::number(r.rows.size()));
    h += QStringLiteral("</table>\n");

    h += QStringLiteral("<h2>Steps</h2>\n");
    // Widths in percent of the page: the tables of one report line up.
    const std::pair<const char*, int> heads[] = {
        {"Row", 3},   {"Step", 3},     {"Loops", 4},    {"Action", 6}, {"Mode", 4},  {"Value", 4},
        {"Start", 5}, {"Duration", 6}, {"Ended by", 6}, {"Ph", 2},     {"V min", 5}, {"V mean", 5},
        {"V max", 5}, {"I min", 5},    {"I mean", 5},   {"I max", 5},  {"P min", 6}, {"P mean", 6},
        {"P max", 6}, {"Ah", 4},       {"kWh", 5}};
    QString tableStart = QStringLiteral("<table border=\"0\" cellspacing=\"0\" cellpadding=\"2\" "
                                        "width=\"100%\">\n<thead><tr>");
    for (const auto& [head, width] : heads)
        tableStart +=
            QStringLiteral("<th width=\"%1%\">%2</th>").arg(width).arg(esc(QLatin1String(head)));
    tableStart += QStringLiteral("</tr></thead>\n");
    if (r.rows.empty())
        h += tableStart;
    for (std::size_t k = 0; k < r.rows.size(); ++k) {
        // Laying out one long table takes time that grows faster than its rows: a table of a
        // page or so at a time keeps a day's report fast.
        if (k % kRowsPerTable == 0)
            h += (k > 0 ? QStringLiteral("</table>\n") : QString()) + tableStart;
        const StepRow& row = r.rows[k];
        QString loops = row.loop1;
        if (!row.loop2.isEmpty())
            loops += QLatin1Char('/') + row.loop2;
        // One table row a step, its phases as the lines of each figure's cell: a page break
        // never parts a step's phases. Every other step is shaded in place of cell borders,
        // which took a third of a long report's time to draw.
        const QString rowStart = k % 2 ? QStringLiteral("<tr valign=\"top\">")
                                       : QStringLiteral("<tr valign=\"top\" bgcolor=\"#eef2f7\">");
        h += rowStart;
        for (const QString& cell :
             {QString::number(k + 1), QString::number(row.step), loops, row.action, row.mode,
              row.value, row.start, runTimeText(row.seconds), row.ended})
            h += QStringLiteral("<td>%1</td>").arg(esc(cell));
        h += QStringLiteral("<td>A<br>B<br>C</td>");
        const auto cell = [&](auto figure, int decimals) {
            QStringList lines;
            for (const PhaseFigures& f : row.phases)
                lines << number(figure(f), decimals);
            h += QStringLiteral("<td align=\"right\">%1</td>")
                     .arg(lines.join(QStringLiteral("<br>")));
        };
        for (std::size_t q = 0; q < SeriesStore::kQuantityCount; ++q) {
            cell([q](const PhaseFigures& f) { return f.min[q]; }, kValueDecimals);
            cell([q](const PhaseFigures& f) { return f.mean[q]; }, kValueDecimals);
            cell([q](const PhaseFigures& f) { return f.max[q]; }, kValueDecimals);
        }
        cell([](const PhaseFigures& f) { return f.ah; }, kAhDecimals);
        cell([](const PhaseFigures& f) { return f.kwh; }, kKwhDecimals);
        h += QStringLiteral("</tr>\n");
        // Pauses, resumes and the load out of reach: a line under the step, across the table.
        if (!row.marks.isEmpty())
            h += rowStart +
                 QStringLiteral("<td colspan=\"%1\"><span class=\"note\">%2</span></td></tr>\n")
                     .arg(std::size(heads))
                     .arg(esc(row.marks.join(QStringLiteral("; "))));
    }
    h += QStringLiteral("</table>\n");

    if (!r.events.marks.empty()) {
        h += QStringLiteral("<h2>Pauses, resumes and the load out of reach</h2>\n<table "
                            "border=\"1\" cellspacing=\"0\" cellpadding=\"2\">\n<thead><tr><th>"
                            "Time</th><th>Event</th></tr></thead>\n");
        for (const RunEvents::Mark& mark : r.events.marks)
            h += QStringLiteral("<tr><td>%1</td><td>%2</td></tr>\n")
                     .arg(esc(mark.time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))),
                          esc(mark.text));
        h += QStringLiteral("</table>\n");
    }
    h += QStringLiteral("<p>End of the report: %1 records, %2 step rows.</p>\n")
             .arg(r.read.records)
             .arg(r.rows.size());
    return h;
}

bool writeReport(const RunReport& report, const QString& path, QString* error)
{
    const QString native = QDir::toNativeSeparators(path);
    const QString suffix = QFileInfo(path).suffix().toLower();
    QByteArray content;
    QString why;
    if (suffix == QLatin1String("html") || suffix == QLatin1String("htm")) {
        content = reportHtml(report);
    } else if (suffix == QLatin1String("pdf")) {
        QBuffer buffer(&content);
        buffer.open(QIODevice::WriteOnly);
        if (!reportPdf(report, &buffer, &why)) {
            *error = QStringLiteral("Cannot write the report %1: %2.").arg(native, why);
            return false;
        }
    } else {
        *error = QStringLiteral("Cannot write the report %1: the name must end in .pdf or .html.")
                     .arg(native);
        return false;
    }
    return writeFileAtomically(path, content, error);
}
