/* A host file in C89 that uses the C library's <err.h> and the public headers
   together: the headers must neither clash with its err() nor need C99. */
#include <err.h>

#include "morvane/morvane.h"
#include "morvane/ostrel.h"

typedef char
    string_slot_holds_the_longest_string[MORVANE_STRING_SLOT_SIZE > MORVANE_STRING_MAX_LENGTH ? 1
                                                                                              : -1];

void host_gives_up(const char* port) {
    err(1, "cannot open %s", port); /* the C library's, which exits */
}

int32_t host_parses(ChannelArea* area, ParseBlock* parse) {
    TevRequest request;
    request.channel_area = area;
    request.command_code = MORVANE_CMD_SINGLE_ADDRESS_PARSER;
    request.channel_number = 1;
    request.reserved = 0;
    request.parameter_block = parse;
    parse->gate_type = MORVANE_GATE_STRING;
    return TevMain(&request);
}
