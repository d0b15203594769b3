#pragma once

#include "loadsim/LoadSimulator.h"

#include <QByteArray>
#include <QFile>

#include <dlfcn.h>

// libacl3gpibsim.so loaded the way the station's GPIB binding loads a GPIB library.
struct GpibLibrary
{
    static constexpr int kTimeout1s = 11; // the station's time-out code

    GpibLibrary()
    {
        handle = ::dlopen(QFile::encodeName(gpibSimLibraryPath()).constData(), RTLD_NOW);
        if (!handle)
            return;
        ibdev = reinterpret_cast<decltype(ibdev)>(::dlsym(handle, "ibdev"));
        ibwrt = reinterpret_cast<decltype(ibwrt)>(::dlsym(handle, "ibwrt"));
        ibrd = reinterpret_cast<decltype(ibrd)>(::dlsym(handle, "ibrd"));
        ibonl = reinterpret_cast<decltype(ibonl)>(::dlsym(handle, "ibonl"));
        ThreadIbcnt = reinterpret_cast<decltype(ThreadIbcnt)>(::dlsym(handle, "ThreadIbcnt"));
    }
    ~GpibLibrary()
    {
        if (handle)
            ::dlclose(handle);
    }
    GpibLibrary(const GpibLibrary&) = delete;
    GpibLibrary& operator=(const GpibLibrary&) = delete;

    bool complete() const { return ibdev && ibwrt && ibrd && ibonl && ThreadIbcnt; }

    // A device as the station opens one: board 0, secondary 0, T1s, EOT on, EOS 1.
    int open(int pad = 1) { return ibdev(0, pad, 0, kTimeout1s, 11, 1); }
    int write(int ud, const QByteArray& text)
    {
        return ibwrt(ud, text.constData(), static_cast<long>(text.size()));
    }
    // One read into a 256-byte buffer, as the station reads; what the count says arrived.
    QByteArray read(int ud, long size = 256)
    {
        QByteArray buffer(256, ' ');
        ibrd(ud, buffer.data(), size);
        return buffer.left(ThreadIbcnt());
    }
    QByteArray query(int ud, const QByteArray& text)
    {
        write(ud, text);
        return read(ud);
    }

    void* handle = nullptr;
    int (*ibdev)(int, int, int, int, int, int) = nullptr;
    int (*ibwrt)(int, const void*, long) = nullptr;
    int (*ibrd)(int, void*, long) = nullptr;
    int (*ibonl)(int, int) = nullptr;
    int (*ThreadIbcnt)() = nullptr;
};
