/*
 * MORVANE: serial driver for PLC data blocks over 3964/3964R with RK512.
 *
 * The host loads the driver and calls its one export, TevMain, with a
 * TevRequest per command. Every record below is shared with the host and has
 * the layout a Windows host expects, 32-bit or 64-bit (checked at compile time
 * in both builds); all of them are plain C structs so a host can be written
 * in C. Natural alignment, no packing.
 *
 * Byte offsets, 32-bit Windows / 64-bit Windows where they differ:
 *   LineParameters  8 bytes: four uint16_t
 *   PortSettings    port_name 0, line 12, line_control 20, is_3964r 22; 24 bytes
 *   ChannelArea     internal_timeout 0, port_handle 4, port_settings 8,
 *                   reply_data 32, saved_thread_priority 4128; 4132 bytes
 *   TevRequest      channel_area 0, command_code 4/8, channel_number 8/12,
 *                   reserved 12/16, parameter_block 16/24; 20/32 bytes
 *   InfoBlock       first_word 0, description 4/8, banner 8/16,
 *                   channel_area_size 12/24, fifth_word 16/28, defaults 20/32,
 *                   last_word 28/40; 32/48 bytes
 *   StartBlock      port_name 0, open_now 12, external_timeout 16, line 20; 28 bytes
 *   ChangeBlock     port_name 0, timeout 12, line 16; 24 bytes
 *   GateAddress     parsed 0, class_letter 4, packed_address 8, bit_number 12,
 *                   width 16; 20 bytes
 *   ParseBlock      address 0, gate_type 8/12, gate 16/20; 36/40 bytes
 *   TransferBlock   gate 8, count 32, data 40; 44/48 bytes
 *   BrowseBlock     address_buffer 0, owner_window 4/8; 8/16 bytes
 * port_handle stays 32 bits wide on 64-bit Windows: kernel handles keep their
 * meaning in their low 32 bits there.
 */
#ifndef MORVANE_MORVANE_H
#define MORVANE_MORVANE_H

#include <stdint.h>

#include "morvane/platform_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Command codes: the 18 slots of the command table ------------------ */
enum {
    MORVANE_CMD_COLD_START = 1,
    MORVANE_CMD_WARM_START = 2,
    MORVANE_CMD_SINGLE_ADDRESS_PARSER = 3,
    MORVANE_CMD_BLOCK_ADDRESS_PARSER = 4,
    MORVANE_CMD_SINGLE_READ = 5,
    MORVANE_CMD_BLOCK_READ = 6,
    MORVANE_CMD_SINGLE_WRITE = 7,
    MORVANE_CMD_BLOCK_WRITE = 10,
    MORVANE_CMD_END_TEV = 11,
    MORVANE_CMD_CLOSE_COM = 12,
    MORVANE_CMD_REOPEN_COM = 13,
    MORVANE_CMD_GET_TEV_INFO = 14,
    MORVANE_CMD_CHANGE_TEV_PARAMS = 15,
    MORVANE_CMD_BROWSE_ADDRESS = 16,
    MORVANE_CMD_SLOT_COUNT = 18
};

/* ---- Return codes to the host ------------------------------------------ */
enum {
    MORVANE_OK = 0,             /* success; every answer once the driver ended */
    MORVANE_REQUEST_FAILED = 1, /* refused address, refused/malformed reply, open at start-up */
    MORVANE_LINE_FAILED = 2,    /* no such command, port management or line failure */
    MORVANE_NO_ADDRESS = 53     /* the address dialog produced no address */
};

/* ---- Log levels passed to the host's err() ------------------------------ */
enum { MORVANE_LOG_TRACE = 8, MORVANE_LOG_OPERATOR = 32 };

/* Size of the per-channel area the host must allocate (GetTevInfo reports it). */
#define MORVANE_CHANNEL_AREA_SIZE 4135u
#define MORVANE_REPLY_DATA_SIZE 4096u
#define MORVANE_PORT_NAME_SIZE 12u

/* Line parameters travel in this order and width in every record. */
typedef struct LineParameters {
    uint16_t baud_rate; /* bits per second */
    uint16_t data_bits; /* bits per character */
    uint16_t stop_bits; /* 0 one, 1 one and a half, 2 two */
    uint16_t parity;    /* 0 none, 1 odd, 2 even, 3 mark, 4 space */
} LineParameters;

typedef struct PortSettings {
    char port_name[MORVANE_PORT_NAME_SIZE]; /* at most 11 characters and a NUL; else never opened */
    LineParameters line;
    uint16_t line_control; /* DTR/RTS selection; ColdStart always sets 0x0303 */
    uint8_t is_3964r;      /* 1: block check character on every block */
} PortSettings;

typedef struct ChannelArea {
    int32_t internal_timeout; /* hundredths of a second; read time-out is 10x in ms */
    uint32_t port_handle;     /* 0 when no port is open */
    PortSettings port_settings;
    uint8_t reply_data[MORVANE_REPLY_DATA_SIZE]; /* staging of multi-telegram reads */
    int32_t saved_thread_priority;
} ChannelArea;

typedef struct TevRequest {
    ChannelArea* channel_area;
    uint32_t command_code;  /* 0 to 17 */
    int32_t channel_number; /* names the channel's configuration file */
    uint32_t reserved;      /* never read nor written by the driver */
    void* parameter_block;  /* layout depends on the command */
} TevRequest;

/* Parameter block of GetTevInfo (14); the driver fills every field. */
typedef struct InfoBlock {
    uint32_t first_word;        /* 82 */
    const char* description;    /* "Siemens 3964 with RK512" */
    const char* banner;         /* 199 bytes of code page 437 */
    uint32_t channel_area_size; /* MORVANE_CHANNEL_AREA_SIZE */
    uint32_t fifth_word;        /* 4 */
    LineParameters defaults;    /* 9600 baud, 8 data bits, one stop bit, even parity */
    uint32_t last_word;         /* 0x00D00023 */
} InfoBlock;

/* Parameter block of ColdStart (1). */
typedef struct StartBlock {
    char port_name[MORVANE_PORT_NAME_SIZE];
    uint32_t open_now;        /* non-zero: open the port now */
    int32_t external_timeout; /* the host's request time-out, hundredths of a second */
    LineParameters line;
} StartBlock;

/* Parameter block of ChangeTevParams (15). */
typedef struct ChangeBlock {
    char port_name[MORVANE_PORT_NAME_SIZE];
    int32_t timeout;     /* new internal time-out; 0 or -1 keep the current one */
    LineParameters line; /* a baud rate of 0 keeps all four current parameters */
} ChangeBlock;

/* Class letters of a parsed gate address. */
enum {
    MORVANE_CLASS_WORD = 'I',
    MORVANE_CLASS_FLOAT = 'F',
    MORVANE_CLASS_LONG = 'L',
    MORVANE_CLASS_STRING = 'S'
};

/* A parsed gate address, as the parse commands fill it and the host keeps it. */
typedef struct GateAddress {
    uint32_t parsed;        /* 1 once data block and word are valid */
    uint32_t class_letter;  /* 'I', 'F', 'L' or 'S' */
    int32_t packed_address; /* bits 24-31 string length, 16-23 data block, 0-15 item index */
    int32_t bit_number;     /* 0 to 15, or -1 */
    int32_t width;          /* 16 or 32 */
} GateAddress;

/* Parameter block of SingleAddressParser (3) and BlockAddressParser (4). */
typedef struct ParseBlock {
    const char* address; /* the host's NUL-terminated address string, only read */
    uint32_t host_field_1;
    uint32_t gate_type; /* host gate type code, 0 to 7 */
    uint32_t host_field_2;
    GateAddress gate;
} ParseBlock;

/* Parameter block of the read and write commands (5, 6, 7, 10). */
typedef struct TransferBlock {
    uint32_t host_field_1;
    uint32_t host_field_2;
    GateAddress gate;
    uint32_t host_field_3;
    int32_t count; /* number of items (values, or strings) */
    uint32_t host_field_4;
    void* data; /* the host's buffer: filled by reads, taken by writes */
} TransferBlock;

/* Parameter block of BrowseAddress0 (16). */
typedef struct BrowseBlock {
    char* address_buffer; /* receives the composed address: at least 10 bytes */
    void* owner_window;   /* the host's window (HWND on Windows) */
} BrowseBlock;

/* The driver's single export. Never throws; returns one of the codes above. */
MORVANE_API int32_t MORVANE_CALL TevMain(TevRequest* request);

#ifdef __cplusplus
}
#endif

#endif /* MORVANE_MORVANE_H */
