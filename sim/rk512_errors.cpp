// The PLC's error numbers in words, for the simulator's users and for the
// command-line host (which builds this file on every platform).
#include "sim/rk512_server.h"

namespace plcsim {

const char* Rk512ErrorMeaning(uint8_t error) {
    switch (error) {
        case kRkOk:
            return "carried out";
        case kRkBadLength:
            return "SEND data do not match the telegram's word count";
        case kRkNoFollowOn:
            return "follow-on telegram without an open transfer of its kind";
        case kRkNoSuchBlock:
            return "data block does not exist";
        case kRkUnknownCommand:
            return "unknown command or data type, or a malformed header";
        case kRkBeyondBlockEnd:
            return "start word plus word count beyond the block's end";
    }
    return nullptr;
}

}  // namespace plcsim
