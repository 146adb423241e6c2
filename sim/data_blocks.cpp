#include "sim/data_blocks.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace plcsim {

void DataBlocks::Declare(uint8_t db, uint16_t words) {
    if (words == 0) words = 1;
    if (words > kMaxBlockWords) words = kMaxBlockWords;
    Block& block = blocks_[db];
    for (uint16_t i = words; i < kMaxBlockWords; ++i)
        block.words[i] = 0;
    block.length = words;
}

void DataBlocks::Remove(uint8_t db) {
    blocks_[db] = Block{};
}

bool DataBlocks::Prepare(uint8_t db) {
    if (!Exists(db) && create_on_demand_) Declare(db, kOnDemandBlockWords);
    return Exists(db);
}

uint16_t DataBlocks::Word(uint8_t db, uint16_t index) const {
    const Block& block = blocks_[db];
    return index < block.length ? block.words[index] : 0;
}

void DataBlocks::SetWord(uint8_t db, uint16_t index, uint16_t value) {
    Block& block = blocks_[db];
    if (index < block.length) block.words[index] = value;
}

bool DataBlocks::Load(const std::string& path, std::string* error) {
    std::ifstream in(path);
    if (!in) {
        *error = "cannot open " + path;
        return false;
    }
    DataBlocks loaded;
    loaded.create_on_demand_ = create_on_demand_;
    std::string text;
    int line_number = 0;
    while (std::getline(in, text)) {
        ++line_number;
        if (text.empty() || text[0] == '#') continue;
        unsigned db = 0, length = 0;
        int consumed = 0;
        if (std::sscanf(text.c_str(), "DB%u %u:%n", &db, &length, &consumed) != 2 ||
            consumed == 0 || db >= kDataBlockCount || length == 0 || length > kMaxBlockWords) {
            *error =
                path + ":" + std::to_string(line_number) + ": expected \"DB<n> <length>: words\"";
            return false;
        }
        loaded.Declare(static_cast<uint8_t>(db), static_cast<uint16_t>(length));
        std::istringstream words(text.substr(consumed));
        unsigned value = 0;
        for (uint16_t i = 0; i < length && words >> std::hex >> value; ++i)
            loaded.SetWord(static_cast<uint8_t>(db), i, static_cast<uint16_t>(value));
    }
    *this = loaded;
    return true;
}

bool DataBlocks::Save(const std::string& path) const {
    std::ofstream out(path);
    if (!out) return false;
    out << "# plcsim data blocks: DB<n> <length>: words in hex\n";
    for (int db = 0; db < kDataBlockCount; ++db) {
        const Block& block = blocks_[db];
        if (block.length == 0) continue;
        out << "DB" << db << ' ' << block.length << ':';
        char word[8];
        for (uint16_t i = 0; i < block.length; ++i) {
            std::snprintf(word, sizeof word, " %04X", block.words[i]);
            out << word;
        }
        out << '\n';
    }
    return static_cast<bool>(out);
}

}  // namespace plcsim
