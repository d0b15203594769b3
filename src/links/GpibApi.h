#pragma once

// The calls of a GPIB library (NI-488.2 style) that the station resolves at run time. Any library
// that exports them under these names can drive the bus: the vendor's, linux-gpib's, or the
// simulated load's.
extern "C" {
// Opens a device: board index, primary and secondary address, time-out code, end-of-transfer
// mode, end-of-string mode. A device descriptor, -1 on failure.
int ibdev(int board, int pad, int sad, int tmo, int eot, int eos);
// Writes `count` bytes; the last byte carries EOI. The status is not checked.
int ibwrt(int ud, const void* buf, long count);
// Reads at most `count` bytes; ends at EOI or at the time-out. The status is not checked.
int ibrd(int ud, void* buf, long count);
// Takes a descriptor offline (v = 0).
int ibonl(int ud, int v);
// Bytes moved by this thread's last call; only the low 16 bits count (signed).
int ThreadIbcnt(void);
// Optional: lets the library keep this thread's status words in the given variables.
// 0 registered, 1 this thread already was, 2 or 3 failed.
int RegisterGpibGlobalsForThread(int* ibsta, int* iberr, int* ibcnt);
int UnregisterGpibGlobalsForThread(void);
}

namespace gpib {
// The device settings the station opens every instrument with.
inline constexpr int kBoard = 0;
inline constexpr int kSecondaryAddress = 0;
inline constexpr int kTimeoutT1s = 11; // one second
inline constexpr int kEot = 11;        // any nonzero value: EOI on the last byte of each write
inline constexpr int kEos = 1;
// The read buffer of one reply.
inline constexpr int kReadBufferSize = 256;
} // namespace gpib
