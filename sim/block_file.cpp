// The data blocks' text file. Reading is strict: the file is the user's
// record of the PLC's memory, and a word read wrongly would be saved back
// wrongly, so anything that is not exactly the format is refused with where
// it is and what was expected.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "sim/data_blocks.h"
#include "sim/printable.h"
#include "sim/replace_file.h"

namespace plcsim {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsHexDigit(char c) {
    return IsDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}
uint16_t HexValue(char c) {
    if (IsDigit(c)) return static_cast<uint16_t>(c - '0');
    return static_cast<uint16_t>((c | 0x20) - 'a' + 10);
}

// One line of the file, read left to right; the first mistake is kept with
// its column.
class LineReader {
  public:
    LineReader(const std::string& text, std::string* problem) : text_(text), problem_(problem) {}

    size_t column() const { return at_ + 1; }
    bool AtEnd() {
        while (at_ < text_.size() && IsBlank(text_[at_]))
            ++at_;
        return at_ >= text_.size();
    }

    bool Refuse(const std::string& what) {
        *problem_ = std::to_string(column()) + ": " + what;
        return false;
    }

    bool Literal(const char* expected, const char* what) {
        for (size_t i = 0; expected[i] != '\0'; ++i, ++at_)
            if (at_ >= text_.size() || text_[at_] != expected[i]) return Refuse(what);
        return true;
    }

    bool Blanks(const char* what) {
        if (at_ >= text_.size() || !IsBlank(text_[at_])) return Refuse(what);
        AtEnd();
        return true;
    }

    bool Decimal(unsigned low, unsigned high, const std::string& what, unsigned* value) {
        const size_t start = at_;
        unsigned long number = 0;
        while (at_ < text_.size() && IsDigit(text_[at_]) && number <= high)
            number = number * 10 + static_cast<unsigned>(text_[at_++] - '0');
        if (at_ == start || number < low || number > high) {
            at_ = start;
            return Refuse(what);
        }
        *value = static_cast<unsigned>(number);
        return true;
    }

    // A word: exactly four hex digits, then a blank or the end of the line.
    bool Word(uint16_t* value) {
        const size_t start = at_;
        *value = 0;
        for (; at_ < text_.size() && !IsBlank(text_[at_]); ++at_) {
            if (!IsHexDigit(text_[at_]))
                return Refuse("expected a hex digit (0-9, A-F), found '" +
                              Printable(std::string_view(&text_[at_], 1)) + "'");
            *value = static_cast<uint16_t>(*value << 4 | HexValue(text_[at_]));
        }
        const size_t digits = at_ - start;
        if (digits == 4) return true;
        at_ = start;
        return Refuse("expected four hex digits, found " + std::to_string(digits) + " (\"" +
                      text_.substr(start, digits) + "\")");
    }

  private:
    const std::string& text_;
    std::string* problem_;
    size_t at_ = 0;
};

const char kHeaderForm[] = "expected \"DB<n> <length>:\" then the words in hex";

// "DB<n> <length>:" and the block's words, into blocks; false with *problem
// ("COLUMN: what").
bool ReadBlockLine(const std::string& text, DataBlocks* blocks, std::string* problem) {
    LineReader line(text, problem);
    unsigned db = 0;
    unsigned length = 0;
    if (!line.Literal("DB", kHeaderForm) ||
        !line.Decimal(0, kDataBlockCount - 1, "expected a block number, 0 to 255", &db))
        return false;
    if (blocks->Exists(static_cast<uint8_t>(db))) {
        *problem = "1: block " + std::to_string(db) + " is given twice";
        return false;
    }
    if (!line.Blanks("expected a space before the block's length") ||
        !line.Decimal(1, kMaxBlockWords, "expected the block's length, 1 to 2048 words", &length) ||
        !line.Literal(":", "expected ':' after the block's length"))
        return false;
    blocks->Declare(static_cast<uint8_t>(db), static_cast<uint16_t>(length));
    unsigned given = 0;
    while (!line.AtEnd()) {
        if (given == length)
            return line.Refuse("more words than the block's " + std::to_string(length));
        uint16_t word = 0;
        if (!line.Word(&word)) return false;
        blocks->SetWord(static_cast<uint8_t>(db), static_cast<uint16_t>(given++), word);
    }
    if (given != 0 && given != length)
        return line.Refuse(std::to_string(given) + (given == 1 ? " word" : " words") +
                           " for a block of " + std::to_string(length) +
                           ": give all, or none for zeros");
    return true;
}

}  // namespace

bool DataBlocks::Read(std::istream& text, const std::string& name, std::string* error) {
    // A whole block set is a megabyte: built on the heap, taken only when
    // every line is right.
    auto loaded = std::make_unique<DataBlocks>();
    loaded->create_on_demand_ = create_on_demand_;
    std::string line;
    std::string problem;
    for (int number = 1; std::getline(text, line); ++number) {
        if (line.find_first_not_of(" \t\r") == std::string::npos || line[0] == '#') continue;
        if (!ReadBlockLine(line, loaded.get(), &problem)) {
            *error = name + ":" + std::to_string(number) + ":" + problem;
            return false;
        }
    }
    if (text.bad()) {
        *error = "cannot read " + name;
        return false;
    }
    *this = *loaded;
    return true;
}

bool DataBlocks::Load(const std::string& path, std::string* error) {
    *error = NotARegularFile(path);  // a FIFO would hang the reading, a device never ends
    if (!error->empty()) return false;
    errno = 0;
    std::ifstream in(path);
    if (!in) {
        *error = "cannot open " + path + (errno ? std::string(": ") + std::strerror(errno) : "");
        return false;
    }
    return Read(in, path, error);
}

std::string DataBlocks::Text() const {
    std::string text = "# plcsim data blocks: DB<n> <length>: words in hex\n";
    char word[8];
    for (int db = 0; db < kDataBlockCount; ++db) {
        const Block& block = blocks_[db];
        if (block.length == 0) continue;
        text += "DB" + std::to_string(db) + ' ' + std::to_string(block.length) + ':';
        for (uint16_t i = 0; i < block.length; ++i) {
            std::snprintf(word, sizeof word, " %04X", block.words[i]);
            text += word;
        }
        text += '\n';
    }
    return text;
}

bool DataBlocks::Save(const std::string& path, std::string* error) const {
    return ReplaceFile(path, Text(), error);
}

}  // namespace plcsim
