// A UART's marks of damaged characters on a pseudo-terminal, which has no
// UART. The far end writes the marks (FF 00 X) itself into the master of
// the pseudo-terminal whose slave the driver opens with PARMRK, and the
// slave's line discipline doubles every FF on its way, the marks included.
// A program linked with -Wl,--wrap=read reads the marked ports through this
// seam, which undoes the doubling so the driver reads what a real port's
// UART would hand it. Every other descriptor reads untouched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace morvane::test {

// Undoes the line discipline's doubling in place: every FF FF becomes FF.
// Returns the bytes kept. *cut: the last byte was the first FF of a pair
// whose second is still unread (it is kept as the FF).
size_t UndoFfDoubling(uint8_t* bytes, size_t count, bool* cut);

// From now on, reads of the terminal at path (by its device number, so any
// descriptor opened on it) are undoubled while it has PARMRK set. False
// when path is no device or too many are marked.
bool MarkPortReads(const std::string& path);
// No port is marked any more.
void UnmarkPortReads();

}  // namespace morvane::test
