// Placeholder until the address parser is built.
#include "gates/address_parser.h"

namespace morvane {

int Parse(ParseBlock*) {
    return 1;
}

}  // namespace morvane
