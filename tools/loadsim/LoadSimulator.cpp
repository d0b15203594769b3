#include "LoadSimulator.h"

#include "SimPeer.h"

#include "common/Clock.h"
#include "common/Waits.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <cmath>
#include <functional>
#include <type_traits>

namespace {
const QString kDirect = QStringLiteral("direct");
const QString kPulseCommand = QStringLiteral("DYNC ON");

QString canonicalCommand(const QString& line)
{
    return line.trimmed().toUpper();
}
} // namespace

LoadSimulator::LoadSimulator(SourceKind source, QObject* parent)
    : QObject(parent), instrument_(source), pulseTimer_(this), downTimer_(this)
{
    qRegisterMetaType<SimLogEntry>();
    clock_.start();
    pulseTimer_.setSingleShot(true);
    pulseTimer_.setTimerType(Qt::PreciseTimer);
    connect(&pulseTimer_, &QTimer::timeout, this, &LoadSimulator::finishPulse);
    downTimer_.setSingleShot(true);
    connect(&downTimer_, &QTimer::timeout, this, &LoadSimulator::comeBack);
}

LoadSimulator::~LoadSimulator()
{
    // The peers call back into the simulator: they go while its members are still there.
    closeAll();
}

template <typename F> auto LoadSimulator::inOwnThread(F&& f) -> decltype(f())
{
    using R = decltype(f());
    if (QThread::currentThread() == thread())
        return f();
    if constexpr (std::is_void_v<R>) {
        QMetaObject::invokeMethod(this, f, Qt::BlockingQueuedConnection);
    } else {
        R result{};
        QMetaObject::invokeMethod(
            this, [&] { result = f(); }, Qt::BlockingQueuedConnection);
        return result;
    }
}

// ---- transports

QTcpServer* LoadSimulator::listen(quint16 port, const QHostAddress& address,
                                  const QString& transport, QString* error)
{
    auto* server = new QTcpServer(this);
    if (!server->listen(address, port)) {
        if (error)
            *error = QStringLiteral("cannot listen on %1:%2: %3")
                         .arg(address.toString())
                         .arg(port)
                         .arg(server->errorString());
        delete server;
        return nullptr;
    }
    connect(server, &QTcpServer::newConnection, this, [this, server, transport] {
        while (QTcpSocket* socket = server->nextPendingConnection())
            attach(new TcpPeer(socket, transport, this));
    });
    return server;
}

quint16 LoadSimulator::listenTcp(quint16 port, const QHostAddress& address, QString* error)
{
    return inOwnThread([&]() -> quint16 {
        delete tcpServer_;
        tcpServer_ = listen(port, address, QStringLiteral("tcp"), error);
        return tcpServer_ ? tcpServer_->serverPort() : 0;
    });
}

quint16 LoadSimulator::listenGpibBridge(quint16 port, const QHostAddress& address, QString* error)
{
    return inOwnThread([&]() -> quint16 {
        delete gpibServer_;
        gpibServer_ = listen(port, address, QStringLiteral("gpib"), error);
        return gpibServer_ ? gpibServer_->serverPort() : 0;
    });
}

QString LoadSimulator::openPty(QString* error)
{
    return inOwnThread([&]() -> QString {
        delete pty_;
        pty_ = PtyPeer::open(this, error);
        if (!pty_)
            return {};
        attach(pty_);
        return pty_->devicePath();
    });
}

void LoadSimulator::closeTransports()
{
    inOwnThread([this] { closeAll(); });
}

void LoadSimulator::closeAll()
{
    delete tcpServer_;
    delete gpibServer_;
    tcpServer_ = gpibServer_ = nullptr;
    pty_ = nullptr;
    qDeleteAll(findChildren<SimPeer*>(Qt::FindDirectChildrenOnly));
}

quint16 LoadSimulator::tcpPort() const
{
    return const_cast<LoadSimulator*>(this)->inOwnThread(
        [this]() -> quint16 { return tcpServer_ ? tcpServer_->serverPort() : 0; });
}

quint16 LoadSimulator::gpibBridgePort() const
{
    return const_cast<LoadSimulator*>(this)->inOwnThread(
        [this]() -> quint16 { return gpibServer_ ? gpibServer_->serverPort() : 0; });
}

QString LoadSimulator::ptyPath() const
{
    return const_cast<LoadSimulator*>(this)->inOwnThread(
        [this]() -> QString { return pty_ ? pty_->devicePath() : QString(); });
}

void LoadSimulator::attach(SimPeer* peer)
{
    connect(peer, &SimPeer::lineReceived, this,
            [this, peer](const QByteArray& line) { handleLine(peer, line); });
}

// ---- lines and replies

void LoadSimulator::handleLine(SimPeer* peer, const QByteArray& received)
{
    QByteArray bytes = received;
    if (bytes.endsWith('\r'))
        bytes.chop(1);
    const QString line = QString::fromLatin1(bytes);

    SimLogEntry entry;
    LoadInstrument::Outcome outcome;
    bool drop = false;
    double pulseRealMs = 0;
    {
        QMutexLocker lock(&mutex_);
        entry.ms = static_cast<double>(clock_.nsecsElapsed()) / 1e6;
        entry.transport = peer ? peer->transport() : kDirect;
        entry.line = line;
        outcome = instrument_.execute(line, simSecondsLocked());
        entry.understood = outcome.understood;
        if (logKept_)
            log_.append(entry);
        if (logFile_.isOpen()) {
            const QString record =
                QStringLiteral("%1\t%2\t%3\n")
                    .arg(QString::number(entry.ms, 'f', 3), entry.transport, entry.line);
            logFile_.write(record.toLatin1());
            logFile_.flush();
        }
        ++linesSinceFaults_;
        drop = peer && faults_.dropAfter > 0 && linesSinceFaults_ == faults_.dropAfter;
        // A followed clock skips the sequence's time when the sequence begins, and only then.
        const double pulseMs = instrument_.pulseSeconds() * 1000;
        if (outcome.pulseStarted)
            pulseRealMs = followed_ ? followed_->realMsFor(pulseMs) : pulseMs / speed_;
        logged_.wakeAll();
    }
    emit lineLogged(entry);

    if (outcome.pulseStopped)
        pulseTimer_.stop();
    if (outcome.pulseStarted) {
        pulsePeer_ = peer;
        pulseTimer_.start(static_cast<int>(std::lround(pulseRealMs)));
    }
    if (drop) {
        goDown(peer);
        return;
    }
    if (outcome.reply && peer)
        reply(peer, canonicalCommand(line), *outcome.reply);
}

void LoadSimulator::goDown(SimPeer* dropped)
{
    const SimFaults f = faults();
    dropped->hangUp();
    if (f.afterDrop == SimFaults::AfterDrop::Silent) {
        silent_ = true;
        if (pty_)
            pty_->revive(); // it hears, and answers nothing
    } else if (f.afterDrop == SimFaults::AfterDrop::Refuse) {
        if (tcpServer_) {
            tcpAddress_ = tcpServer_->serverAddress();
            downTcpPort_ = tcpServer_->serverPort();
        }
        if (gpibServer_) {
            gpibAddress_ = gpibServer_->serverAddress();
            downGpibPort_ = gpibServer_->serverPort();
        }
        delete tcpServer_;
        delete gpibServer_;
        tcpServer_ = gpibServer_ = nullptr;
    }
    if (f.downMs > 0)
        downTimer_.start(f.downMs);
}

void LoadSimulator::comeBack()
{
    silent_ = false;
    if (downTcpPort_ != 0 && !tcpServer_)
        tcpServer_ = listen(downTcpPort_, tcpAddress_, QStringLiteral("tcp"), nullptr);
    if (downGpibPort_ != 0 && !gpibServer_)
        gpibServer_ = listen(downGpibPort_, gpibAddress_, QStringLiteral("gpib"), nullptr);
    downTcpPort_ = downGpibPort_ = 0;
    if (pty_)
        pty_->revive();
}

void LoadSimulator::reply(SimPeer* peer, const QString& command, const QString& text)
{
    SimFaults f;
    {
        QMutexLocker lock(&mutex_);
        f = faults_;
        const bool anyReplyFault =
            f.form != SimFaults::ReplyForm::Normal || f.delayMs > 0 || f.splitPauseMs > 0;
        const bool applies = anyReplyFault &&
                             (f.only.trimmed().isEmpty() || canonicalCommand(f.only) == command) &&
                             (f.count <= 0 || faultedReplies_ < f.count);
        if (!applies)
            f = SimFaults{};
        else
            ++faultedReplies_;
    }

    if (silent_)
        return;
    QByteArray bytes;
    switch (f.form) {
    case SimFaults::ReplyForm::None:
        return;
    case SimFaults::ReplyForm::SingleField:
        bytes = text.section(QLatin1Char(','), 0, 0).toLatin1();
        break;
    case SimFaults::ReplyForm::Empty:
        break;
    case SimFaults::ReplyForm::Garbage:
        bytes = kGarbageReply;
        break;
    case SimFaults::ReplyForm::Normal:
        bytes = text.toLatin1();
        break;
    }
    bytes += '\n';
    if (f.splitPauseMs > 0 && bytes.size() >= 2) {
        const qsizetype half = bytes.size() / 2;
        peer->send(bytes.left(half), f.delayMs);
        peer->send(bytes.mid(half), f.delayMs + f.splitPauseMs);
    } else {
        peer->send(bytes, f.delayMs);
    }
}

void LoadSimulator::finishPulse()
{
    QString text;
    {
        QMutexLocker lock(&mutex_);
        // reset() in the meantime ended the sequence without a result.
        if (!instrument_.state().pulseRunning)
            return;
        text = instrument_.finishPulse(simSecondsLocked());
    }
    if (pulsePeer_)
        reply(pulsePeer_, kPulseCommand, text);
}

// ---- log

QStringList LoadSimulator::lines() const
{
    QMutexLocker lock(&mutex_);
    QStringList out;
    out.reserve(log_.size());
    for (const SimLogEntry& entry : log_)
        out << entry.line;
    return out;
}

QList<SimLogEntry> LoadSimulator::log() const
{
    QMutexLocker lock(&mutex_);
    return log_;
}

void LoadSimulator::setLogKept(bool kept)
{
    QMutexLocker lock(&mutex_);
    logKept_ = kept;
    if (!kept)
        log_.clear();
}

void LoadSimulator::clearLog()
{
    QMutexLocker lock(&mutex_);
    log_.clear();
}

bool LoadSimulator::setLogFile(const QString& path, QString* error)
{
    QMutexLocker lock(&mutex_);
    logFile_.close();
    if (path.isEmpty())
        return true;
    logFile_.setFileName(path);
    if (!logFile_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        if (error)
            *error = QStringLiteral("cannot write the log file %1: %2")
                         .arg(QDir::toNativeSeparators(path), logFile_.errorString());
        return false;
    }
    return true;
}

bool LoadSimulator::waitForLines(int count, int timeoutMs) const
{
    if (QThread::currentThread() == thread()) {
        const SystemClock clock;
        return WaitUntil(clock, timeoutMs, [&] {
            QMutexLocker lock(&mutex_);
            return log_.size() >= count;
        });
    }
    const QDeadlineTimer deadline(timeoutMs);
    QMutexLocker lock(&mutex_);
    while (log_.size() < count) {
        if (!logged_.wait(&mutex_, deadline))
            return log_.size() >= count;
    }
    return true;
}

// ---- state and knobs

double LoadSimulator::simSecondsLocked() const
{
    if (followed_)
        return simBaseS_ + (followed_->monotonicMs() - followedOriginMs_) / 1000;
    const double realMs = static_cast<double>(clock_.nsecsElapsed()) / 1e6;
    return simBaseS_ + (realMs - realBaseMs_) / 1000 * speed_;
}

double LoadSimulator::simSeconds() const
{
    QMutexLocker lock(&mutex_);
    return simSecondsLocked();
}

LoadState LoadSimulator::state() const
{
    QMutexLocker lock(&mutex_);
    return instrument_.state();
}

PhaseReadings LoadSimulator::readings()
{
    QMutexLocker lock(&mutex_);
    return instrument_.measure(simSecondsLocked());
}

double LoadSimulator::drawnAh()
{
    QMutexLocker lock(&mutex_);
    instrument_.advanceTo(simSecondsLocked());
    return instrument_.source().drawnAh();
}

void LoadSimulator::reset()
{
    QMutexLocker lock(&mutex_);
    instrument_.reset(simSecondsLocked());
}

void LoadSimulator::setFaults(const SimFaults& faults)
{
    {
        QMutexLocker lock(&mutex_);
        faults_ = faults;
        faultedReplies_ = 0;
        linesSinceFaults_ = 0;
    }
    // A load that went down after a drop is back once the faults are set anew.
    inOwnThread([this] {
        downTimer_.stop();
        comeBack();
    });
}

SimFaults LoadSimulator::faults() const
{
    QMutexLocker lock(&mutex_);
    return faults_;
}

void LoadSimulator::setSpeed(double speed)
{
    if (!(speed > 0) || !std::isfinite(speed))
        return;
    QMutexLocker lock(&mutex_);
    rebaseLocked();
    speed_ = speed;
}

void LoadSimulator::rebaseLocked()
{
    instrument_.advanceTo(simSecondsLocked());
    simBaseS_ = simSecondsLocked();
    realBaseMs_ = static_cast<double>(clock_.nsecsElapsed()) / 1e6;
    followedOriginMs_ = followed_ ? followed_->monotonicMs() : 0;
}

void LoadSimulator::followClock(const Clock* clock)
{
    QMutexLocker lock(&mutex_);
    rebaseLocked();
    followed_ = clock;
    followedOriginMs_ = clock ? clock->monotonicMs() : 0;
}

double LoadSimulator::speed() const
{
    QMutexLocker lock(&mutex_);
    return speed_;
}

SourceKind LoadSimulator::source() const
{
    QMutexLocker lock(&mutex_);
    return instrument_.source().kind();
}

void LoadSimulator::setSource(SourceKind source)
{
    changeSource({}, nullptr, [source](SourceModel& model) { model.setKind(source); });
}

bool LoadSimulator::changeSource(const QString& problem, QString* error,
                                 const std::function<void(SourceModel&)>& change)
{
    if (!problem.isEmpty()) {
        if (error)
            *error = problem;
        return false;
    }
    QMutexLocker lock(&mutex_);
    // What was drawn so far was drawn from the source as it was.
    instrument_.advanceTo(simSecondsLocked());
    change(instrument_.source());
    return true;
}

bool LoadSimulator::setBattery(const BatterySource& battery, QString* error)
{
    return changeSource(checkBatterySource(battery), error,
                        [&battery](SourceModel& model) { model.setBattery(battery); });
}

BatterySource LoadSimulator::battery() const
{
    QMutexLocker lock(&mutex_);
    return instrument_.source().battery();
}

bool LoadSimulator::setAc(const AcSource& ac, QString* error)
{
    return changeSource(checkAcSource(ac), error, [&ac](SourceModel& model) { model.setAc(ac); });
}

AcSource LoadSimulator::ac() const
{
    QMutexLocker lock(&mutex_);
    return instrument_.source().ac();
}

void LoadSimulator::setSeed(unsigned seed)
{
    QMutexLocker lock(&mutex_);
    instrument_.setSeed(seed);
}

// ---- helpers

bool parseListenAddress(const QString& text, QHostAddress* address, quint16* port, QString* error)
{
    const auto colon = text.lastIndexOf(QLatin1Char(':'));
    const QString host = colon >= 0 ? text.left(colon) : QString();
    const QString portText = text.mid(colon + 1);
    bool ok = false;
    const uint number = portText.toUInt(&ok);
    if (!ok || number > 65535) {
        *error =
            QStringLiteral("\"%1\" is not [ADDRESS:]PORT with a port from 0 to 65535").arg(text);
        return false;
    }
    QHostAddress parsed(QHostAddress::LocalHost);
    if (!host.isEmpty() && host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0 &&
        !parsed.setAddress(host)) {
        *error = QStringLiteral("\"%1\" is not an IPv4 address").arg(host);
        return false;
    }
    *address = parsed;
    *port = static_cast<quint16>(number);
    return true;
}

QString gpibSimLibraryPath()
{
    // An installed program (also one unpacked anywhere) finds the library relative to itself,
    // before a build tree that may still exist on the same machine.
    const QString built = QStringLiteral(ACL3_GPIBSIM_LIBRARY_PATH);
    if (QCoreApplication::instance()) {
        const QString installed =
            QDir::cleanPath(QDir(QCoreApplication::applicationDirPath())
                                .filePath(QStringLiteral(ACL3_GPIBSIM_INSTALLED_DIR "/") +
                                          QFileInfo(built).fileName()));
        if (QFileInfo::exists(installed))
            return installed;
    }
    return built;
}

void setGpibSimEnvironment(quint16 bridgePort)
{
    qputenv("ACL3_GPIB_LIBRARY", QFile::encodeName(gpibSimLibraryPath()));
    qputenv("ACL3_GPIBSIM", QByteArray("127.0.0.1:") + QByteArray::number(bridgePort));
}
