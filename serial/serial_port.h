// The serial port channel: the only code that touches the serial device.
// Synchronous, stateless, logs nothing; every operation answers a small code
// of its own that the callers translate. One backend per platform
// (serial_posix.cpp, serial_win32.cpp).
#pragma once

#include <cstdint>

#include "morvane/morvane.h"

namespace morvane {

// The platform handle of an open port as kept in the ChannelArea; 0 = none.
using PortHandle = uint32_t;

enum SerialCode : int {
    kSerialOk = 0,
    kSerialOpenFailed = 1,       // open: no device / time-outs not set; purge: last call failed
    kSerialShortWrite = 2,       // write: the device took fewer bytes than asked
    kSerialStateUnreadable = 4,  // open: current settings cannot be read
    kSerialSettingsRefused = 5,  // open: the device refused the new settings
    kSerialIoFailed = 7,         // close failed; write failed; read failed or timed out
};

// Read time-out set by SerialOpen, in milliseconds.
constexpr uint32_t kSerialDefaultReadTimeoutMs = 1000;

// Opens and configures a port; on kSerialOk *handle is the open port (never 0).
int SerialOpen(const char* port_name, const LineParameters& line, uint16_t line_control,
               PortHandle* handle);

// Closes the port: kSerialOk or kSerialIoFailed.
int SerialClose(PortHandle handle);

// True when handle is a port this layer opened and still holds, on the
// device port_name names. False where the platform cannot tell (Windows
// names no device behind a handle), which keeps a handle as it is.
bool SerialHoldsPort(PortHandle handle, const char* port_name);

// Sets the total read time-out in milliseconds; returns the previous one, or
// 0 when the time-outs cannot be read or written.
uint32_t SerialSetReadTimeout(PortHandle handle, uint32_t ms);

// The purge's reads: each waits at most this long for more input, and a
// partner that keeps the queue full ends the purge after the read limit.
constexpr uint32_t kPurgeReadTimeoutMs = 50;
constexpr uint32_t kPurgeReadLimit = 64;

// Discards waiting input (and what arrives while it reads); 0 or 1.
int SerialPurgeInput(PortHandle handle);

// Writes count bytes: kSerialOk, kSerialShortWrite or kSerialIoFailed.
int SerialWrite(PortHandle handle, const uint8_t* bytes, uint32_t count, uint32_t* written);

// Reads count bytes (at most 65535) within one total read time-out:
// kSerialOk when all arrived, else kSerialIoFailed. Bytes that do not arrive
// are never written; *read (if given) holds the number that did.
int SerialRead(PortHandle handle, uint8_t* buffer, uint32_t count, uint32_t* read);

// The port's error-and-queue status: true on success (errors cleared) with
// *waiting the number of bytes in the input queue (read ahead or not).
bool SerialBytesWaiting(PortHandle handle, uint32_t* waiting);

// True when the status was read and bytes are waiting in the input queue.
bool SerialInputWaiting(PortHandle handle);

// Damage the device reports on received characters. A character that failed
// its parity or stop-bit check, a break, or characters the device lost
// before the ones read: any of them spoils the block they belong to.
enum LineError : uint32_t {
    kLineCharacterDamaged = 1u << 0,  // parity or framing error, or a break
    kLineOverrun = 1u << 1,           // characters lost by the device or its queue
};

// The line errors reported for the characters read since the last call, the
// last status query (SerialBytesWaiting, SerialInputWaiting) or purge; the
// call clears them. 0 when there were none, or the device reports none.
uint32_t SerialTakeLineErrors(PortHandle handle);

}  // namespace morvane
