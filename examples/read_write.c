/* A minimal host, from <morvane/morvane.h> alone: starts channel 1 on PORT,
   writes a word and a float into data block 1, reads both back, compares.
   usage: read_write PORT [WORD]                                          */
#include <morvane/morvane.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static ChannelArea* area;

static int32_t call(uint32_t command, void* block) {
    TevRequest request = {0};
    request.channel_area = area;
    request.command_code = command;
    request.channel_number = 1; /* channel file ZIDIV01.INT, ZIDIV1.INT or ZIDIV.INT */
    request.parameter_block = block;
    return TevMain(&request);
}

/* A transfer of one value of the gate at address, or count 0 if refused. */
static TransferBlock gate(const char* address, uint32_t gate_type, void* data) {
    ParseBlock parse = {0};
    TransferBlock transfer = {0};
    parse.address = address;
    parse.gate_type = gate_type;
    transfer.count = call(MORVANE_CMD_SINGLE_ADDRESS_PARSER, &parse) == MORVANE_OK;
    transfer.gate = parse.gate;
    transfer.data = data;
    return transfer;
}

int main(int argc, char** argv) {
    InfoBlock info;
    StartBlock start = {0};
    unsigned char slot[MORVANE_VALUE_SLOT_SIZE] = {0}; /* a word: bytes 2-3 */
    uint16_t value = (uint16_t)(argc > 2 ? atoi(argv[2]) : 4711), back;
    float number = -2.5f;
    TransferBlock word = gate("001002", MORVANE_GATE_WORD, slot);
    TransferBlock real = gate("001010F", MORVANE_GATE_FLOAT, &number);
    int ok = argc > 1 && strlen(argv[1]) < MORVANE_PORT_NAME_SIZE && word.count && real.count;
    if (!ok) return 2;
    call(MORVANE_CMD_GET_TEV_INFO, &info);
    area = (ChannelArea*)calloc(1, info.channel_area_size);
    strcpy(start.port_name, argv[1]);
    start.open_now = 1;
    start.external_timeout = 1000; /* 10 s: read time-out 0.5 s per byte */
    start.line = info.defaults;    /* 9600 baud 8E1 */
    memcpy(slot + MORVANE_VALUE_SLOT_WORD_OFFSET, &value, sizeof value);
    ok = area != NULL && call(MORVANE_CMD_COLD_START, &start) == MORVANE_OK &&
         call(MORVANE_CMD_SINGLE_WRITE, &word) == MORVANE_OK &&
         call(MORVANE_CMD_SINGLE_WRITE, &real) == MORVANE_OK;
    memset(slot, 0, sizeof slot);
    number = 0.0f;
    ok = ok && call(MORVANE_CMD_SINGLE_READ, &word) == MORVANE_OK &&
         call(MORVANE_CMD_SINGLE_READ, &real) == MORVANE_OK;
    memcpy(&back, slot + MORVANE_VALUE_SLOT_WORD_OFFSET, sizeof back);
    printf("001002 = %u, 001010F = %g\n", (unsigned)back, (double)number);
    call(MORVANE_CMD_END_TEV, NULL);
    free(area);
    return ok && back == value && number == -2.5f ? 0 : 1;
}
