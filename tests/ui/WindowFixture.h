#pragma once

#include "execution/StartupTimer.h"
#include "support/TestSupport.h"
#include "support/WidgetTestMain.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QTableView>

#include <memory>

// A program file of `steps` load levels whose link section names a loopback load.
QByteArray programWithSteps(int steps, const QString& ip = QStringLiteral("127.0.0.1"),
                            int port = 5025);

// The shown named widgets under `root` whose parent's layout does not hold them: a control
// left out of its layout still exists and is found by name, but sits at the frame's corner.
QStringList widgetsOutsideLayouts(const QWidget* root);

// The window on a station of a fresh temporary folder, with a fake clock and recording prompts.
// Write the station's files, then startUp().
struct WindowFixture : StationFixture
{
    WindowFixture();

    // ACL3.INI of a new station folder, with another ConnectMode (none for a null text).
    void writeSettings(const QString& connectMode = QStringLiteral("2"));
    void writeProgram(int steps) { writeFile(programPath(), programWithSteps(steps)); }
    // Shows the window and runs Timer1's first tick and the layout work that follows it.
    void startUp();
    // The usual start: the station's settings, a program of `steps` load levels, startUp().
    void startWith(int steps)
    {
        writeSettings();
        writeProgram(steps);
        startUp();
    }

    template <typename T = QWidget> T* find(const QString& name) const
    {
        return window->findChild<T*>(name);
    }
    QTableView* grid(const QString& name) const { return find<QTableView>(name); }
    void click(const QString& name) const;

    std::unique_ptr<MainWindow> window;
    std::unique_ptr<StartupTimer> timer1;
};
