#pragma once

#include "series/SeriesStore.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <array>

class OperatorPrompts;
class PlotStepMarks;
class QButtonGroup;
class QCheckBox;
class QCPAxis;
class QCPGraph;
class QCPItemStraightLine;
class QCPPainter;
class QCustomPlot;
class QHBoxLayout;
class QLabel;
class QSpinBox;
class QToolButton;

// The trend plot of a run: the voltage, current and power of phases A, B and C against run time
// (or phase A's voltage against the charge drawn, the battery view), drawn from a SeriesStore.
// Tick boxes choose phases and quantities, each quantity on its own axis; Follow shows the last
// minutes, Whole run all of it; the mouse wheel zooms and dragging pans the time axis
// (double-click: whole run again); moving the mouse over the plot reads every shown value at
// the nearest instant; steps are marked where they begin, with their number.
//
// Drawing never holds up the run: new records are drawn at most kRedrawIntervalMs apart, and
// right after a record arrives, when the next measuring instant is furthest away.
class TrendPlot : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kRedrawIntervalMs = 250;
    static constexpr int kDefaultFollowMinutes = 10;

    enum class Range
    {
        Follow,   // the last minutes
        WholeRun, // everything recorded
        Zoomed    // where the mouse put it
    };

    explicit TrendPlot(QWidget* parent = nullptr);
    ~TrendPlot() override;

    void setStore(const SeriesStore* store);
    const SeriesStore* store() const { return store_; }
    // Export asks for a file name and reports failures through these prompts.
    void setPrompts(OperatorPrompts* prompts) { prompts_ = prompts; }
    // The file name the export dialog starts with (its suffix is replaced by the chosen type's).
    void setExportPreset(const QString& path) { exportPreset_ = path; }
    // Adds a control at the end of the plot's tool row.
    void addTool(QWidget* tool);

    Range range() const { return range_; }
    void setRange(Range range);
    void setFollowMinutes(int minutes);
    bool isBatteryView() const { return battery_; }
    void setBatteryView(bool on);
    void setPhaseShown(int phase, bool shown);
    void setQuantityShown(Quantity quantity, bool shown);
    bool isSeriesShown(int series) const;

    // The plot itself, for its axes and graphs.
    QCustomPlot* plot() const { return plot_; }
    QCPGraph* graph(int series) const { return graphs_[static_cast<std::size_t>(series)]; }
    QCPGraph* batteryGraph() const { return batteryGraph_; }
    QCPAxis* valueAxis(Quantity quantity) const;

    // Puts the cursor at the instant nearest to x on the current key and reads its values.
    void setCursorAt(double x);
    QString cursorText() const;

    // Draws the plot as shown at width x height into a vector painter (SVG, a PDF page), from
    // the painter's origin.
    void render(QCPPainter* painter, int width, int height);
    // Writes the plot as shown to a PNG, SVG or PDF file, by the name's suffix.
    bool exportTo(const QString& path, QString* error);
    // The Export button: asks for a file name, writes it, says so when it cannot.
    void exportWithDialog();

public slots:
    // Takes the store's records for the shown range and draws them now.
    void redraw();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildTools();
    void buildPlot();
    void onAppended();
    void onCleared();
    void scheduleRedraw(int delayMs);
    void updateVisibility();
    void applyRange();
    void fitValueAxes();
    void onKeyRangeChanged();
    SeriesStore::Key key() const;
    // Shown by the tick boxes, or phase A's voltage in the battery view.
    bool isSeriesDrawn(int series) const;

    const SeriesStore* store_ = nullptr;
    OperatorPrompts* prompts_ = nullptr;
    QString exportPreset_;

    QHBoxLayout* tools_ = nullptr;
    std::array<QCheckBox*, SeriesStore::kPhaseCount> phaseBoxes_{};
    std::array<QCheckBox*, SeriesStore::kQuantityCount> quantityBoxes_{};
    QButtonGroup* rangeButtons_ = nullptr;
    QToolButton* followButton_ = nullptr;
    QToolButton* wholeRunButton_ = nullptr;
    QSpinBox* followMinutes_ = nullptr;
    QCheckBox* batteryBox_ = nullptr;
    QLabel* cursorLabel_ = nullptr;

    QCustomPlot* plot_ = nullptr;
    std::array<QCPAxis*, SeriesStore::kQuantityCount> axes_{};
    std::array<QCPGraph*, SeriesStore::kSeriesCount> graphs_{};
    QCPGraph* batteryGraph_ = nullptr;
    QCPItemStraightLine* cursorLine_ = nullptr;
    PlotStepMarks* marks_ = nullptr;

    Range range_ = Range::Follow;
    bool battery_ = false;
    bool settingRange_ = false;
    double cursorKey_ = 0;
    qsizetype cursorInstant_ = -1;

    QTimer drawTimer_;
    QElapsedTimer sinceDraw_;
    bool dirty_ = true;
    SeriesStore::Points points_;
};
