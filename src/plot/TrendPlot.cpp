#include "plot/TrendPlot.h"

#include "station/OperatorPrompts.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>
#include <QSvgGenerator>
#include <QToolButton>
#include <QVBoxLayout>

#include <qcustomplot.h>

#include <cmath>
#include <limits>

namespace {

constexpr double kSecondsPerMinute = 60;
// The battery view's series: phase A's voltage.
constexpr int kBatterySeries = SeriesStore::series(Quantity::Voltage, 0);
// Empty space above and below the values on each value axis, as a share of their span.
constexpr double kValueMargin = 0.05;
// Step marks closer than this many pixels to the one before are left out.
constexpr double kMarkSpacingPx = 3;
const QString kCursorLayer = QStringLiteral("cursor");
const QString kExportFilter =
    QStringLiteral("PNG image (*.png);;SVG drawing (*.svg);;PDF document (*.pdf)");

// One hue per phase; voltage solid, current dashed, power dotted.
const std::array<QColor, SeriesStore::kPhaseCount> kPhaseColors = {
    QColor(200, 30, 30), QColor(20, 140, 40), QColor(30, 70, 210)};
const std::array<Qt::PenStyle, SeriesStore::kQuantityCount> kQuantityStyles = {
    Qt::SolidLine, Qt::DashLine, Qt::DotLine};

// One pixel wide: a wider line, dashed, is stroked as a path and takes ten times as long to
// draw where the envelope zigzags.
QPen linePen(const QColor& color, Qt::PenStyle style)
{
    QPen pen(color, 1, style);
    pen.setCosmetic(true);
    return pen;
}

// "VA", "IB", "PC": the quantity's symbol and the phase.
QString shortName(int series)
{
    return QString(QChar(u"VIP"[series / SeriesStore::kPhaseCount])) +
           QChar(u'A' + series % SeriesStore::kPhaseCount);
}

// Run time as h:mm:ss.s; hours are not wrapped.
QString runTimeText(double seconds)
{
    const auto tenths = static_cast<qint64>(std::llround(seconds * 10));
    const qint64 whole = tenths / 10;
    return QStringLiteral("%1:%2:%3.%4")
        .arg(whole / 3600)
        .arg((whole / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(whole % 60, 2, 10, QLatin1Char('0'))
        .arg(tenths % 10);
}

QString valueText(double value)
{
    return std::isnan(value) ? QStringLiteral("—") : QString::number(value, 'g', 7);
}

} // namespace

// The first instant of every step in the shown range, a dashed line with the step number.
class PlotStepMarks : public QCPLayerable
{
public:
    explicit PlotStepMarks(QCustomPlot* plot) : QCPLayerable(plot) {}

    const SeriesStore* store = nullptr;
    SeriesStore::Key key = SeriesStore::Key::Time;

protected:
    void applyDefaultAntialiasingHint(QCPPainter* painter) const override
    {
        applyAntialiasingHint(painter, false, QCP::aeOther);
    }
    QRect clipRect() const override { return mParentPlot->axisRect()->rect(); }

    void draw(QCPPainter* painter) override
    {
        if (!store || store->isEmpty())
            return;
        const std::vector<SeriesStore::StepMark>& marks = store->stepMarks();
        const QCPAxis* x = mParentPlot->xAxis;
        const QRect area = mParentPlot->axisRect()->rect();
        const auto before = [this](const SeriesStore::StepMark& mark, double k) {
            return store->key(key, mark.instant) < k;
        };
        const QFontMetricsF metrics(painter->font());
        painter->setPen(QPen(QColor(110, 110, 110), 0, Qt::DashLine));
        double labelsEnd = -std::numeric_limits<double>::infinity();
        auto it = std::lower_bound(marks.begin(), marks.end(), x->range().lower, before);
        while (it != marks.end()) {
            const double k = store->key(key, it->instant);
            if (k > x->range().upper)
                break;
            const double px = x->coordToPixel(k);
            painter->drawLine(QLineF(px, area.top(), px, area.bottom()));
            if (px > labelsEnd) {
                const QString label = QString::number(it->step);
                painter->drawText(QPointF(px + 2, area.top() + metrics.ascent() + 1), label);
                labelsEnd = px + metrics.horizontalAdvance(label) + 6;
            }
            // Dense marks (a short loop run many times) share their pixels.
            it =
                std::lower_bound(it + 1, marks.end(), x->pixelToCoord(px + kMarkSpacingPx), before);
        }
    }
};

TrendPlot::TrendPlot(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("TrendPlot"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    tools_ = new QHBoxLayout;
    layout->addLayout(tools_);
    buildTools();
    buildPlot();
    layout->addWidget(plot_, 1);
    cursorLabel_ = new QLabel(this);
    cursorLabel_->setObjectName(QStringLiteral("PlotCursor"));
    cursorLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A long reading is cut at the plot's width; it never widens the window.
    cursorLabel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(cursorLabel_);

    drawTimer_.setSingleShot(true);
    connect(&drawTimer_, &QTimer::timeout, this, &TrendPlot::redraw);
    sinceDraw_.start();
    updateVisibility();
}

TrendPlot::~TrendPlot() = default;

void TrendPlot::buildTools()
{
    const auto checkBox = [this](const QString& name, const QString& text) {
        auto* box = new QCheckBox(text, this);
        box->setObjectName(name);
        box->setChecked(true);
        tools_->addWidget(box);
        return box;
    };
    for (int phase = 0; phase < SeriesStore::kPhaseCount; ++phase) {
        const QString letter = QChar(u'A' + phase);
        QCheckBox* box = checkBox(QStringLiteral("PlotPhase") + letter, letter);
        QPalette palette = box->palette();
        palette.setColor(QPalette::WindowText, kPhaseColors[static_cast<std::size_t>(phase)]);
        box->setPalette(palette);
        connect(box, &QCheckBox::toggled, this,
                [this, phase](bool on) { setPhaseShown(phase, on); });
        phaseBoxes_[static_cast<std::size_t>(phase)] = box;
    }
    tools_->addSpacing(12);
    for (int q = 0; q < SeriesStore::kQuantityCount; ++q) {
        const auto quantity = static_cast<Quantity>(q);
        const QString name = SeriesStore::quantityName(quantity);
        QCheckBox* box = checkBox(QStringLiteral("Plot") + name, name);
        connect(box, &QCheckBox::toggled, this,
                [this, quantity](bool on) { setQuantityShown(quantity, on); });
        quantityBoxes_[static_cast<std::size_t>(q)] = box;
    }
    tools_->addSpacing(12);

    rangeButtons_ = new QButtonGroup(this);
    const auto rangeButton = [this](const QString& name, const QString& text, const QString& tip,
                                    Range range) {
        auto* button = new QToolButton(this);
        button->setObjectName(name);
        button->setText(text);
        button->setToolTip(tip);
        button->setCheckable(true);
        rangeButtons_->addButton(button);
        connect(button, &QToolButton::clicked, this, [this, range] { setRange(range); });
        tools_->addWidget(button);
        return button;
    };
    followButton_ = rangeButton(QStringLiteral("PlotFollow"), QStringLiteral("Follow"),
                                QStringLiteral("Show the last minutes of the run"), Range::Follow);
    followMinutes_ = new QSpinBox(this);
    followMinutes_->setObjectName(QStringLiteral("PlotFollowMinutes"));
    followMinutes_->setRange(1, 24 * 60);
    followMinutes_->setSuffix(QStringLiteral(" min"));
    followMinutes_->setValue(kDefaultFollowMinutes);
    connect(followMinutes_, &QSpinBox::valueChanged, this, [this] { setRange(Range::Follow); });
    tools_->addWidget(followMinutes_);
    wholeRunButton_ = rangeButton(QStringLiteral("PlotWholeRun"), QStringLiteral("Whole run"),
                                  QStringLiteral("Show the whole run (or double-click the plot)"),
                                  Range::WholeRun);
    followButton_->setChecked(true);
    tools_->addSpacing(12);

    batteryBox_ = new QCheckBox(QStringLiteral("Battery (V/Ah)"), this);
    batteryBox_->setObjectName(QStringLiteral("PlotBattery"));
    batteryBox_->setToolTip(QStringLiteral("Phase A voltage against the charge drawn"));
    connect(batteryBox_, &QCheckBox::toggled, this, &TrendPlot::setBatteryView);
    tools_->addWidget(batteryBox_);
    tools_->addStretch(1);

    auto* exportButton = new QToolButton(this);
    exportButton->setObjectName(QStringLiteral("PlotExport"));
    exportButton->setText(QStringLiteral("Export..."));
    exportButton->setToolTip(QStringLiteral("Save the plot as shown: PNG, SVG or PDF"));
    connect(exportButton, &QToolButton::clicked, this, &TrendPlot::exportWithDialog);
    tools_->addWidget(exportButton);
}

void TrendPlot::buildPlot()
{
    plot_ = new QCustomPlot(this);
    plot_->setObjectName(QStringLiteral("PlotArea"));
    plot_->setMinimumHeight(160);
    // The envelope already has at most two points a pixel column: antialiasing them would
    // double the time of a redraw for no visible gain.
    plot_->setNotAntialiasedElements(QCP::aeAll);
    plot_->setPlottingHints(QCP::phFastPolylines | QCP::phCacheLabels);

    auto ticker = QSharedPointer<QCPAxisTickerTime>::create();
    ticker->setTimeFormat(QStringLiteral("%h:%m:%s"));
    plot_->xAxis->setTicker(ticker);
    plot_->xAxis->setLabel(QStringLiteral("Run time (h:mm:ss)"));
    axes_ = {plot_->yAxis, plot_->yAxis2, plot_->axisRect()->addAxis(QCPAxis::atRight)};
    for (int q = 0; q < SeriesStore::kQuantityCount; ++q) {
        const auto quantity = static_cast<Quantity>(q);
        axes_[static_cast<std::size_t>(q)]->setLabel(QStringLiteral("%1 (%2)").arg(
            SeriesStore::quantityName(quantity), SeriesStore::unit(quantity)));
    }

    plot_->setAutoAddPlottableToLegend(false);
    for (int s = 0; s < SeriesStore::kSeriesCount; ++s) {
        QCPGraph* graph = plot_->addGraph(plot_->xAxis, axes_[static_cast<std::size_t>(s) / 3]);
        graph->setName(SeriesStore::seriesName(s));
        graph->setPen(linePen(kPhaseColors[static_cast<std::size_t>(s % 3)],
                              kQuantityStyles[static_cast<std::size_t>(s / 3)]));
        // The store hands over at most two points a pixel column already.
        graph->setAdaptiveSampling(false);
        graphs_[static_cast<std::size_t>(s)] = graph;
    }
    batteryGraph_ = plot_->addGraph(plot_->xAxis, plot_->yAxis);
    batteryGraph_->setName(SeriesStore::seriesName(kBatterySeries));
    batteryGraph_->setPen(linePen(kPhaseColors[0], Qt::SolidLine));
    batteryGraph_->setAdaptiveSampling(false);

    // The legend in a row of its own above the axes, where it hides no line.
    plot_->legend->setVisible(true);
    plot_->axisRect()->insetLayout()->take(plot_->legend);
    plot_->plotLayout()->insertRow(0);
    plot_->plotLayout()->addElement(0, 0, plot_->legend);
    plot_->plotLayout()->setRowStretchFactor(0, 0.001);
    plot_->legend->setFillOrder(QCPLegend::foColumnsFirst);
    plot_->legend->setBorderPen(Qt::NoPen);
    plot_->legend->setIconSize(24, 10);
    plot_->legend->setMargins(QMargins(4, 2, 4, 0));
    QFont legendFont = font();
    legendFont.setPointSizeF(legendFont.pointSizeF() * 0.85);
    plot_->legend->setFont(legendFont);

    marks_ = new PlotStepMarks(plot_);

    plot_->addLayer(kCursorLayer, plot_->layer(QStringLiteral("main")), QCustomPlot::limAbove);
    plot_->layer(kCursorLayer)->setMode(QCPLayer::lmBuffered);
    cursorLine_ = new QCPItemStraightLine(plot_);
    cursorLine_->setLayer(kCursorLayer);
    cursorLine_->setPen(QPen(QColor(0, 0, 0, 160), 1));
    cursorLine_->setVisible(false);

    plot_->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    plot_->axisRect()->setRangeDrag(Qt::Horizontal);
    plot_->axisRect()->setRangeZoom(Qt::Horizontal);
    plot_->axisRect()->setRangeDragAxes(plot_->xAxis, nullptr);
    plot_->axisRect()->setRangeZoomAxes(plot_->xAxis, nullptr);
    connect(plot_->xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this,
            &TrendPlot::onKeyRangeChanged);
    connect(plot_, &QCustomPlot::mouseMove, this, [this](QMouseEvent* event) {
        if (plot_->axisRect()->rect().contains(event->pos()))
            setCursorAt(plot_->xAxis->pixelToCoord(event->position().x()));
    });
    connect(plot_, &QCustomPlot::mouseDoubleClick, this,
            [this](QMouseEvent*) { setRange(Range::WholeRun); });
}

void TrendPlot::setStore(const SeriesStore* store)
{
    if (store_)
        disconnect(store_, nullptr, this, nullptr);
    store_ = store;
    marks_->store = store;
    if (store_) {
        connect(store_, &SeriesStore::appended, this, &TrendPlot::onAppended);
        connect(store_, &SeriesStore::cleared, this, &TrendPlot::onCleared);
    }
    onCleared();
}

void TrendPlot::addTool(QWidget* tool)
{
    tool->setParent(this);
    tools_->addWidget(tool);
}

QCPAxis* TrendPlot::valueAxis(Quantity quantity) const
{
    return axes_[static_cast<std::size_t>(quantity)];
}

void TrendPlot::setRange(Range range)
{
    range_ = range;
    if (range == Range::Zoomed) {
        rangeButtons_->setExclusive(false);
        followButton_->setChecked(false);
        wholeRunButton_->setChecked(false);
        rangeButtons_->setExclusive(true);
    } else {
        (range == Range::Follow ? followButton_ : wholeRunButton_)->setChecked(true);
    }
    scheduleRedraw(0);
}

void TrendPlot::setFollowMinutes(int minutes)
{
    followMinutes_->setValue(minutes);
}

void TrendPlot::setBatteryView(bool on)
{
    battery_ = on;
    batteryBox_->setChecked(on);
    marks_->key = key();
    if (on) {
        plot_->xAxis->setTicker(QSharedPointer<QCPAxisTicker>::create());
        plot_->xAxis->setLabel(QStringLiteral("Charge drawn (Ah)"));
    } else {
        auto ticker = QSharedPointer<QCPAxisTickerTime>::create();
        ticker->setTimeFormat(QStringLiteral("%h:%m:%s"));
        plot_->xAxis->setTicker(ticker);
        plot_->xAxis->setLabel(QStringLiteral("Run time (h:mm:ss)"));
    }
    cursorInstant_ = -1;
    updateVisibility();
    if (range_ == Range::Zoomed)
        setRange(Range::WholeRun);
    scheduleRedraw(0);
}

void TrendPlot::setPhaseShown(int phase, bool shown)
{
    phaseBoxes_[static_cast<std::size_t>(phase)]->setChecked(shown);
    updateVisibility();
}

void TrendPlot::setQuantityShown(Quantity quantity, bool shown)
{
    quantityBoxes_[static_cast<std::size_t>(quantity)]->setChecked(shown);
    updateVisibility();
}

bool TrendPlot::isSeriesShown(int series) const
{
    return !battery_ &&
           phaseBoxes_[static_cast<std::size_t>(series % SeriesStore::kPhaseCount)]->isChecked() &&
           quantityBoxes_[static_cast<std::size_t>(series / SeriesStore::kPhaseCount)]->isChecked();
}

bool TrendPlot::isSeriesDrawn(int series) const
{
    return battery_ ? series == kBatterySeries : isSeriesShown(series);
}

SeriesStore::Key TrendPlot::key() const
{
    return battery_ ? SeriesStore::Key::Charge : SeriesStore::Key::Time;
}

void TrendPlot::updateVisibility()
{
    for (QCheckBox* box : phaseBoxes_)
        box->setEnabled(!battery_);
    for (QCheckBox* box : quantityBoxes_)
        box->setEnabled(!battery_);
    // The legend is built again in series order.
    plot_->legend->clearItems();
    for (int s = 0; s < SeriesStore::kSeriesCount; ++s) {
        QCPGraph* graph = graphs_[static_cast<std::size_t>(s)];
        graph->setVisible(isSeriesShown(s));
        if (graph->visible())
            graph->addToLegend();
    }
    batteryGraph_->setVisible(battery_);
    if (battery_)
        batteryGraph_->addToLegend();
    for (int q = 0; q < SeriesStore::kQuantityCount; ++q) {
        bool any = false;
        for (int phase = 0; phase < SeriesStore::kPhaseCount; ++phase)
            any = any || isSeriesDrawn(q * SeriesStore::kPhaseCount + phase);
        axes_[static_cast<std::size_t>(q)]->setVisible(any);
    }
    scheduleRedraw(0);
}

void TrendPlot::onAppended()
{
    dirty_ = true;
    // Right after a record the next measuring instant is furthest away: draw now if the last
    // drawing is old enough, else leave it to a later record (or to the timer, when the
    // records stop coming).
    if (sinceDraw_.elapsed() >= kRedrawIntervalMs)
        scheduleRedraw(0);
    else
        scheduleRedraw(2 * kRedrawIntervalMs);
}

void TrendPlot::onCleared()
{
    cursorInstant_ = -1;
    if (range_ == Range::Zoomed)
        setRange(Range::Follow);
    dirty_ = true;
    scheduleRedraw(0);
}

void TrendPlot::scheduleRedraw(int delayMs)
{
    dirty_ = true;
    if (drawTimer_.isActive() && drawTimer_.remainingTime() <= delayMs)
        return;
    drawTimer_.start(delayMs);
}

void TrendPlot::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (dirty_)
        scheduleRedraw(0);
}

void TrendPlot::applyRange()
{
    const SeriesStore::Key k = key();
    const double window = followMinutes_->value() * kSecondsPerMinute;
    double low = 0;
    double high = battery_ ? 0 : window;
    if (store_ && !store_->isEmpty()) {
        const qsizetype last = store_->size() - 1;
        const double start = store_->key(k, 0);
        const double end = store_->key(k, last);
        if (range_ == Range::Zoomed)
            return;
        if (range_ == Range::WholeRun) {
            low = start;
            high = end;
        } else if (battery_) {
            low = store_->key(
                k, store_->lowerBound(SeriesStore::Key::Time, store_->time(last) - window));
            high = end;
        } else {
            // A run shorter than the window is shown whole.
            low = std::max(start, end - window);
            high = end;
        }
    } else if (range_ == Range::Zoomed) {
        return;
    }
    if (!(high > low))
        high = low + (battery_ ? 0.001 : 1.0);
    settingRange_ = true;
    plot_->xAxis->setRange(low, high);
    settingRange_ = false;
}

void TrendPlot::onKeyRangeChanged()
{
    if (settingRange_)
        return;
    if (range_ != Range::Zoomed)
        setRange(Range::Zoomed);
    scheduleRedraw(0);
}

void TrendPlot::redraw()
{
    drawTimer_.stop();
    if (!isVisible()) {
        dirty_ = true;
        return;
    }
    dirty_ = false;
    sinceDraw_.restart();
    applyRange();

    std::vector<int> which;
    for (int s = 0; s < SeriesStore::kSeriesCount; ++s) {
        if (isSeriesDrawn(s))
            which.push_back(s);
    }
    const QCPRange shown = plot_->xAxis->range();
    const int columns = std::max(1, plot_->axisRect()->width());
    if (store_)
        store_->envelope(key(), shown.lower, shown.upper, columns, which, points_);
    else
        for (auto& points : points_)
            points.clear();

    const auto fill = [](QCPGraph* graph, const std::vector<QPointF>& points) {
        QVector<QCPGraphData> rows(static_cast<qsizetype>(points.size()));
        for (std::size_t i = 0; i < points.size(); ++i)
            rows[static_cast<qsizetype>(i)] = QCPGraphData(points[i].x(), points[i].y());
        graph->data()->set(rows, true);
    };
    // The envelope leaves the series not shown empty.
    for (int s = 0; s < SeriesStore::kSeriesCount; ++s) {
        QCPGraph* graph = graphs_[static_cast<std::size_t>(s)];
        if (battery_)
            graph->data()->clear();
        else
            fill(graph, points_[static_cast<std::size_t>(s)]);
    }
    if (battery_)
        fill(batteryGraph_, points_[kBatterySeries]);
    else
        batteryGraph_->data()->clear();
    fitValueAxes();
    if (cursorInstant_ >= 0)
        setCursorAt(cursorKey_);
    plot_->replot(QCustomPlot::rpQueuedRefresh);
}

void TrendPlot::fitValueAxes()
{
    for (int q = 0; q < SeriesStore::kQuantityCount; ++q) {
        double low = std::numeric_limits<double>::infinity();
        double high = -low;
        for (int phase = 0; phase < SeriesStore::kPhaseCount; ++phase) {
            const int s = q * SeriesStore::kPhaseCount + phase;
            if (!isSeriesDrawn(s))
                continue;
            for (const QPointF& p : points_[static_cast<std::size_t>(s)]) {
                if (p.y() < low)
                    low = p.y();
                if (p.y() > high)
                    high = p.y();
            }
        }
        if (low > high)
            continue; // nothing measured in view: the axis keeps its range
        const double margin = high > low ? (high - low) * kValueMargin
                                         : std::max(std::fabs(high) * kValueMargin, 0.5);
        axes_[static_cast<std::size_t>(q)]->setRange(low - margin, high + margin);
    }
}

void TrendPlot::setCursorAt(double x)
{
    cursorKey_ = x;
    cursorInstant_ = store_ ? store_->nearest(key(), x) : -1;
    const bool shown = cursorInstant_ >= 0;
    cursorLine_->setVisible(shown);
    if (shown) {
        const double k = store_->key(key(), cursorInstant_);
        cursorLine_->point1->setCoords(k, 0);
        cursorLine_->point2->setCoords(k, 1);
    }
    cursorLabel_->setText(cursorText());
    plot_->layer(kCursorLayer)->replot();
}

QString TrendPlot::cursorText() const
{
    if (!store_ || cursorInstant_ < 0 || cursorInstant_ >= store_->size())
        return {};
    const qsizetype i = cursorInstant_;
    QStringList parts{runTimeText(store_->time(i))};
    if (const SeriesStore::StepMark* mark = store_->markAt(i)) {
        QString step = QStringLiteral("Step %1").arg(mark->step);
        if (!mark->loop1.isEmpty())
            step += QStringLiteral(" (Loop1 %1)").arg(mark->loop1);
        parts << step;
    }
    parts << QStringLiteral("%1 Ah").arg(QString::number(store_->charge(i), 'f', 4));
    for (int s = 0; s < SeriesStore::kSeriesCount; ++s) {
        if (isSeriesDrawn(s))
            parts << QStringLiteral("%1 %2 %3")
                         .arg(shortName(s), valueText(store_->value(s, i)),
                              SeriesStore::unit(static_cast<Quantity>(s / 3)));
    }
    return parts.join(QStringLiteral("   "));
}

void TrendPlot::render(QCPPainter* painter, int width, int height)
{
    painter->setMode(QCPPainter::pmVectorized);
    plot_->toPainter(painter, width, height);
}

bool TrendPlot::exportTo(const QString& path, QString* error)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    const QString native = QDir::toNativeSeparators(path);
    bool written = false;
    if (suffix == QLatin1String("png")) {
        written = plot_->savePng(path);
    } else if (suffix == QLatin1String("pdf")) {
        written = plot_->savePdf(path);
    } else if (suffix == QLatin1String("svg")) {
        QSvgGenerator svg;
        svg.setFileName(path);
        svg.setSize(plot_->size());
        svg.setViewBox(plot_->rect());
        svg.setTitle(QStringLiteral("ACL3 run"));
        QCPPainter painter;
        if (painter.begin(&svg)) {
            render(&painter, plot_->width(), plot_->height());
            written = painter.end();
        }
    } else {
        if (error)
            *error = QStringLiteral("Cannot export the plot to %1: the name must end in .png, "
                                    ".svg or .pdf.")
                         .arg(native);
        return false;
    }
    if (written && QFileInfo(path).size() > 0)
        return true;
    if (error)
        *error = QStringLiteral("Cannot write the plot to %1.").arg(native);
    return false;
}

void TrendPlot::exportWithDialog()
{
    if (!prompts_)
        return;
    QString preset = exportPreset_.isEmpty() ? QStringLiteral("plot.png") : exportPreset_;
    const QFileInfo presetInfo(preset);
    preset = presetInfo.path() + QLatin1Char('/') + presetInfo.completeBaseName() +
             QStringLiteral(".png");
    QString path = prompts_->saveFileName(kExportFilter, preset);
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".png");
    QString error;
    if (!exportTo(path, &error))
        prompts_->message(error);
}
