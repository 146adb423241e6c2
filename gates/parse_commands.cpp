// Commands 3 and 4: check an address string and, for a single gate, whether
// it fits the kind of value the host's gate holds.
#include "gates/parse_commands.h"

#include <initializer_list>

#include "gates/address_parser.h"
#include "morvane/morvane.h"
#include "morvane/ostrel.h"

namespace morvane {
namespace {

constexpr uint32_t Codes(std::initializer_list<uint32_t> codes) {
    uint32_t mask = 0;
    for (uint32_t code : codes)
        mask |= 1u << code;
    return mask;
}

bool IsWord(const GateAddress& gate) {
    return gate.class_letter == MORVANE_CLASS_WORD && gate.bit_number == -1;
}
bool IsBit(const GateAddress& gate) {
    return gate.class_letter == MORVANE_CLASS_WORD && gate.bit_number != -1;
}
bool IsFloat(const GateAddress& gate) {
    return gate.class_letter == MORVANE_CLASS_FLOAT;
}
bool IsLong(const GateAddress& gate) {
    return gate.class_letter == MORVANE_CLASS_LONG;
}
bool IsString(const GateAddress& gate) {
    return gate.class_letter == MORVANE_CLASS_STRING;
}

struct GateTypeRule {
    bool (*applies)(const GateAddress&);
    uint32_t accepted_codes;  // bit c set: host gate type code c fits
    const char* mismatch;
};

constexpr GateTypeRule kGateTypeRules[] = {
    {IsWord, Codes({MORVANE_GATE_WORD, MORVANE_GATE_WORD_1, MORVANE_GATE_WORD_2}),
     "ZIDIV> SingleParse() Gate type should be 16 bit"},
    {IsBit, Codes({MORVANE_GATE_DIGITAL}), "ZIDIV> SingleParse() Gate type should be DIGITAL"},
    {IsFloat, Codes({MORVANE_GATE_FLOAT}), "ZIDIV> SingleParse() Gate type should be FLOAT"},
    {IsLong, Codes({MORVANE_GATE_FLOAT, MORVANE_GATE_LONG, MORVANE_GATE_LONG_1}),
     "ZIDIV> SingleParse() Gate type should be LONG or FLOAT"},
    {IsString, Codes({MORVANE_GATE_STRING}), "ZIDIV> SingleParse() Gate type should be STRING"},
};

bool Accepts(uint32_t accepted_codes, uint32_t gate_type) {
    return gate_type < 32 && (accepted_codes >> gate_type & 1u) != 0;
}

ParseBlock* ParseBlockOf(TevRequest* request) {
    return static_cast<ParseBlock*>(request->parameter_block);
}

// A refused record may be written in part (a word's defaults for an address
// whose bit number is refused, say); its parsed flag must not vouch for it,
// or a host that checks the flag would transfer to the wrong place.
int32_t Refuse(ParseBlock* block) {
    block->gate.parsed = 0;
    return MORVANE_REQUEST_FAILED;
}

}  // namespace

int32_t SingleAddressParser(TevRequest* request) {
    ParseBlock* block = ParseBlockOf(request);
    if (block == nullptr) return MORVANE_REQUEST_FAILED;
    if (Parse(block) != 0) return Refuse(block);
    for (const GateTypeRule& rule : kGateTypeRules) {
        if (!rule.applies(block->gate)) continue;
        if (Accepts(rule.accepted_codes, block->gate_type)) return MORVANE_OK;
        err(MORVANE_LOG_TRACE, "%s", rule.mismatch);
        return Refuse(block);
    }
    return Refuse(block);  // not reached: Parse yields one of the classes above
}

int32_t BlockAddressParser(TevRequest* request) {
    ParseBlock* block = ParseBlockOf(request);
    if (block == nullptr) return MORVANE_REQUEST_FAILED;
    if (Parse(block) != 0) return Refuse(block);
    if (block->gate.bit_number != -1) {
        err(MORVANE_LOG_TRACE, "ZIDIV> BlockParse() digital gates not allowed as block");
        return Refuse(block);
    }
    return MORVANE_OK;
}

}  // namespace morvane
