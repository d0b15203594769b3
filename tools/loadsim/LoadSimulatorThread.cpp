#include "LoadSimulatorThread.h"

LoadSimulatorThread::LoadSimulatorThread(SourceKind source) : simulator_(new LoadSimulator(source))
{
    thread_.setObjectName(QStringLiteral("loadsim"));
    simulator_->moveToThread(&thread_);
    thread_.start();
}

LoadSimulatorThread::~LoadSimulatorThread()
{
    // The simulator's sockets and timers belong to its thread: it is deleted there.
    QMetaObject::invokeMethod(
        simulator_, [this] { delete simulator_; }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}
