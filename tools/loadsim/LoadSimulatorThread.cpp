#include "LoadSimulatorThread.h"

LoadSimulatorThread::LoadSimulatorThread(SourceKind source) : simulator_(new LoadSimulator(source))
{
    thread_.setObjectName(QStringLiteral("loadsim"));
    simulator_->moveToThread(&thread_);
    // The simulator's sockets and timers belong to its thread: it is deleted there, when the
    // thread finishes.
    QObject::connect(&thread_, &QThread::finished, simulator_, &QObject::deleteLater);
    thread_.start();
}

LoadSimulatorThread::~LoadSimulatorThread()
{
    thread_.quit();
    thread_.wait();
}
