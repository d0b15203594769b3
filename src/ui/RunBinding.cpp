#include "ui/RunBinding.h"

#include "execution/RunControl.h"
#include "ui/MainWindow.h"
#include "ui/StepGridEditor.h"

#include <QCloseEvent>
#include <QToolButton>

RunBinding::RunBinding(MainWindow& window, RunControl& run) : QObject(&window), run_(run)
{
    // A cell edit still open belongs to the program that runs; a refused one stops the Start.
    StepGridEditor* cells = window.stepGridEditor();
    connect(window.commandButton(QStringLiteral("StartCommand")), &QToolButton::clicked, &run,
            [cells, &run] {
                if (cells->commit())
                    run.StartCommand();
            });
    connect(window.commandButton(QStringLiteral("StopCommand")), &QToolButton::clicked, &run,
            &RunControl::StopCommand);
    connect(window.commandButton(QStringLiteral("PauseCommand")), &QToolButton::clicked, &run,
            &RunControl::PauseCommand);
    // The run's records go to the window's plot as they are written.
    run.log().setSeriesStore(&window.runSeries());
    window.installEventFilter(this);
}

bool RunBinding::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Close)
        run_.windowClosing();
    return QObject::eventFilter(watched, event);
}
