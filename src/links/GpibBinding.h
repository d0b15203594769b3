#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

// The GPIB bus as the link layer needs it: open a device at an address, take it offline, write a
// command, read a reply. Descriptors are the library's; -1 is a failed open.
class GpibBinding
{
public:
    virtual ~GpibBinding() = default;

    // Makes the library ready. False, with the reason, when there is none; every call below then
    // does nothing and an open yields -1.
    virtual bool load(QString* reason) = 0;

    // A device on board 0 at the primary address, time-out one second, EOI on writes.
    virtual int openDevice(int address) = 0;
    virtual void offline(int descriptor) = 0;
    virtual void write(int descriptor, const QByteArray& bytes) = 0;
    // Reads into a buffer of gpib::kReadBufferSize bytes (blanks before the read) and returns the
    // number of bytes transferred, 0 or less when nothing came.
    virtual int read(int descriptor, QByteArray* buffer) = 0;
};

// The library named by ACL3_GPIB_LIBRARY, else the first of libgpib.so.0, libni4882.so and
// libgpibapi.so that loads; resolved at run time so that the station runs without one.
std::unique_ptr<GpibBinding> makeGpibLibrary();

// The library names tried, in order.
QStringList gpibLibraryCandidates();
