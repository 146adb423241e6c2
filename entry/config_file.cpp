#include "entry/config_file.h"

#include <cstdio>
#include <cstring>

#include "morvane/morvane.h"
#include "morvane/ostrel.h"

namespace morvane {
namespace {

constexpr char kBaseName[] = "ZIDIV";
constexpr size_t kFileNameSize = 32;  // "ZIDIV" + "-2147483648" + ".INT" fits

// Reads the first of the channel's file names that exists; its name goes to name.
bool ReadChannelFile(int32_t channel_number, char (&name)[kFileNameSize], char* text,
                     size_t* length) {
    std::snprintf(name, sizeof name, "%s%02d.INT", kBaseName, static_cast<int>(channel_number));
    if (ReadConfigText(name, text, MORVANE_CHANNEL_FILE_READ_SIZE, length)) return true;
    std::snprintf(name, sizeof name, "%s%01d.INT", kBaseName, static_cast<int>(channel_number));
    if (ReadConfigText(name, text, MORVANE_CHANNEL_FILE_READ_SIZE, length)) return true;
    std::snprintf(name, sizeof name, "%s.INT", kBaseName);
    return ReadConfigText(name, text, MORVANE_CHANNEL_FILE_READ_SIZE, length);
}

}  // namespace

ProtocolWord ParseProtocolText(const char* text, size_t length) {
    char copy[MORVANE_CHANNEL_FILE_READ_SIZE + 1];
    if (length > MORVANE_CHANNEL_FILE_READ_SIZE) length = MORVANE_CHANNEL_FILE_READ_SIZE;
    std::memcpy(copy, text, length);
    copy[length] = '\0';  // the text ends after the last byte read
    char word[6] = {};
    if (std::sscanf(copy, "PROTOCOL=%5s", word) != 1) return ProtocolWord::kInvalid;
    if (std::strncmp(word, "3964R", 5) == 0) return ProtocolWord::k3964R;
    if (std::strncmp(word, "3964", 4) == 0) return ProtocolWord::k3964;
    return ProtocolWord::kInvalid;
}

uint8_t ReadProtocolFile(int32_t channel_number) {
    char name[kFileNameSize];
    uint8_t is_3964r = 0;
    char text[MORVANE_CHANNEL_FILE_READ_SIZE];
    size_t length = 0;
    if (ReadChannelFile(channel_number, name, text, &length)) {
        err(MORVANE_LOG_OPERATOR, "ZIDIV> %s Int File Found.", name);
        const ProtocolWord word = ParseProtocolText(text, length);
        if (word == ProtocolWord::kInvalid)
            err(MORVANE_LOG_OPERATOR, "ZIDIV> Error in INT file, using defaults.");
        is_3964r = word == ProtocolWord::k3964R ? 1 : 0;
    } else {
        err(MORVANE_LOG_OPERATOR, "ZIDIV> Int File not found!. Default values used!");
    }
    err(MORVANE_LOG_OPERATOR,
        is_3964r ? "ZIDIV> Protocol= PROT3964R" : "ZIDIV> Protocol= PROT3964");
    return is_3964r;
}

}  // namespace morvane
