// Arbitrary address strings through both parse commands. Input: one byte for
// the host gate type code, then the address. Addresses of 10 bytes or more
// are handed over without a terminating NUL, so any read beyond the
// characters that decide the outcome lands outside the buffer.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz/fuzz_check.h"
#include "gates/gate_address.h"
#include "gates/parse_commands.h"
#include "ostrel/ostrel_control.h"

namespace {

constexpr size_t kDecidingChars = 10;

void CheckLogLine(int level, const char* line, void*) {
    FUZZ_CHECK(level == MORVANE_LOG_TRACE);
    FUZZ_CHECK(std::strncmp(line, "ZIDIV> ", 7) == 0);
}

struct Outcome {
    int32_t result;
    GateAddress gate;
};

Outcome Run(uint32_t command, const char* address, uint32_t gate_type) {
    ParseBlock block{};
    block.address = address;
    block.gate_type = gate_type;
    TevRequest request{};
    request.command_code = command;
    request.parameter_block = &block;
    const int32_t result = command == MORVANE_CMD_SINGLE_ADDRESS_PARSER
                               ? morvane::SingleAddressParser(&request)
                               : morvane::BlockAddressParser(&request);
    FUZZ_CHECK(result == MORVANE_OK || result == MORVANE_REQUEST_FAILED);
    return {result, block.gate};
}

bool SameGate(const GateAddress& a, const GateAddress& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool TypeFits(const GateAddress& gate, uint32_t gate_type) {
    switch (gate.class_letter) {
        case MORVANE_CLASS_WORD:
            return gate.bit_number == -1 ? gate_type <= 2 : gate_type == 6;
        case MORVANE_CLASS_FLOAT:
            return gate_type == 3;
        case MORVANE_CLASS_LONG:
            return gate_type >= 3 && gate_type <= 5;
        case MORVANE_CLASS_STRING:
            return gate_type == 7;
        default:
            return false;
    }
}

// What every accepted record must look like.
void CheckAccepted(const GateAddress& gate, size_t address_length) {
    FUZZ_CHECK(gate.parsed == 1);
    const uint32_t words = gate.class_letter == MORVANE_CLASS_STRING ? morvane::WordsPerItem(gate)
                           : gate.width == 32                        ? 2
                                                                     : 1;
    FUZZ_CHECK(morvane::ItemIndexOf(gate) * words <= 255);
    switch (gate.class_letter) {
        case MORVANE_CLASS_WORD:
            FUZZ_CHECK(gate.width == 16 && morvane::StringLengthOf(gate) == 0);
            FUZZ_CHECK(gate.bit_number >= -1 && gate.bit_number <= 15);
            break;
        case MORVANE_CLASS_FLOAT:
        case MORVANE_CLASS_LONG:
            FUZZ_CHECK(gate.width == 32 && gate.bit_number == -1);
            FUZZ_CHECK(morvane::StringLengthOf(gate) == 0);
            break;
        case MORVANE_CLASS_STRING: {
            const uint32_t length = morvane::StringLengthOf(gate);
            FUZZ_CHECK(gate.width == 16 && gate.bit_number == -1);
            FUZZ_CHECK(length >= 2 && length <= 80 && length % 2 == 0);
            FUZZ_CHECK(address_length == 9);
            break;
        }
        default:
            FUZZ_CHECK(false);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    OstrelSetLogSink(CheckLogLine, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint32_t gate_type = data[0] < 0xF0 ? data[0] % 8u : data[0];
    const size_t length = size - 1;
    const bool terminated = length < kDecidingChars;
    const std::unique_ptr<char[]> address(new char[length + (terminated ? 1 : 0)]);
    std::memcpy(address.get(), data + 1, length);
    if (terminated) address[length] = '\0';
    const size_t address_length = strnlen(address.get(), std::min(length, kDecidingChars));

    const Outcome single = Run(MORVANE_CMD_SINGLE_ADDRESS_PARSER, address.get(), gate_type);
    const Outcome block = Run(MORVANE_CMD_BLOCK_ADDRESS_PARSER, address.get(), gate_type);
    for (const Outcome& refused : {single, block})
        if (refused.result != MORVANE_OK) FUZZ_CHECK(refused.gate.parsed == 0);
    if (single.result == MORVANE_OK) {
        CheckAccepted(single.gate, address_length);
        FUZZ_CHECK(TypeFits(single.gate, gate_type));
        FUZZ_CHECK((block.result == MORVANE_OK) == (single.gate.bit_number == -1));
    }
    if (block.result == MORVANE_OK) {
        CheckAccepted(block.gate, address_length);
        FUZZ_CHECK(block.gate.bit_number == -1);
        FUZZ_CHECK(single.result == MORVANE_OK || !TypeFits(block.gate, gate_type));
        if (single.result == MORVANE_OK) FUZZ_CHECK(SameGate(single.gate, block.gate));
    }

    // Apart from the string form, nothing behind the first 8 characters counts.
    const char form = address_length > 6 ? address[6] : ' ';
    if (address_length >= 8 && form != 'S' && form != 's') {
        char prefix[9];
        std::memcpy(prefix, address.get(), 8);
        prefix[8] = '\0';
        const Outcome cut = Run(MORVANE_CMD_BLOCK_ADDRESS_PARSER, prefix, gate_type);
        FUZZ_CHECK(cut.result == block.result);
        if (cut.result == MORVANE_OK) FUZZ_CHECK(SameGate(cut.gate, block.gate));
    }
    return 0;
}
