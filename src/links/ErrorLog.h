#pragma once

#include <QString>

class Clock;

// A fault on a link, as it goes into an error record.
struct LinkFault
{
    int number = 0;
    QString text;
};

// Numbers of the error records that do not come from the serial port service (serial faults
// carry QSerialPort's error code, 1 to 13).
namespace linkerror {
inline constexpr int kBadInstrumentNumber = 101;
inline constexpr int kBadSerialSettings = 102;
inline constexpr int kNoSerialPort = 103;
inline constexpr int kNoGpibLibrary = 104;
inline constexpr int kBadTcpPort = 105;
inline constexpr int kTcpLost = 106;
// QSerialPort's ResourceError: the device went away.
inline constexpr int kSerialGone = 9;
} // namespace linkerror

// The error records of the links: one line each in ErrorLog.txt of the TestLog folder,
// "yyyy/MM/dd hh:mm:ss,number,text". A record that cannot be written is still kept as the last
// one; nothing here ever stops the link operation that reports the fault.
//
// A fault that repeats (a gone device tried on every command) is written once; its repeats are
// counted and written as one line when another fault comes or the log is flushed.
class ErrorLog
{
public:
    ErrorLog(const Clock& clock, QString folder);
    ~ErrorLog();

    void write(const LinkFault& fault);
    // Writes the count of the last fault's repeats, if any.
    void flush();

    const QString& LastErrorRecord() const { return last_; }
    QString filePath() const;

private:
    void append(const QString& record);

    const Clock& clock_;
    QString folder_;
    QString last_;
    LinkFault lastFault_;
    QString firstTime_;
    int repeats_ = 0;
};
