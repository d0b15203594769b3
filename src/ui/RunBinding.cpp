#include "ui/RunBinding.h"

#include "execution/RunControl.h"
#include "station/ProgramCheckCommands.h"
#include "ui/CheckPanel.h"
#include "ui/MainWindow.h"
#include "ui/StepGridEditor.h"

#include <QCloseEvent>
#include <QToolButton>

RunBinding::RunBinding(MainWindow& window, RunControl& run) : QObject(&window), run_(run)
{
    // A cell edit still open belongs to the program that runs; a refused one stops the Start.
    // The program check comes next: a refused Start leaves its findings in view.
    StepGridEditor* cells = window.stepGridEditor();
    connect(window.commandButton(QStringLiteral("StartCommand")), &QToolButton::clicked, &run,
            [cells, &run, &window] {
                if (!cells->commit())
                    return;
                if (!ConfirmStart(window.station())) {
                    window.checkPanel()->showFindings();
                    return;
                }
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
