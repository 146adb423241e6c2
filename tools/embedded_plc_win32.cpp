#include "embedded_plc.h"

namespace morvane::tool {

std::unique_ptr<EmbeddedPlc> StartEmbeddedPlc(const SessionOptions&, std::string* error) {
    *error =
        "give the PLC's port with --port (COM1, COM2, ...): the embedded simulator runs on "
        "Linux only";
    return nullptr;
}

}  // namespace morvane::tool
