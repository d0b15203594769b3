#include "links/GpibBinding.h"

#include "links/GpibApi.h"

#include <QLibrary>
#include <QStringList>

namespace {

// The status word's error bit, set when the status variables could not be registered.
constexpr int kIbstaError = 0x8000;

class GpibLibrary final : public GpibBinding
{
public:
    ~GpibLibrary() override
    {
        if (registered_)
            unregisterThread();
    }

    bool load(QString* reason) override
    {
        if (ready_)
            return true;
        QStringList problems;
        for (const QString& name : gpibLibraryCandidates()) {
            library_.setFileName(name);
            if (!library_.load()) {
                problems << library_.errorString();
                continue;
            }
            if (resolve())
                return ready_ = true;
            problems << QStringLiteral("%1 lacks ibdev, ibwrt, ibrd, ibonl or ThreadIbcnt")
                            .arg(library_.fileName());
            library_.unload();
        }
        *reason =
            QStringLiteral("No GPIB library found (%1)").arg(problems.join(QStringLiteral("; ")));
        return false;
    }

    int openDevice(int address) override
    {
        if (!ready_)
            return -1;
        registerThread();
        return ibdev_(gpib::kBoard, address, gpib::kSecondaryAddress, gpib::kTimeoutT1s, gpib::kEot,
                      gpib::kEos);
    }

    void offline(int descriptor) override
    {
        if (!ready_)
            return;
        registerThread();
        ibonl_(descriptor, 0);
    }

    void write(int descriptor, const QByteArray& bytes) override
    {
        if (!ready_)
            return;
        registerThread();
        ibwrt_(descriptor, bytes.constData(), static_cast<long>(bytes.size()));
    }

    int read(int descriptor, QByteArray* buffer) override
    {
        buffer->fill(' ', gpib::kReadBufferSize);
        if (!ready_)
            return 0;
        registerThread();
        ibrd_(descriptor, buffer->data(), gpib::kReadBufferSize);
        return static_cast<qint16>(ThreadIbcnt_() & 0xFFFF);
    }

private:
    template <typename F> bool resolveOne(F*& fn, const char* name)
    {
        fn = reinterpret_cast<F*>(library_.resolve(name));
        return fn != nullptr;
    }

    bool resolve()
    {
        const bool all = resolveOne(ibdev_, "ibdev") && resolveOne(ibwrt_, "ibwrt") &&
                         resolveOne(ibrd_, "ibrd") && resolveOne(ibonl_, "ibonl") &&
                         resolveOne(ThreadIbcnt_, "ThreadIbcnt");
        // Only some libraries keep per-thread status variables.
        resolveOne(register_, "RegisterGpibGlobalsForThread");
        resolveOne(unregister_, "UnregisterGpibGlobalsForThread");
        return all;
    }

    // Before the first call the library learns where this thread's status words live. A thread
    // that was registered already is registered afresh; a failure leaves the error status, and
    // the calls go on regardless (only the count after a read is ever looked at).
    void registerThread()
    {
        if (attempted_ || !register_)
            return;
        attempted_ = true;
        int answer = register_(&ibsta_, &iberr_, &ibcnt_);
        if (answer == 1) {
            unregisterThread();
            answer = register_(&ibsta_, &iberr_, &ibcnt_);
        } else if (answer == 2 || answer == 3) {
            unregisterThread();
        }
        registered_ = answer == 0;
        if (!registered_)
            ibsta_ = kIbstaError;
    }

    void unregisterThread()
    {
        if (unregister_)
            unregister_();
    }

    QLibrary library_;
    bool ready_ = false;
    bool attempted_ = false;
    bool registered_ = false;
    int ibsta_ = 0;
    int iberr_ = 0;
    int ibcnt_ = 0;
    decltype(::ibdev)* ibdev_ = nullptr;
    decltype(::ibwrt)* ibwrt_ = nullptr;
    decltype(::ibrd)* ibrd_ = nullptr;
    decltype(::ibonl)* ibonl_ = nullptr;
    decltype(::ThreadIbcnt)* ThreadIbcnt_ = nullptr;
    decltype(::RegisterGpibGlobalsForThread)* register_ = nullptr;
    decltype(::UnregisterGpibGlobalsForThread)* unregister_ = nullptr;
};

} // namespace

QStringList gpibLibraryCandidates()
{
    const QString chosen = qEnvironmentVariable("ACL3_GPIB_LIBRARY");
    if (!chosen.isEmpty())
        return {chosen};
    return {QStringLiteral("libgpib.so.0"), QStringLiteral("libni4882.so"),
            QStringLiteral("libgpibapi.so")};
}

std::unique_ptr<GpibBinding> makeGpibLibrary()
{
    return std::make_unique<GpibLibrary>();
}
