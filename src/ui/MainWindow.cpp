#include "ui/MainWindow.h"

#include "plot/LogViewer.h"
#include "plot/TrendPlot.h"
#include "station/ProgramCheckCommands.h"
#include "station/ProgramCommands.h"
#include "station/Station.h"
#include "ui/CheckPanel.h"
#include "ui/ConnectionPanel.h"
#include "ui/FormBinder.h"
#include "ui/GridView.h"
#include "ui/StepEditor.h"
#include "ui/StepGridEditor.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

const QString MainWindow::kCaption = QStringLiteral("ACL3 3-Phase Control Program R1.1");

namespace {

// The picture buttons of the top row, left to right.
struct CommandButton
{
    const char* name;
    const char* text;
    const char* tip;
    const char* themeIcon;
    QStyle::StandardPixmap fallback;
};

const CommandButton kCommandButtons[] = {
    {"AddCommand", "Add", "Addition New Step", "list-add", QStyle::SP_FileIcon},
    {"DelCommand", "Delete", "Delete Step", "list-remove", QStyle::SP_TrashIcon},
    {"InsCommand", "Insert", "Insert Step", "insert-object", QStyle::SP_ArrowRight},
    {"MoveUpCommand", "Up", "Move Up Step", "go-up", QStyle::SP_ArrowUp},
    {"MoveDnCommand", "Down", "Move Down Step", "go-down", QStyle::SP_ArrowDown},
    {"SaveCommand", "Save", "Save File", "document-save", QStyle::SP_DialogSaveButton},
    {"OpenCommand", "Open", "Open File", "document-open", QStyle::SP_DialogOpenButton},
    {"ConnectCommand", "Connect", "Device Connect Setup", "network-wired", QStyle::SP_DriveNetIcon},
    {"CSVCommand", "Records", "Show or hide the record list", "x-office-spreadsheet",
     QStyle::SP_FileDialogDetailedView},
    {"CheckCommand", "Check", "Check the program and estimate its run time", "tools-check-spelling",
     QStyle::SP_DialogApplyButton},
    {"StartCommand", "Start", "Start Test", "media-playback-start", QStyle::SP_MediaPlay},
    {"StopCommand", "Stop", "Stop Test", "media-playback-stop", QStyle::SP_MediaStop},
    {"PauseCommand", "Pause", "Pause Test", "media-playback-pause", QStyle::SP_MediaPause},
};

// Space around a panel shown over the step grid.
constexpr int kPanelInset = 24;

QLineEdit* valueBox(const QString& name, QWidget* parent, const QString& tip = {})
{
    auto* box = new QLineEdit(parent);
    box->setObjectName(name);
    box->setReadOnly(true);
    box->setToolTip(tip);
    // The boxes share what the phase grid leaves them; they do not widen the column.
    box->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    return box;
}

// A status grid shows all its rows and columns without scrolling.
void fitToContents(QTableView* view)
{
    const int frame = 2 * view->frameWidth();
    int width = frame;
    for (int c = 0; c < view->model()->columnCount(); ++c) {
        if (!view->isColumnHidden(c))
            width += view->columnWidth(c);
    }
    int height = frame;
    if (!view->horizontalHeader()->isHidden())
        height += view->horizontalHeader()->sizeHint().height();
    for (int r = 0; r < view->model()->rowCount(); ++r)
        height += view->rowHeight(r);
    view->setMinimumWidth(width);
    view->setFixedHeight(height);
}

} // namespace

MainWindow::MainWindow(Station& station, QWidget* parent) : QMainWindow(parent), station_(station)
{
    setObjectName(QStringLiteral("MainForm"));

    auto* frame2 = new QGroupBox(this);
    frame2->setObjectName(QStringLiteral("Frame2"));
    frame2_ = frame2;
    setCentralWidget(frame2);
    auto* frameLayout = new QVBoxLayout(frame2);
    frameLayout->setContentsMargins(4, 4, 4, 4);

    // Frame2's fore colour marks its caption only: the controls inside keep their text colour.
    auto* content = new QWidget(frame2);
    content->setObjectName(QStringLiteral("Frame2Content"));
    QPalette contentPalette;
    contentPalette.setColor(QPalette::WindowText, palette().color(QPalette::WindowText));
    contentPalette.setColor(QPalette::Text, palette().color(QPalette::Text));
    content->setPalette(contentPalette);
    frameLayout->addWidget(content);

    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(buildCommandRow());

    auto* body = new QHBoxLayout;
    layout->addLayout(body, 1);

    stepGrid_ = gridView(QStringLiteral("TestStepGrid"));
    stepGrid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    // Rows are marked for COPY by dragging over them or with Shift.
    stepGrid_->setSelectionMode(QAbstractItemView::ContiguousSelection);
    new GridViewBinding(*stepGrid_, station_.form.TestStepGrid);

    // Records of runs without a CSV log, below the steps while there are any.
    recordList_ = gridView(QStringLiteral("RecordList"));
    recordList_->setSelectionBehavior(QAbstractItemView::SelectRows);
    new GridViewBinding(*recordList_, station_.form.RecordList);
    recordList_->hide();
    connect(&station_.form.RecordList, &GridModel::shapeChanged, this,
            &MainWindow::followRecordList);

    buildTrendPlot();

    auto* splitter = new QSplitter(Qt::Vertical, content);
    splitter->setObjectName(QStringLiteral("StepSplitter"));
    splitter->setChildrenCollapsible(false);
    // The program check's findings, below the steps once Check is pressed.
    checkPanel_ = new CheckPanel(station_, content);

    splitter->addWidget(stepGrid_);
    splitter->addWidget(trendPlot_);
    splitter->addWidget(recordList_);
    splitter->addWidget(checkPanel_);
    splitter->setStretchFactor(0, 2);
    splitter->setStretchFactor(1, 3);
    splitter->setStretchFactor(2, 1);
    body->addWidget(splitter, 1);

    auto* right = new QVBoxLayout;
    right->addWidget(buildMeasurementFrame());
    right->addWidget(buildLoadStatusFrame());
    right->addStretch(1);
    body->addLayout(right);

    // The copy buffer of the step grid is never shown.
    copyPasteGrid_ = gridView(QStringLiteral("CopyPasteGrid"));
    new GridViewBinding(*copyPasteGrid_, station_.form.CopyPasteGrid);
    copyPasteGrid_->hide();

    rightMenu_ = new QMenu(QStringLiteral("Right Menu"), this);
    rightMenu_->setObjectName(QStringLiteral("RightPUP"));
    rightMenu_->addAction(QStringLiteral("COPY"))->setObjectName(QStringLiteral("COPY"));
    rightMenu_->addAction(QStringLiteral("PASTE"))->setObjectName(QStringLiteral("PASTE"));

    auto* runStatus = new QLabel(this);
    runStatus->setObjectName(QStringLiteral("RunStatus"));
    statusBar()->addWidget(runStatus, 1);
    auto* estimate = new QLabel(this);
    estimate->setObjectName(QStringLiteral("ProgramEstimate"));
    statusBar()->addPermanentWidget(estimate);
    new ProgramEstimateWatch(station_, this);

    connectionPanel_ = new ConnectionPanel(station_, this);
    addPanel(connectionPanel_);
    connect(connectionPanel_, &ConnectionPanel::closeRequested, this,
            [this] { hidePanel(connectionPanel_); });
    buildStepEditing();

    unbound_ = bindFormValues(station_.form, this);

    // The voltage, current and power options are always on: a click cannot clear them.
    for (FormValue* always :
         {&station_.form.Check1, &station_.form.Check2, &station_.form.Check3}) {
        auto* box = findChild<QCheckBox*>(always->objectName());
        connect(box, &QCheckBox::clicked, always, [always] { always->setFlag(true); });
    }

    connect(commandButton(QStringLiteral("OpenCommand")), &QToolButton::clicked, this,
            [this] { OpenCommand(station_); });
    connect(commandButton(QStringLiteral("SaveCommand")), &QToolButton::clicked, this,
            [this] { SaveCommand(station_); });
    connect(commandButton(QStringLiteral("ConnectCommand")), &QToolButton::clicked, this, [this] {
        showPanel(connectionPanel_);
        connectionPanel_->load();
    });
    connect(commandButton(QStringLiteral("CSVCommand")), &QToolButton::clicked, this,
            &MainWindow::toggleRecordList);
    connect(commandButton(QStringLiteral("CheckCommand")), &QToolButton::clicked, checkPanel_,
            &CheckPanel::check);

    connect(&station_.programEdits, &ProgramEdits::changed, this, &MainWindow::showTitle);
    showTitle();
    resize(kDefaultWidth, kDefaultHeight);
}

void MainWindow::setTitleNote(const QString& note)
{
    titleNote_ = note;
    showTitle();
}

void MainWindow::showTitle()
{
    QString title =
        kCaption + QStringLiteral(" - ") + QFileInfo(station_.settings.TestFileName).fileName();
    if (station_.programEdits.unsaved())
        title += QLatin1Char('*');
    if (!titleNote_.isEmpty())
        title += QStringLiteral(" - ") + titleNote_;
    setWindowTitle(title);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // Unsaved edits are saved or dropped as the operator answers; Cancel keeps the window.
    if (!settleUnsavedEdits(station_)) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void MainWindow::buildTrendPlot()
{
    trendPlot_ = new TrendPlot(this);
    trendPlot_->setStore(&runSeries_);
    trendPlot_->setPrompts(&station_.prompts);
    trendPlot_->addTool(LogViewer::openLogButton(station_.prompts, station_.testLogDir(), this));
    // The export dialog offers the run's serial number beside its log.
    const auto presetExport = [this] {
        trendPlot_->setExportPreset(
            QDir(station_.testLogDir())
                .filePath(station_.form.SNText.text() + QStringLiteral(".png")));
    };
    presetExport();
    connect(&station_.form.SNText, &FormValue::changed, trendPlot_, presetExport);
}

void MainWindow::buildStepEditing()
{
    stepEditor_ = new StepEditor(station_, this);
    addPanel(stepEditor_);
    connect(stepEditor_, &StepEditor::openRequested, this, [this] { showPanel(stepEditor_); });
    connect(stepEditor_, &StepEditor::closeRequested, this, [this] { hidePanel(stepEditor_); });

    stepGridEditor_ = new StepGridEditor(*stepGrid_, station_, *rightMenu_, *stepEditor_);
    // The picture buttons take no focus: an open cell edit is written before any of them acts,
    // so that Save and Open see it. These connections come before the buttons' own; Start
    // writes it itself (RunBinding), since a refused edit stops it.
    for (const CommandButton& b : kCommandButtons) {
        if (qstrcmp(b.name, "StartCommand") != 0)
            connect(commandButton(QString::fromLatin1(b.name)), &QToolButton::clicked,
                    stepGridEditor_, &StepGridEditor::commit);
    }
    const struct
    {
        const char* button;
        void (StepGridEditor::*command)();
    } commands[] = {
        {"AddCommand", &StepGridEditor::addStep},
        {"InsCommand", &StepGridEditor::insertStep},
        {"DelCommand", &StepGridEditor::deleteStep},
        {"MoveUpCommand", &StepGridEditor::moveStepUp},
        {"MoveDnCommand", &StepGridEditor::moveStepDown},
    };
    for (const auto& c : commands)
        connect(commandButton(QString::fromLatin1(c.button)), &QToolButton::clicked,
                stepGridEditor_, c.command);
}

QWidget* MainWindow::buildCommandRow()
{
    auto* row = new QWidget;
    row->setObjectName(QStringLiteral("CommandRow"));
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    for (const CommandButton& b : kCommandButtons) {
        auto* button = new QToolButton(row);
        button->setObjectName(QString::fromLatin1(b.name));
        button->setText(QString::fromLatin1(b.text));
        button->setToolTip(QString::fromLatin1(b.tip));
        button->setIcon(
            QIcon::fromTheme(QString::fromLatin1(b.themeIcon), style()->standardIcon(b.fallback)));
        button->setIconSize(QSize(24, 24));
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setAutoRaise(true);
        button->setMinimumWidth(56);
        layout->addWidget(button);
    }
    layout->addSpacing(16);

    auto* snLabel = new QLabel(QStringLiteral("SN :"), row);
    snLabel->setObjectName(QStringLiteral("Label4"));
    auto* sn = new QLineEdit(row);
    sn->setObjectName(QStringLiteral("SNText"));
    sn->setToolTip(QStringLiteral("Input Serial Number"));
    sn->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("20260105100000")));
    snLabel->setBuddy(sn);
    layout->addWidget(snLabel);
    layout->addWidget(sn, 1);

    auto* device = new QComboBox(row);
    device->setObjectName(QStringLiteral("Combo1"));
    device->setEditable(true);
    device->setMinimumContentsLength(6);
    layout->addWidget(device);

    auto* work = new QLabel(row);
    work->setObjectName(QStringLiteral("WorkLabel"));
    work->setFrameShape(QFrame::Panel);
    work->setFrameShadow(QFrame::Sunken);
    work->setAlignment(Qt::AlignCenter);
    work->setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("MM")));
    layout->addWidget(work, 0, Qt::AlignVCenter);

    auto* count = new QLabel(row);
    count->setObjectName(QStringLiteral("LoadCountLabel"));
    count->setToolTip(QStringLiteral("Configured loads"));
    count->setFrameShape(QFrame::Panel);
    count->setFrameShadow(QFrame::Sunken);
    count->setAlignment(Qt::AlignCenter);
    count->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("MMM")));
    layout->addWidget(count, 0, Qt::AlignVCenter);
    work->setFixedHeight(sn->sizeHint().height());
    count->setFixedHeight(sn->sizeHint().height());
    return row;
}

QWidget* MainWindow::buildMeasurementFrame()
{
    auto* frame = new QGroupBox(QStringLiteral("Measurement Value"));
    frame->setObjectName(QStringLiteral("Frame4"));
    auto* layout = new QVBoxLayout(frame);

    QTableView* phase = statusGridView(station_.form.grdPhase3);
    layout->addWidget(phase);

    // One value a row; the loop counters share the last row.
    auto* values = new QGridLayout;
    const struct
    {
        const char* label;
        const char* name;
        const char* tip;
    } boxes[] = {
        {"Voltage", "VoltageText", ""},  {"Current", "CurrentText", ""},
        {"Power", "PowerText", "P=I*V"}, {"Resistance", "ResText", "R=V/I"},
        {"kWh", "KWHText", ""},          {"Ah", "AHText", ""},
    };
    int row = 0;
    for (const auto& b : boxes) {
        values->addWidget(new QLabel(QString::fromLatin1(b.label), frame), row, 0);
        values->addWidget(valueBox(QString::fromLatin1(b.name), frame, QString::fromLatin1(b.tip)),
                          row, 1, 1, 3);
        ++row;
    }
    values->addWidget(new QLabel(QStringLiteral("Loop1"), frame), row, 0);
    values->addWidget(valueBox(QStringLiteral("Loop1Text"), frame), row, 1);
    values->addWidget(new QLabel(QStringLiteral("Loop2"), frame), row, 2);
    values->addWidget(valueBox(QStringLiteral("Loop2Text"), frame), row, 3);
    values->setColumnStretch(1, 1);
    values->setColumnStretch(3, 1);
    layout->addLayout(values);

    layout->addWidget(valueBox(QStringLiteral("TimeText"), frame));

    auto* options = new QHBoxLayout;
    const struct
    {
        const char* name;
        const char* caption;
        bool visible;
    } checks[] = {
        {"Check1", "Voltage", true}, {"Check2", "Current", true}, {"Check3", "Power", true},
        {"Check4", "kWh", false},    {"Check5", "Ah", false},     {"Check7", "Resistant", false},
    };
    for (const auto& c : checks) {
        auto* box = new QCheckBox(QString::fromLatin1(c.caption), frame);
        box->setObjectName(QString::fromLatin1(c.name));
        // The kWh, Ah and resistance options pass from a loaded program to the next save.
        box->setVisible(c.visible);
        if (c.visible)
            options->addWidget(box);
    }
    options->addStretch(1);
    layout->addLayout(options);
    return frame;
}

QWidget* MainWindow::buildLoadStatusFrame()
{
    auto* frame = new QGroupBox(QStringLiteral("Load Connect Status"));
    frame->setObjectName(QStringLiteral("Frame5"));
    auto* layout = new QVBoxLayout(frame);
    QTableView* status = statusGridView(station_.form.LoadStatusGrid);
    layout->addWidget(status);
    return frame;
}

QTableView* MainWindow::gridView(const QString& name)
{
    auto* view = new QTableView(this);
    view->setObjectName(name);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    return view;
}

QTableView* MainWindow::statusGridView(GridModel& model)
{
    // A status grid shows every cell whole, without scrolling, and marks no selection.
    QTableView* view = gridView(model.objectName());
    view->setSelectionMode(QAbstractItemView::NoSelection);
    view->setFocusPolicy(Qt::NoFocus);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    (new GridViewBinding(*view, model))->setWidenToContents(true);
    const auto fit = [view] { fitToContents(view); };
    fit();
    connect(&model, &GridModel::shapeChanged, view, fit);
    connect(&model, &GridModel::colWidthChanged, view, fit);
    connect(&model, &QAbstractItemModel::dataChanged, view, fit);
    return view;
}

QToolButton* MainWindow::commandButton(const QString& name) const
{
    return findChild<QToolButton*>(name);
}

void MainWindow::addPanel(QWidget* panel)
{
    panel->setParent(frame2_);
    panel->hide();
    panels_ << panel;
}

void MainWindow::showPanel(QWidget* panel)
{
    placePanel(panel);
    panel->raise();
    panel->show();
}

void MainWindow::hidePanel(QWidget* panel)
{
    panel->hide();
    if (auto* setStep = findChild<QWidget*>(QStringLiteral("SetStepCommand")))
        setStep->hide();
}

void MainWindow::placePanel(QWidget* panel)
{
    // Over the top left of the step grid, and never beyond Frame2.
    const QRect area = frame2_->contentsRect();
    QSize size = panel->sizeHint().expandedTo(panel->minimumSizeHint());
    size = size.boundedTo(area.size());
    QPoint at = stepGrid_->mapTo(frame2_, QPoint(kPanelInset, kPanelInset));
    at.setX(std::clamp(at.x(), area.left(), area.right() - size.width() + 1));
    at.setY(std::clamp(at.y(), area.top(), area.bottom() - size.height() + 1));
    panel->setGeometry(QRect(at, size));
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    for (QWidget* panel : std::as_const(panels_)) {
        if (panel->isVisible())
            placePanel(panel);
    }
}

void MainWindow::toggleRecordList()
{
    recordList_->setVisible(recordList_->isHidden());
}

void MainWindow::followRecordList()
{
    // The list appears with its first record and goes with the last; in between the CSV
    // button shows and hides it.
    const bool hasRows = station_.form.RecordList.rowCount() > 0;
    if (hasRows != recordListHadRows_)
        recordList_->setVisible(hasRows);
    recordListHadRows_ = hasRows;
}
