// A 32-bit Windows host as the SCADA system is one: it loads MORVANE.DLL,
// finds TevMain and drives a channel on a real COM port through the host's
// own records. Run under Wine with the port mapped to a pseudo-terminal served
// by plcsim, it exercises the Windows serial backend and thread priority.
//
//   win32_host_check COMPORT
//
// The working directory holds the channel's ZIDIV.INT. The PLC's data block 2
// is expected to hold BlockPattern(i) in word i (the script loads it).
// Prints one line per check and "N passed, N failed"; exits 1 on a failure.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "morvane/morvane.h"
#include "ostrel/ostrel_control.h"

namespace {

using TevMainFunction = int32_t(MORVANE_CALL*)(TevRequest*);

constexpr int kBlockWords = 100;  // more than one telegram: a follow-on FETCH

int g_passed = 0;
int g_failed = 0;
std::vector<std::string> g_log;

bool Check(bool ok, const std::string& what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
    std::fflush(stdout);
    (ok ? g_passed : g_failed)++;
    return ok;
}

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
    return text;
}

void CollectLog(int level, const char* line, void*) {
    g_log.push_back(std::to_string(level) + " " + line);
}

bool LogHas(const char* text) {
    for (const std::string& line : g_log)
        if (line.find(text) != std::string::npos) return true;
    return false;
}

void DumpLog() {
    std::printf("driver log (%u lines):\n", static_cast<unsigned>(g_log.size()));
    for (const std::string& line : g_log)
        std::printf("  %s\n", line.c_str());
}

uint16_t BlockPattern(int index) {
    return static_cast<uint16_t>(0x1010 + index * 0x0203);  // DLE bytes included
}

class Channel {
  public:
    explicit Channel(TevMainFunction tev_main)
        : tev_main_(tev_main), area_(MORVANE_CHANNEL_AREA_SIZE, 0) {}

    int32_t Call(uint32_t command_code, void* parameter_block) {
        TevRequest request{reinterpret_cast<ChannelArea*>(area_.data()), command_code, 1, 0,
                           parameter_block};
        return tev_main_(&request);
    }

    const ChannelArea& area() const { return *reinterpret_cast<const ChannelArea*>(area_.data()); }

    int32_t Start(const char* port, uint32_t open_now, const LineParameters& line) {
        StartBlock start{};
        std::strncpy(start.port_name, port, sizeof start.port_name - 1);
        start.open_now = open_now;
        start.external_timeout = 1000;
        start.line = line;
        return Call(MORVANE_CMD_COLD_START, &start);
    }

    int32_t Parse(uint32_t command_code, const char* address, uint32_t gate_type,
                  GateAddress* gate) {
        ParseBlock parse{};
        parse.address = address;
        parse.gate_type = gate_type;
        const int32_t result = Call(command_code, &parse);
        if (gate != nullptr) *gate = parse.gate;
        return result;
    }

    int32_t Transfer(uint32_t command_code, const GateAddress& gate, int32_t count, void* data) {
        TransferBlock block{};
        block.gate = gate;
        block.count = count;
        block.data = data;
        return Call(command_code, &block);
    }

  private:
    TevMainFunction tev_main_;
    std::vector<uint8_t> area_;
};

InfoBlock CheckTevInfo(Channel& channel) {
    InfoBlock info{};
    Check(channel.Call(MORVANE_CMD_GET_TEV_INFO, &info) == MORVANE_OK, "GetTevInfo returns 0");
    Check(info.first_word == 82 && info.fifth_word == 4 && info.last_word == 0x00D00023u,
          "GetTevInfo fixed words 82, 4, 0x00D00023");
    Check(info.description != nullptr &&
              std::strcmp(info.description, "Siemens 3964 with RK512") == 0,
          "GetTevInfo description");
    const char* banner = info.banner;
    Check(banner != nullptr && std::strlen(banner) == 199 && banner[0] == '\x08' &&
              std::strstr(banner, "ZIDIV: Siemens 3964(-R)protocol with RK512") != nullptr,
          "GetTevInfo banner: 199 bytes with the frame text");
    Check(info.channel_area_size == MORVANE_CHANNEL_AREA_SIZE &&
              sizeof(ChannelArea) <= info.channel_area_size,
          "GetTevInfo channel area size " + std::to_string(info.channel_area_size));
    Check(info.defaults.baud_rate == 9600 && info.defaults.data_bits == 8 &&
              info.defaults.stop_bits == 0 && info.defaults.parity == 2,
          "GetTevInfo defaults 9600 8E1");
    return info;
}

void CheckParsing(Channel& channel) {
    const struct {
        uint32_t command;
        const char* address;
        uint32_t gate_type;
        int32_t result;
        uint32_t class_letter;
        int32_t packed;
    } cases[] = {
        {MORVANE_CMD_SINGLE_ADDRESS_PARSER, "001002", MORVANE_GATE_WORD, MORVANE_OK, 'I',
         0x00010002},
        {MORVANE_CMD_SINGLE_ADDRESS_PARSER, "001010F", MORVANE_GATE_FLOAT, MORVANE_OK, 'F',
         0x00010005},
        {MORVANE_CMD_SINGLE_ADDRESS_PARSER, "001030S20", MORVANE_GATE_STRING, MORVANE_OK, 'S',
         0x14010003},
        {MORVANE_CMD_BLOCK_ADDRESS_PARSER, "002000", MORVANE_GATE_WORD, MORVANE_OK, 'I',
         0x00020000},
        {MORVANE_CMD_SINGLE_ADDRESS_PARSER, "0010x2", MORVANE_GATE_WORD, MORVANE_REQUEST_FAILED, 0,
         0},
        {MORVANE_CMD_SINGLE_ADDRESS_PARSER, "001002F", MORVANE_GATE_WORD, MORVANE_REQUEST_FAILED, 0,
         0},
        {MORVANE_CMD_BLOCK_ADDRESS_PARSER, "", MORVANE_GATE_WORD, MORVANE_REQUEST_FAILED, 0, 0},
    };
    for (const auto& c : cases) {
        GateAddress gate{};
        const int32_t result = channel.Parse(c.command, c.address, c.gate_type, &gate);
        bool ok = result == c.result;
        if (c.result == MORVANE_OK)
            ok = ok && gate.parsed == 1 && gate.class_letter == c.class_letter &&
                 gate.packed_address == c.packed;
        Check(ok, "parse (" + std::to_string(c.command) + ") \"" + c.address + "\" -> " +
                      std::to_string(result) + ", packed " + Hex(gate.packed_address));
    }
}

GateAddress Gate(Channel& channel, const char* address, uint32_t gate_type, bool block = false) {
    GateAddress gate{};
    channel.Parse(block ? MORVANE_CMD_BLOCK_ADDRESS_PARSER : MORVANE_CMD_SINGLE_ADDRESS_PARSER,
                  address, gate_type, &gate);
    return gate;
}

// A single command's 4-byte value slot; 16-bit values live in its second half.
struct Slot {
    uint8_t bytes[4];
    uint16_t Word() const {
        uint16_t value;
        std::memcpy(&value, bytes + 2, 2);
        return value;
    }
    float Float() const {
        float value;
        std::memcpy(&value, bytes, 4);
        return value;
    }
};
Slot WordSlot(uint16_t value) {
    Slot slot{{0xEE, 0xEE, 0, 0}};
    std::memcpy(slot.bytes + 2, &value, 2);
    return slot;
}
Slot FloatSlot(float value) {
    Slot slot{};
    std::memcpy(slot.bytes, &value, 4);
    return slot;
}

void CheckTransfers(Channel& channel) {
    const int priority_before = GetThreadPriority(GetCurrentThread());

    GateAddress word = Gate(channel, "001002", MORVANE_GATE_WORD);
    Slot out = WordSlot(0xA510);
    Slot in = WordSlot(0);
    Check(channel.Transfer(MORVANE_CMD_SINGLE_WRITE, word, 1, &out) == MORVANE_OK,
          "SingleWrite word 0xA510 to DB1 word 2");
    int32_t result = channel.Transfer(MORVANE_CMD_SINGLE_READ, word, 1, &in);
    Check(result == MORVANE_OK && in.Word() == 0xA510,
          "SingleRead word: " + std::to_string(result) + ", " + Hex(in.Word()));

    GateAddress real = Gate(channel, "001010F", MORVANE_GATE_FLOAT);
    out = FloatSlot(-123.25f);
    in = FloatSlot(0.0f);
    Check(channel.Transfer(MORVANE_CMD_SINGLE_WRITE, real, 1, &out) == MORVANE_OK,
          "SingleWrite float -123.25");
    result = channel.Transfer(MORVANE_CMD_SINGLE_READ, real, 1, &in);
    Check(result == MORVANE_OK && in.Float() == -123.25f,
          "SingleRead float: " + std::to_string(result) + ", " + std::to_string(in.Float()));

    GateAddress text = Gate(channel, "001030S20", MORVANE_GATE_STRING);
    char written[MORVANE_STRING_SLOT_SIZE] = "WINE HOST CHECK";
    char read[MORVANE_STRING_SLOT_SIZE];
    std::memset(read, 'x', sizeof read);
    Check(channel.Transfer(MORVANE_CMD_SINGLE_WRITE, text, 1, written) == MORVANE_OK,
          "SingleWrite string \"WINE HOST CHECK\"");
    result = channel.Transfer(MORVANE_CMD_SINGLE_READ, text, 1, read);
    Check(result == MORVANE_OK && std::memcmp(read, "WINE HOST CHECK\0\0\0\0\0\0", 21) == 0,
          "SingleRead string: " + std::to_string(result) + ", \"" +
              std::string(read, strnlen(read, 20)) + "\"");

    GateAddress bit = Gate(channel, "00100214", MORVANE_GATE_DIGITAL);
    out = WordSlot(1);
    in = WordSlot(0);
    Slot whole = WordSlot(0);
    Check(channel.Transfer(MORVANE_CMD_SINGLE_WRITE, bit, 1, &out) == MORVANE_OK,
          "SingleWrite bit 14 of DB1 word 2");
    result = channel.Transfer(MORVANE_CMD_SINGLE_READ, bit, 1, &in);
    const int32_t word_result = channel.Transfer(MORVANE_CMD_SINGLE_READ, word, 1, &whole);
    Check(result == MORVANE_OK && in.Word() == 1 && word_result == MORVANE_OK &&
              whole.Word() == (0xA510 | 1u << 14),
          "SingleRead bit 14: " + std::to_string(in.Word()) + ", word now " + Hex(whole.Word()));

    GateAddress block = Gate(channel, "002000", MORVANE_GATE_WORD, true);
    std::vector<uint16_t> words(kBlockWords, 0xDEAD);
    result = channel.Transfer(MORVANE_CMD_BLOCK_READ, block, kBlockWords, words.data());
    int wrong = 0;
    for (int i = 0; i < kBlockWords; ++i)
        if (words[i] != BlockPattern(i)) ++wrong;
    Check(result == MORVANE_OK && wrong == 0, "BlockRead " + std::to_string(kBlockWords) +
                                                  " words of DB2: " + std::to_string(result) +
                                                  ", " + std::to_string(wrong) + " wrong");

    GateAddress missing = Gate(channel, "009000", MORVANE_GATE_WORD);
    in = WordSlot(0x5A5A);
    result = channel.Transfer(MORVANE_CMD_SINGLE_READ, missing, 1, &in);
    Check(result == MORVANE_REQUEST_FAILED && in.Word() == 0x5A5A,
          "SingleRead of a missing data block refused with 1: " + std::to_string(result));

    Check(GetThreadPriority(GetCurrentThread()) == priority_before,
          "thread priority restored after the exchanges");
    Check(!LogHas("error setting priority") && !LogHas("error resetting priority"),
          "time-critical priority set and reset without a warning");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: win32_host_check COMPORT\n");
        return 2;
    }
    const char* port = argv[1];
    OstrelSetLogSink(CollectLog, nullptr);

    HMODULE driver = LoadLibraryA("MORVANE.DLL");
    if (!Check(driver != nullptr, "LoadLibraryA(\"MORVANE.DLL\")")) return 1;
    auto tev_main = reinterpret_cast<TevMainFunction>(
        reinterpret_cast<void*>(GetProcAddress(driver, "TevMain")));
    if (!Check(tev_main != nullptr, "GetProcAddress \"TevMain\"")) return 1;

    Channel null_channel(tev_main);
    const InfoBlock info = CheckTevInfo(null_channel);
    CheckParsing(null_channel);
    Check(null_channel.Start("NUL", 1, info.defaults) == MORVANE_OK &&
              null_channel.area().port_handle != 0,
          "ColdStart on NUL, opened now");
    Check(null_channel.Call(MORVANE_CMD_END_TEV, nullptr) == MORVANE_OK &&
              null_channel.area().port_handle == 0,
          "EndTev on NUL closes the port");

    Channel line(tev_main);
    int32_t result = line.Start(port, 1, info.defaults);
    if (Check(result == MORVANE_OK && line.area().port_handle != 0,
              std::string("ColdStart on ") + port +
                  " (9600 8E1), opened now: " + std::to_string(result))) {
        Check(line.area().port_settings.is_3964r == 1 && LogHas("ZIDIV> Protocol= PROT3964R"),
              "ZIDIV.INT selects 3964R");
        CheckTransfers(line);
        result = line.Call(MORVANE_CMD_END_TEV, nullptr);
        Check(result == MORVANE_OK && line.area().port_handle == 0,
              "EndTev closes " + std::string(port));
    }

    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    if (g_failed != 0) DumpLog();
    FreeLibrary(driver);
    return g_failed == 0 ? 0 : 1;
}
