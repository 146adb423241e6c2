#include "sim/data_blocks.h"

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

}  // namespace plcsim
