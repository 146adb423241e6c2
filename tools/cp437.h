// Code page 437 text, as the driver's banner is written, for a UTF-8 terminal.
#pragma once

#include <string>

namespace morvane::tool {

// Converts NUL-terminated code page 437 text; control bytes other than the
// line feed are left out.
std::string Cp437ToUtf8(const char* text);

}  // namespace morvane::tool
