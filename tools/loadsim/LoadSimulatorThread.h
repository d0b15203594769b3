#pragma once

#include "LoadSimulator.h"

#include <QThread>

// A LoadSimulator served by a thread of its own: for a station that blocks its thread while it
// waits (GPIB reads) and for timing measurements. Every public function of the simulator may be
// called through it from any thread; the transports are opened in the simulator's thread.
class LoadSimulatorThread
{
public:
    explicit LoadSimulatorThread(SourceKind source = SourceKind::Ac);
    ~LoadSimulatorThread();

    LoadSimulatorThread(const LoadSimulatorThread&) = delete;
    LoadSimulatorThread& operator=(const LoadSimulatorThread&) = delete;

    LoadSimulator& simulator() { return *simulator_; }
    LoadSimulator* operator->() { return simulator_; }

private:
    QThread thread_;
    LoadSimulator* simulator_;
};
