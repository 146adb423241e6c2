// Bytes from outside (a file's line, a command-line word) shown in a message
// as the reader can see them: printable ASCII as it is, every other byte as
// \xHH, so that a NUL cannot cut the message short and an escape sequence
// cannot act on the terminal.
#pragma once

#include <string>
#include <string_view>

namespace plcsim {

std::string Printable(std::string_view bytes);

}  // namespace plcsim
