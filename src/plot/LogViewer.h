#pragma once

#include "series/SeriesStore.h"

#include <QWidget>

class OperatorPrompts;
class QToolButton;
class TrendPlot;

// A finished run's CSV log in a window of its own, in the trend plot with all its tools.
class LogViewer : public QWidget
{
    Q_OBJECT

public:
    static const QString kFileFilter;

    // Reads the log and returns a viewer on it (not shown yet). A file that is not a run log is
    // refused: the operator is told why (and `refusal` gets the text), and nullptr comes back.
    // Lines that are not whole records are left out, and the operator is told which.
    static LogViewer* open(const QString& path, OperatorPrompts& prompts, QWidget* parent = nullptr,
                           QString* refusal = nullptr);

    // A button "Open log" that asks for a log (the dialog starts in `folder`) and shows it in a
    // viewer window of its own.
    static QToolButton* openLogButton(OperatorPrompts& prompts, const QString& folder,
                                      QWidget* parent);

    const QString& path() const { return path_; }
    const SeriesStore& store() const { return store_; }
    TrendPlot* plot() const { return plot_; }

private:
    LogViewer(const QString& path, OperatorPrompts& prompts, QWidget* parent);

    QString path_;
    SeriesStore store_;
    TrendPlot* plot_ = nullptr;
};
