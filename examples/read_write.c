/* A minimal host: starts channel 1 on a port, writes a word and a float into
   data block 1 of the PLC, reads both back and compares. Written from
   <morvane/morvane.h> alone.   usage: read_write PORT [WORD]              */
#include <morvane/morvane.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int32_t call(ChannelArea* area, uint32_t command, void* block) {
    TevRequest request;
    memset(&request, 0, sizeof request);
    request.channel_area = area;
    request.command_code = command;
    request.channel_number = 1; /* channel file ZIDIV01.INT, ZIDIV1.INT or ZIDIV.INT */
    request.parameter_block = block;
    return TevMain(&request);
}

/* Parses address for a gate of type gate_type into transfer->gate. */
static int parse(ChannelArea* area, const char* address, uint32_t gate_type,
                 TransferBlock* transfer) {
    ParseBlock block;
    memset(&block, 0, sizeof block);
    block.address = address;
    block.gate_type = gate_type;
    if (call(area, MORVANE_CMD_SINGLE_ADDRESS_PARSER, &block) != MORVANE_OK) return 0;
    memset(transfer, 0, sizeof *transfer);
    transfer->gate = block.gate;
    transfer->count = 1;
    return 1;
}

int main(int argc, char** argv) {
    InfoBlock info;
    StartBlock start;
    TransferBlock word, real;
    unsigned char slot[MORVANE_VALUE_SLOT_SIZE] = {0};
    uint16_t value = (uint16_t)(argc > 2 ? atoi(argv[2]) : 4711), back = 0;
    float number = -2.5f, number_back = 0.0f;
    ChannelArea* area;
    int ok;
    if (argc < 2 || strlen(argv[1]) >= MORVANE_PORT_NAME_SIZE) {
        fprintf(stderr, "usage: read_write PORT [WORD]  (PORT: at most 11 characters)\n");
        return 2;
    }
    call(NULL, MORVANE_CMD_GET_TEV_INFO, &info);
    area = (ChannelArea*)calloc(1, info.channel_area_size);
    memset(&start, 0, sizeof start);
    strcpy(start.port_name, argv[1]);
    start.open_now = 1;
    start.external_timeout = 1000; /* 10 s: the read time-out is 0.5 s per byte */
    start.line = info.defaults;    /* 9600 baud 8E1 */
    if (area == NULL || call(area, MORVANE_CMD_COLD_START, &start) != MORVANE_OK ||
        !parse(area, "001002", MORVANE_GATE_WORD, &word) ||
        !parse(area, "001010F", MORVANE_GATE_FLOAT, &real))
        return 1;
    memcpy(slot + MORVANE_VALUE_SLOT_WORD_OFFSET, &value, sizeof value); /* second half */
    word.data = slot;
    real.data = &number;
    ok = call(area, MORVANE_CMD_SINGLE_WRITE, &word) == MORVANE_OK &&
         call(area, MORVANE_CMD_SINGLE_WRITE, &real) == MORVANE_OK;
    memset(slot, 0, sizeof slot);
    real.data = &number_back;
    ok = ok && call(area, MORVANE_CMD_SINGLE_READ, &word) == MORVANE_OK &&
         call(area, MORVANE_CMD_SINGLE_READ, &real) == MORVANE_OK;
    memcpy(&back, slot + MORVANE_VALUE_SLOT_WORD_OFFSET, sizeof back);
    printf("001002 = %u, 001010F = %g\n", (unsigned)back, (double)number_back);
    call(area, MORVANE_CMD_END_TEV, NULL);
    free(area);
    return ok && back == value && number_back == number ? 0 : 1;
}
