#include "sim/options.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <utility>

#include "sim/replace_file.h"

namespace plcsim {

const char kUsage[] = R"(Usage: plcsim [options]

A PLC partner for 3964/3964R with RK512 FETCH ('E') and SEND ('A') of
data-block words ('D'). Without --device it creates a pseudo-terminal and
prints its device path as the first line of standard output; give that path
to the driver. Runs until interrupted (Ctrl-C, SIGTERM, SIGHUP, or the trace's
reader gone), then saves its blocks (--save). A --device that goes away (an
adapter pulled) ends it too, blocks saved, with status 1.

Line:
  --device PATH          serve a real serial device instead of a pseudo-terminal
                         (held while plcsim runs; one another program holds is refused)
  --baud N               line speed (default 9600): 1200, 2400, 4800, 9600,
                         19200, 38400, 57600 or 115200
  --frame DPS            data bits, parity N/E/O (either case), stop bits (default 8E1)
  --pace                 pace every byte as the line speed and frame would
                         (9600 baud 8E1: 11 bits, about 1.15 ms a character)

Procedure:
  --3964 | --3964r       variant (default 3964; 3964R adds the block check)
  --priority low|high    who wins an initialization conflict, both sides
                         sending STX (default low: withdraw at once, answer
                         the driver's STX with DLE, take its telegram and
                         reply, then send ours; high: keep waiting for DLE)
  --char-delay MS        character delay time-out, from 1 (default 220)
  --ack-delay MS         acknowledgement delay time-out, from 1 (default 550, 3964R 2000)
  --connect-attempts N   STX tries per transmission of a block, from 1 (default 6)
  --send-attempts N      transmissions of a block in all, the first included, from 1;
                         the block is sent again after NAK or no answer
                         (default 6)

Data blocks (0 to 255, up to 2048 words each):
  --db N:WORDS           declare block N with WORDS words (repeatable)
  --no-create            undeclared blocks do not exist (error 0x14); by default
                         they are created with 256 words on first access
  --load FILE            load blocks from FILE: lines "DB<n> <length>:" and all
                         its words, four hex digits each (or none: zeros);
                         a malformed file is refused with its line and column
  --save FILE            save blocks to FILE on exit (a new file renamed over it;
                         only a regular file this user may write, checked first;
                         held while plcsim runs, so a second one saving it too is refused)

Faults (COUNT: how many occasions, default every one; each fault counts the
occasion it names, and a repeated transmission is an occasion of its own):
  --ignore[=COUNT]       leave connection requests (STX) unanswered; counts
                         each STX received
  --answer-delay MS      wait MS before accepting a connection request
  --nak[=COUNT]          refuse received blocks with NAK; counts each block
                         received, a repetition too
  --no-reply[=COUNT]     acknowledge telegrams but never reply; counts each
                         telegram accepted
  --reply-delay MS       wait MS before the reply's STX
  --corrupt-bcc[=COUNT]  send the reply with a wrong block check (3964R);
                         counts each transmission, so a repetition after
                         NAK is sound once COUNT is spent
  --drop-byte[=COUNT]    drop the reply byte at --byte-index; counts each
                         transmission of a reply
  --corrupt-byte[=COUNT] invert the reply byte at --byte-index; counts each
                         transmission of a reply
  --byte-index N         index in the framed reply, 0 to 390 (default 4; the
                         longest framed reply is 391 bytes)
  --conflict[=COUNT]     answer the driver's STX with our own STX, with a
                         telegram of our own pending; counts each STX received
  --error-byte HH[=COUNT]  reply with error number HH (hex); counts each reply
                         built (its repetitions carry the same error number)
  --length-delta N[=COUNT] FETCH replies carry N data bytes more (N < 0:
                         fewer); counts each reply built, as --error-byte
  --babble               after each reply, send filler bytes without end
  --endless              after each reply, offer telegrams of our own without end

Error numbers in the reply header (byte 3):
  00 carried out            0C SEND data do not match the word count
  10 follow-on unexpected   14 data block does not exist
  16 unknown command, data type or malformed header
  34 start word plus word count beyond the block's end

Trace (default on standard output; one line per control character or block):
  --trace-file FILE      write the trace to FILE; a name ending .mcap gets a
                         capture, the characters that morvane monitor --replay reads
                         (a file other than the --load and --save file)
  --no-trace             no trace
  --help                 this text
)";

namespace {

bool Number(const std::string& text, long low, long high, long* value, int base = 10) {
    if (text.empty()) return false;
    char* end = nullptr;
    *value = std::strtol(text.c_str(), &end, base);
    return *end == '\0' && *value >= low && *value <= high;
}

constexpr long kMaxCount = 1000000;
// How a value with a count is refused: the value's range, then this.
std::string CountRange() {
    return ", then =COUNT if given, 1 to " + std::to_string(kMaxCount);
}

// "--name" or "--name=COUNT".
bool Count(const std::string& suffix, uint32_t* count) {
    long value = 0;
    if (suffix.empty()) {
        *count = kAlways;
        return true;
    }
    if (suffix[0] != '=' || !Number(suffix.substr(1), 1, kMaxCount, &value)) return false;
    *count = static_cast<uint32_t>(value);
    return true;
}

// "VALUE" or "VALUE=COUNT".
bool ValueWithCount(const std::string& text, long low, long high, int base, long* value,
                    uint32_t* count) {
    const size_t split = text.find('=');
    if (!Number(text.substr(0, split), low, high, value, base)) return false;
    return Count(split == std::string::npos ? "" : text.substr(split), count);
}

// Parity in either case, as morvane takes it: 8E1 or 8e1.
bool Frame(const std::string& text, DeviceSettings* settings) {
    const char parity = static_cast<char>(
        std::toupper(static_cast<unsigned char>(text.size() == 3 ? text[1] : '?')));
    if (text.size() != 3 || (text[0] != '7' && text[0] != '8') || !std::strchr("NEO", parity) ||
        (text[2] != '1' && text[2] != '2'))
        return false;
    settings->data_bits = static_cast<uint8_t>(text[0] - '0');
    settings->parity = parity;
    settings->stop_bits = static_cast<uint8_t>(text[2] - '0');
    return true;
}

struct CountFault {
    const char* name;
    uint32_t Faults::*count;
};
constexpr CountFault kCountFaults[] = {
    {"--ignore", &Faults::ignore_requests}, {"--nak", &Faults::nak_telegrams},
    {"--no-reply", &Faults::no_reply},      {"--corrupt-bcc", &Faults::corrupt_bcc},
    {"--drop-byte", &Faults::drop_byte},    {"--corrupt-byte", &Faults::corrupt_byte},
    {"--conflict", &Faults::conflict},
};

// A time or count: a time-out of 0 ms or 0 attempts would fail every
// transfer, and a byte index past the longest reply would never hit one.
struct NumberSetting {
    const char* name;
    long low, high;
    const char* unit;
    uint32_t* (*field)(Options*);
};
const NumberSetting kNumberSettings[] = {
    {"--char-delay", 1, 600000, " milliseconds", [](Options* o) { return &o->link.char_delay_ms; }},
    {"--ack-delay", 1, 600000, " milliseconds", [](Options* o) { return &o->link.ack_delay_ms; }},
    {"--connect-attempts", 1, 600000, " tries",
     [](Options* o) { return &o->link.connect_attempts; }},
    {"--send-attempts", 1, 600000, " transmissions",
     [](Options* o) { return &o->link.send_attempts; }},
    {"--answer-delay", 0, 600000, " milliseconds",
     [](Options* o) { return &o->faults.answer_delay_ms; }},
    {"--reply-delay", 0, 600000, " milliseconds",
     [](Options* o) { return &o->faults.reply_delay_ms; }},
    {"--byte-index", 0, kLongestFramedReply - 1, ", a byte of the longest framed reply",
     [](Options* o) { return &o->faults.byte_index; }},
};

static_assert(kLongestFramedReply == 391, "the usage text gives --byte-index 0 to 390");

// The rates a device can be set to (the line's speed codes).
constexpr long kBauds[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

std::string BadValue(const std::string& name, const std::string& value, const std::string& range) {
    return "bad value " + value + " for " + name + ": " + range;
}

// Options that name a file or device: an empty one would be taken as none
// given (a pseudo-terminal, no block file, the trace on standard output).
constexpr const char* kPathOptions[] = {"--device", "--load", "--save", "--trace-file"};

// False for a bad value; *error then says why, when the option is known.
bool ParseWithValue(const std::string& name, const std::string& value, Options* o,
                    std::string* error) {
    long number = 0;
    for (const NumberSetting& setting : kNumberSettings) {
        if (name != setting.name) continue;
        if (Number(value, setting.low, setting.high, &number)) {
            *setting.field(o) = static_cast<uint32_t>(number);
            return true;
        }
        *error = BadValue(
            name, value,
            std::to_string(setting.low) + " to " + std::to_string(setting.high) + setting.unit);
        return false;
    }
    if (value.empty() && std::ranges::find(kPathOptions, name) != std::end(kPathOptions)) {
        *error = "empty value for " + name + ": give a path";
        return false;
    }
    if (name == "--device") {
        o->device = value;
    } else if (name == "--baud") {
        if (!Number(value, 1, LONG_MAX, &number) ||
            std::ranges::find(kBauds, number) == std::end(kBauds)) {
            std::string bauds = "one of";
            for (long baud : kBauds)
                bauds += " " + std::to_string(baud);
            *error = BadValue(name, value, bauds);
            return false;
        }
        o->device_settings.baud = static_cast<uint32_t>(number);
    } else if (name == "--frame") {
        if (Frame(value, &o->device_settings)) return true;
        *error =
            BadValue(name, value, "data bits 7 or 8, parity N, E or O, stop bits 1 or 2: 8E1, 7O2");
        return false;
    } else if (name == "--priority") {
        if (value != "low" && value != "high") return false;
        o->link.priority = value == "low" ? Priority::kLow : Priority::kHigh;
    } else if (name == "--db") {
        long words = 0;
        const size_t colon = value.find(':');
        if (colon == std::string::npos || !Number(value.substr(0, colon), 0, 255, &number) ||
            !Number(value.substr(colon + 1), 1, kMaxBlockWords, &words)) {
            *error = BadValue(name, value,
                              "block 0 to 255, words 1 to " + std::to_string(kMaxBlockWords) +
                                  ", as N:WORDS (12:40)");
            return false;
        }
        // Two lengths for one block: which one was meant cannot be known.
        for (const auto& [block, length] : o->blocks)
            if (block == number) {
                *error = "--db " + value + " declares block " + std::to_string(number) +
                         " again (as " + std::to_string(block) + ":" + std::to_string(length) +
                         " before): one --db a block";
                return false;
            }
        o->blocks.emplace_back(static_cast<uint8_t>(number), static_cast<uint16_t>(words));
    } else if (name == "--load") {
        o->load_file = value;
    } else if (name == "--save") {
        o->save_file = value;
    } else if (name == "--trace-file") {
        o->trace_file = value;
    } else if (name == "--error-byte") {
        if (!ValueWithCount(value, 0, 255, 16, &number, &o->faults.error_replies)) {
            *error = BadValue(name, value, "error number 00 to FF (hex)" + CountRange());
            return false;
        }
        o->faults.error_byte = static_cast<uint8_t>(number);
    } else if (name == "--length-delta") {
        if (!ValueWithCount(value, -kMaxLengthDelta, kMaxLengthDelta, 10, &number,
                            &o->faults.length_replies)) {
            const std::string most = std::to_string(kMaxLengthDelta);
            *error =
                BadValue(name, value, "-" + most + " to " + most + " data bytes" + CountRange());
            return false;
        }
        o->faults.length_delta = static_cast<int32_t>(number);
    } else {
        return false;
    }
    return true;
}

bool IsFlag(const std::string& arg, Options* o) {
    if (arg == "--help" || arg == "-h") {
        o->help = true;
    } else if (arg == "--pace") {
        o->pace = true;
    } else if (arg == "--3964" || arg == "--3964r" || arg == "--3964R") {
        o->link.is_3964r = arg != "--3964";
    } else if (arg == "--no-create") {
        o->create_on_demand = false;
    } else if (arg == "--no-trace") {
        o->trace = false;
    } else if (arg == "--babble") {
        o->faults.babble = true;
    } else if (arg == "--endless") {
        o->faults.endless_telegrams = true;
    } else {
        return false;
    }
    return true;
}

}  // namespace

bool ParseOptions(int argc, const char* const* argv, Options* options, std::string* error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (IsFlag(arg, options)) continue;
        bool counted = false;
        for (const CountFault& fault : kCountFaults) {
            const size_t n = std::strlen(fault.name);
            if (arg.compare(0, n, fault.name) != 0 || (arg.size() > n && arg[n] != '=')) continue;
            if (!Count(arg.substr(n), &(options->faults.*fault.count))) {
                *error = "bad count in " + arg;
                return false;
            }
            counted = true;
        }
        if (counted) continue;
        if (i + 1 >= argc) {
            *error = "unknown option or missing value: " + arg;
            return false;
        }
        error->clear();
        if (!ParseWithValue(arg, argv[i + 1], options, error)) {
            if (error->empty()) *error = "unknown option or bad value: " + arg + " " + argv[i + 1];
            return false;
        }
        ++i;
    }
    // Asked for a trace file and for no trace, one of them is a mistake: an
    // empty trace file would pass for a quiet line.
    if (!options->trace && !options->trace_file.empty()) {
        *error = "--no-trace and --trace-file " + options->trace_file + " contradict each other";
        return false;
    }
    // A trace into the block file would spoil it before it is loaded or
    // after it is saved; loading and saving one file is the usual case.
    for (const auto& [name, file] :
         {std::pair{"--load", &options->load_file}, std::pair{"--save", &options->save_file}}) {
        if (SameRegularFile(options->trace_file, *file)) {
            *error = std::string("--trace-file and ") + name + " name the same file " +
                     options->trace_file + ": give each its own";
            return false;
        }
    }
    // A trace into the served device would go onto the line, to the host.
    if (!options->device.empty() && !options->trace_file.empty() &&
        SameDevice(options->trace_file, options->device)) {
        *error = "--trace-file " + options->trace_file +
                 " is the served --device: it would go onto the line";
        return false;
    }
    return true;
}

uint32_t BitsPerCharacter(const DeviceSettings& settings) {
    return 1u + settings.data_bits + (settings.parity == 'N' ? 0u : 1u) + settings.stop_bits;
}

}  // namespace plcsim
