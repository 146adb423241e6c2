/*
 * MORVANE: serial driver for PLC data blocks over 3964/3964R with RK512.
 *
 * The host loads the driver and calls its one export, TevMain, with a
 * TevRequest per command. Every record below is shared with the host and has
 * the layout a Windows host expects, 32-bit or 64-bit (checked at compile time
 * in both builds); all of them are plain C structs so a host can be written
 * in C (C89 and later, or C++). Natural alignment, no packing. This header
 * and morvane/ostrel.h are all a host needs.
 *
 * A host's life with one channel (examples/read_write.c does it in C):
 *   1. GetTevInfo (14) with an InfoBlock: the channel area size and the
 *      default line parameters.
 *   2. Allocate the channel area (channel_area_size bytes, zeroed) and keep
 *      it for the channel's life; every request of the channel carries it.
 *   3. ColdStart (1) with a StartBlock: reads the channel file (below), sets
 *      the time-out, opens the port when open_now is non-zero. It takes the
 *      area as fresh; on Linux an area that still holds its port open lets
 *      it go first, on Windows CloseCom (12) must have closed it.
 *   4. Parse each gate address once: SingleAddressParser (3) with the gate
 *      type code of the host's gate, or BlockAddressParser (4) for a block;
 *      keep the GateAddress it fills.
 *   5. SingleRead (5), BlockRead (6), SingleWrite (7), BlockWrite (10) with a
 *      TransferBlock holding that GateAddress, a count and the host buffer
 *      laid out as described under "value layout".
 *   6. CloseCom (12) on every other channel, then EndTev (11): closes its
 *      own channel's port and ends the driver for every channel (from then
 *      on every command but ColdStart answers without running: a transfer
 *      2, the others 0, CloseCom too, so a port not closed before stays
 *      open until it is started again).
 * Link with -lmorvane (pkg-config morvane), or load the library at run time
 * and look up "TevMain" (dlopen/dlsym, LoadLibrary/GetProcAddress).
 * Channels may run on threads of their own, each with its own channel area;
 * the requests of one channel must not overlap.
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
/* What err() receives, and how a host including <err.h> avoids the clash of
   names: see morvane/ostrel.h. */
enum { MORVANE_LOG_TRACE = 8, MORVANE_LOG_OPERATOR = 32 };

/* ---- The channel file ----------------------------------------------------
 * ColdStart chooses the link variant from a small text file in the host
 * process's current directory: the first of these names that exists (a
 * directory under a name is skipped), shown for channel_number 1 and 12:
 *     "ZIDIV%02d.INT"   ZIDIV01.INT   ZIDIV12.INT
 *     "ZIDIV%01d.INT"   ZIDIV1.INT    ZIDIV12.INT
 *     "ZIDIV.INT"       (every channel)
 * The names are upper case, so on Linux the file name must be too. Only the
 * first 81 bytes are read. They must begin with "PROTOCOL=" (upper case, at
 * the file's first byte: no comment, blank or byte-order mark before it);
 * white space (line ends too) may follow the '='; then a word of which the
 * first five characters count:
 *     PROTOCOL=3964R    3964R, with a block check character on every block
 *     PROTOCOL=3964     3964 (also any word starting "3964" other than
 *                       "3964R": "3964r" is 3964)
 * Anything after the word is ignored. A file without such a line, or no file
 * at all, means 3964; ColdStart logs which file it found, a malformed one,
 * and the protocol chosen, all at level 32. On Linux reading never waits:
 * a named pipe or a terminal under the name reads as empty (malformed).
 */
#define MORVANE_CHANNEL_FILE_READ_SIZE 81u

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

/* A parsed gate address, as the parse commands fill it and the host keeps it.
 * Only a parse that answers 0 makes a valid record; a refused one may be
 * written in part, and its parsed flag is then 0. The transfer commands do
 * not read the flag. */
typedef struct GateAddress {
    uint32_t parsed;        /* 1: the parse accepted the address; 0 after a refusal */
    uint32_t class_letter;  /* 'I', 'F', 'L' or 'S' */
    int32_t packed_address; /* bits 24-31 string length, 16-23 data block, 0-15 item index */
    int32_t bit_number;     /* 0 to 15, or -1 */
    int32_t width;          /* 16 or 32 */
} GateAddress;

/* ---- Gate type codes: ParseBlock.gate_type ------------------------------
 * The kind of value the host's gate holds; SingleAddressParser accepts an
 * address only for a code that fits its form, and answers 1 with a level-8
 * line otherwise (BlockAddressParser ignores the code):
 *     word        "DDDWWW"      MORVANE_GATE_WORD, _WORD_1, _WORD_2
 *     bit         "DDDWWWbb"    MORVANE_GATE_DIGITAL
 *     float       "DDDWWWF"     MORVANE_GATE_FLOAT
 *     32-bit int  "DDDWWWL"     MORVANE_GATE_LONG, _LONG_1, or MORVANE_GATE_FLOAT
 *     string      "DDDWWWSnn"   MORVANE_GATE_STRING
 * DDD data block 000-255, WWW data word 000-255 (even for F and L; for a
 * string of nn characters WWW*2 must be a multiple of nn), bb bit 00-15
 * (or a blank and the number: "001002 3"), nn an even length 02-80.
 * F, L and S may be lower case. The three word codes and the two long codes
 * are alike to the driver; a host keeps them apart for its own purposes.
 * Codes above 7 fit no address.
 */
enum {
    MORVANE_GATE_WORD = 0,
    MORVANE_GATE_WORD_1 = 1,
    MORVANE_GATE_WORD_2 = 2,
    MORVANE_GATE_FLOAT = 3,
    MORVANE_GATE_LONG = 4,
    MORVANE_GATE_LONG_1 = 5,
    MORVANE_GATE_DIGITAL = 6,
    MORVANE_GATE_STRING = 7
};

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

/* ---- Value layout in TransferBlock.data ---------------------------------
 * Values are in the host machine's own byte order (the driver turns the
 * line's most-significant-byte-first words around) and floats are IEEE 754
 * singles (converted from and to the PLC's float format). The buffer needs
 * no alignment: the driver copies byte by byte.
 *
 * SingleRead (5) and SingleWrite (7), count 1: one 4-byte value slot.
 *   word     the 16-bit value in bytes 2-3, the slot's second half; bytes
 *            0-1 are neither read nor written.
 *   bit      as a word: a read stores 0 or 1 in bytes 2-3; a write sets the
 *            bit when bytes 2-3 are non-zero and clears it when they are 0
 *            (the driver reads the word, changes the bit, writes the word).
 *   float    bytes 0-3: a float.          long    bytes 0-3: an int32_t.
 *   string   of length n: a read stores the n characters up to the first
 *            NUL and fills with NUL to byte n (n+1 bytes; an 81-byte slot
 *            always fits); a write sends the characters up to the first NUL
 *            or n, padded with NUL bytes to n.
 *   A SingleWrite of words, floats or longs may carry count > 1 values, one
 *   4-byte slot each, up to 128 bytes on the line; a bit or a string only 1.
 *   A SingleRead stores one value whatever the count.
 * BlockRead (6) and BlockWrite (10), count values, packed:
 *   word     count 16-bit values, 2 bytes apart (no slots).
 *   float, long   count 4-byte values, 4 bytes apart.
 *   string   read only: count slots of MORVANE_STRING_SLOT_SIZE (81) bytes,
 *            each filled as a single string read fills its slot.
 *   bit      refused (BlockAddressParser refuses bit addresses).
 * A float write (7 or 10) whose first value lies strictly between -1e-19 and
 * 1e-20 sends that value as 0.0 and stores 0.0 in its place in the buffer,
 * before the first telegram and whatever the outcome; the other values go as
 * given.
 * Limits, refused with 1 before anything goes on the line: the single
 * commands at most MORVANE_TELEGRAM_DATA_SIZE (128) bytes on the line
 * (count x 2 for words, x 4 for floats and longs, x n for strings); BlockRead
 * at most MORVANE_REPLY_DATA_SIZE (4096) bytes; BlockWrite at most
 * MORVANE_MAX_TRANSFER_BYTES (65535) bytes, no strings. A failed read leaves
 * the host's buffer as it was: a read of several telegrams is staged in the
 * channel area and copied only when every telegram arrived.
 */
#define MORVANE_VALUE_SLOT_SIZE 4u
#define MORVANE_VALUE_SLOT_WORD_OFFSET 2u
#define MORVANE_STRING_SLOT_SIZE 81u
#define MORVANE_STRING_MAX_LENGTH 80u
#define MORVANE_TELEGRAM_DATA_SIZE 128u
#define MORVANE_MAX_TRANSFER_BYTES 65535u

/* ---- How long a command keeps the calling thread --------------------------
 * Only the transfer commands (5, 6, 7, 10) wait on the line. GetTevInfo and
 * the parse commands return at once; ColdStart, ReOpenCom and
 * ChangeTevParams open and configure the port, CloseCom and EndTev close it,
 * none waiting for the PLC; WarmStart discards pending input: with none it
 * returns at once, else it reads for 50 ms, again only while each read fills
 * its 512 bytes (at most 64 x 50 ms), so input arriving after that stays.
 * BrowseAddress0 waits for the user (Linux: a terminal dialog that cancels
 * itself after 10 minutes idle).
 *
 * Every wait of a transfer is bounded by the read time-out t, the longest
 * the driver waits for any one byte from the PLC:
 *     t = 10 ms x ChannelArea.internal_timeout, at most an hour
 *         (MORVANE_READ_TIMEOUT_MS, MORVANE_LONGEST_READ_TIMEOUT_MS)
 *     ColdStart:        internal_timeout = external_timeout / 20, at least
 *                       50, so t >= 500 ms (external 2000, 20 s: t = 1 s)
 *     ChangeTevParams:  its time-out, when above 0
 *     ReOpenCom:        t = 1000 ms until ColdStart or ChangeTevParams
 * A wait for an answer counts from the moment the characters sent before it
 * have left the line, since the PLC cannot answer them sooner.
 * Each telegram gets up to MORVANE_ATTEMPTS (4) attempts; a block of more
 * than 128 bytes is sent as telegrams of 128 bytes, and a block command runs
 * up to MORVANE_PASSES (3) passes over them when a later telegram fails.
 *   - PLC silent, absent or cable off: each attempt waits 2 t for an answer
 *     to its two connection requests, and the command gives up after the
 *     first telegram's attempts: MORVANE_SILENT_LINE_MS(t) = 8 t for every
 *     transfer command (4 s at t = 500 ms), and on top of that the time its
 *     12 characters (8 requests, 4 NAKs) take on the line and the system's
 *     own delays, which MORVANE_SILENT_LINE_MARGIN_MS(baud) allows for on a
 *     machine that is not overloaded (45 ms at 9600 baud, 150 ms at 1200):
 *     a watchdog takes the sum. A PLC that falls silent in the middle of a
 *     block command, once its first telegram went through, costs that
 *     telegram's attempts and those of the new pass's first telegram:
 *     twice the sum after it fell silent (8 s at t = 500 ms), on top of the
 *     time the block took until then.
 *   - PLC answering: a good exchange takes its bytes' time on the line (a
 *     64-word telegram about 0.17 s at 9600 baud); a refused or NAKed
 *     telegram is tried again at once.
 *   - The hard ceiling, reached only by a partner that sends each byte just
 *     before t runs out or never falls silent: per attempt two purges of at
 *     most 64 x 50 ms, four single bytes and a reply of at most 302 bytes
 *     read one byte at a time (each read at most t), a quiet-line wait of at
 *     most 40 rounds, and up to two drains of at most 8 pending telegrams;
 *     each write waits at most 1 s plus twice its time on the line (Linux;
 *     on Windows the port has no write time-out, and with no output flow
 *     control a write ends after its time on the line).
 */
#define MORVANE_LONGEST_READ_TIMEOUT_MS 3600000u
/* internal_timeout is evaluated more than once. */
#define MORVANE_READ_TIMEOUT_MS(internal_timeout)                     \
    ((internal_timeout) <= 0        ? 0u                              \
     : (internal_timeout) >= 360000 ? MORVANE_LONGEST_READ_TIMEOUT_MS \
                                    : 10u * (uint32_t)(internal_timeout))
#define MORVANE_REOPEN_READ_TIMEOUT_MS 1000u
#define MORVANE_ATTEMPTS 4u
#define MORVANE_PASSES 3u
#define MORVANE_SILENT_LINE_MS(read_timeout_ms) \
    (2u * MORVANE_ATTEMPTS * (uint32_t)(read_timeout_ms))
/* 12 characters of at most 12 bits each at the baud rate, and 30 ms. */
#define MORVANE_SILENT_LINE_MARGIN_MS(baud) \
    (30u + (12u * 12u * 1000u + (uint32_t)(baud)-1u) / (uint32_t)(baud))

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
