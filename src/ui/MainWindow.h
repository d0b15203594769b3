#pragma once

#include "series/SeriesStore.h"

#include <QList>
#include <QMainWindow>
#include <QStringList>

class CheckPanel;
class ConnectionPanel;
class GridModel;
class QMenu;
class QTableView;
class QToolButton;
class Station;
class StepEditor;
class StepGridEditor;
class TrendPlot;

// The station's main window "MainForm": views bound to the station state. Every control carries
// the object name of the value or grid it shows. The window reads and writes the station only
// through its form values, its grid models and the station's commands (Open, Save, the
// connection panel); no station routine touches a widget.
//
// Panels that open over the step grid (the connection panel, the step editor) are added with
// addPanel() and shown with showPanel(): in front of the other controls, without blocking them.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    static const QString kCaption;
    static constexpr int kDefaultWidth = 1280;
    static constexpr int kDefaultHeight = 800;

    explicit MainWindow(Station& station, QWidget* parent = nullptr);

    Station& station() const { return station_; }

    // The step grid TestStepGrid, the hidden copy buffer CopyPasteGrid, the record list.
    QTableView* stepGrid() const { return stepGrid_; }
    QTableView* copyPasteGrid() const { return copyPasteGrid_; }
    QTableView* recordList() const { return recordList_; }
    // The trend plot below the step grid, and the run's recorded values that it draws (the run
    // control's log feeds them).
    TrendPlot* trendPlot() const { return trendPlot_; }
    SeriesStore& runSeries() { return runSeries_; }
    // The pop-up menu RightPUP with its actions COPY and PASTE.
    QMenu* rightMenu() const { return rightMenu_; }
    ConnectionPanel* connectionPanel() const { return connectionPanel_; }
    // The program check's findings ("CheckFrame"), shown by CheckCommand.
    CheckPanel* checkPanel() const { return checkPanel_; }
    // The step editor SetStepFrame and the step grid's in-place editing and row commands.
    StepEditor* stepEditor() const { return stepEditor_; }
    StepGridEditor* stepGridEditor() const { return stepGridEditor_; }
    // A picture button of the top row by its name ("AddCommand", ...).
    QToolButton* commandButton(const QString& name) const;

    // Takes a panel into the window, hidden until showPanel().
    void addPanel(QWidget* panel);
    // Shows a panel over the step grid, in front of the other controls.
    void showPanel(QWidget* panel);
    // Hides a panel, and SetStepCommand with it when the window has one.
    void hidePanel(QWidget* panel);

    // Names of the form values that no control of the window shows yet.
    const QStringList& unboundValues() const { return unbound_; }

    // The title: the caption, the program's file name with "*" while the step grid holds unsaved
    // edits, and a note of the session (a simulated load).
    void setTitleNote(const QString& note);

protected:
    void resizeEvent(QResizeEvent* event) override;
    // A window with unsaved edits asks Save / Discard / Cancel before it closes.
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* buildCommandRow();
    QWidget* buildMeasurementFrame();
    QWidget* buildLoadStatusFrame();
    QTableView* gridView(const QString& name);
    QTableView* statusGridView(GridModel& model);
    void placePanel(QWidget* panel);
    void toggleRecordList();
    void followRecordList();
    void buildStepEditing();
    void showTitle();
    void buildTrendPlot();

    Station& station_;
    QWidget* frame2_ = nullptr;
    QTableView* stepGrid_ = nullptr;
    QTableView* copyPasteGrid_ = nullptr;
    QTableView* recordList_ = nullptr;
    SeriesStore runSeries_;
    TrendPlot* trendPlot_ = nullptr;
    QMenu* rightMenu_ = nullptr;
    ConnectionPanel* connectionPanel_ = nullptr;
    CheckPanel* checkPanel_ = nullptr;
    StepEditor* stepEditor_ = nullptr;
    StepGridEditor* stepGridEditor_ = nullptr;
    QList<QWidget*> panels_;
    QStringList unbound_;
    bool recordListHadRows_ = false;
    QString titleNote_;
};
