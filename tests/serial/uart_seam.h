// A seam at the system calls for what a pseudo-terminal cannot show: a UART
// that marks damaged characters, counts overruns and takes a low-latency
// request. The program links with --wrap=read,--wrap=ioctl; calls on every
// other descriptor go to the system unchanged.
//
// Attached to a pseudo-terminal slave, reads of it undo the kernel's FF
// doubling (support/read_seam.h), so that a test sends the marked stream
// itself: FF 00 41 arrives as a damaged 41, FF FF as a data FF. Its overrun
// counter and serial flags are the seam's own.
#pragma once

#include <cstdint>
#include <string>

namespace morvane::test {

// Follows the device at path (by device number) from now on.
void UartSeamAttach(const std::string& path);
void UartSeamDetach();

// What TIOCGICOUNT reports as overruns; counters off: the device keeps none.
void UartSeamSetOverruns(uint32_t overruns);
void UartSeamCountersOff();

// The device's serial flags (TIOCGSERIAL/TIOCSSERIAL); refusing: it takes no
// such request.
void UartSeamSetSerialFlags(int flags);
void UartSeamRefuseSerial();
int UartSeamSerialFlags();

}  // namespace morvane::test
