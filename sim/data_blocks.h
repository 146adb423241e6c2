// The PLC's data blocks: numbers 0 to 255, each up to 2048 16-bit words,
// declared with a length or created on first access.
#pragma once

#include <array>
#include <cstdint>
#include <istream>
#include <string>

namespace plcsim {

constexpr int kDataBlockCount = 256;
constexpr uint16_t kMaxBlockWords = 2048;
constexpr uint16_t kOnDemandBlockWords = 256;

class DataBlocks {
  public:
    // Makes block db exist with the given length (1 to 2048 words, clamped);
    // words already held keep their values.
    void Declare(uint8_t db, uint16_t words);
    void Remove(uint8_t db);
    bool Exists(uint8_t db) const { return blocks_[db].length > 0; }
    uint16_t Length(uint8_t db) const { return blocks_[db].length; }

    // Blocks that do not exist are created with 256 words on first access.
    void set_create_on_demand(bool on) { create_on_demand_ = on; }
    bool create_on_demand() const { return create_on_demand_; }

    // True when db exists, creating it first where allowed.
    bool Prepare(uint8_t db);

    // Words outside the block read 0 and are not written.
    uint16_t Word(uint8_t db, uint16_t index) const;
    void SetWord(uint8_t db, uint16_t index, uint16_t value);

    // Text file, one line per block: "DB<n> <length>:" then all its words,
    // each exactly four hex digits, or none for a block of zeros. Lines
    // starting with '#' are comments. Load replaces every block; a malformed
    // file is refused with "NAME:LINE:COLUMN: what was expected" and changes
    // nothing. (block_file.cpp)
    bool Load(const std::string& path, std::string* error);
    bool Read(std::istream& text, const std::string& name, std::string* error);
    // Writes a temporary file beside path and renames it over path, so that
    // the old file stays whole until the new one is.
    bool Save(const std::string& path, std::string* error) const;
    std::string Text() const;

  private:
    struct Block {
        uint16_t length = 0;
        std::array<uint16_t, kMaxBlockWords> words{};
    };
    std::array<Block, kDataBlockCount> blocks_{};
    bool create_on_demand_ = true;
};

}  // namespace plcsim
