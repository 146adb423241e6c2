#include "sim/rk512_server.h"

#include <algorithm>

namespace plcsim {
namespace {

constexpr uint8_t kFirstTelegram = 0x00;
constexpr uint8_t kFollowOnTelegram = 0xFF;
constexpr size_t kFirstHeaderSize = 10;
constexpr size_t kFollowOnHeaderSize = 4;

Bytes Reply(uint8_t first_byte, uint8_t error) {
    return Bytes{first_byte, 0x00, 0x00, error};
}

}  // namespace

Bytes Rk512Server::Handle(const Bytes& telegram) {
    if (telegram.size() >= kFollowOnHeaderSize && telegram[0] == kFollowOnTelegram)
        return HandleFollowOn(telegram);
    transfer_ = Transfer{};  // a first telegram (or garbage) ends any open transfer
    if (telegram.size() < kFirstHeaderSize || telegram[0] != kFirstTelegram)
        return Reply(kFirstTelegram, kRkUnknownCommand);
    return HandleFirst(telegram);
}

Bytes Rk512Server::HandleFirst(const Bytes& t) {
    const uint8_t command = t[2];
    if (t[1] != 0 || (command != kCmdFetch && command != kCmdSend) || t[3] != kTypeDataBlock)
        return Reply(kFirstTelegram, kRkUnknownCommand);
    const uint8_t db = t[4];
    const uint16_t start = t[5];
    const uint16_t count = static_cast<uint16_t>(t[6] << 8 | t[7]);
    if (!blocks_.Prepare(db)) return Reply(kFirstTelegram, kRkNoSuchBlock);
    if (start + count > blocks_.Length(db)) return Reply(kFirstTelegram, kRkBeyondBlockEnd);
    transfer_ = Transfer{command, db, start, count};
    return Continue(kFirstTelegram, t.data() + kFirstHeaderSize, t.size() - kFirstHeaderSize);
}

Bytes Rk512Server::HandleFollowOn(const Bytes& t) {
    const bool matches = t[1] == 0 && t[2] == transfer_.command && t[3] == kTypeDataBlock;
    if (!transfer_open() || !matches) {
        transfer_ = Transfer{};
        return Reply(kFollowOnTelegram, kRkNoFollowOn);
    }
    return Continue(kFollowOnTelegram, t.data() + kFollowOnHeaderSize,
                    t.size() - kFollowOnHeaderSize);
}

Bytes Rk512Server::Continue(uint8_t first_byte, const uint8_t* data, size_t data_size) {
    const uint16_t words = std::min(transfer_.remaining, kWordsPerTelegram);
    Bytes reply = Reply(first_byte, kRkOk);
    if (transfer_.command == kCmdSend) {
        if (data_size != words * 2u) {
            transfer_ = Transfer{};
            return Reply(first_byte, kRkBadLength);
        }
        for (uint16_t i = 0; i < words; ++i)
            blocks_.SetWord(transfer_.db, transfer_.next_word + i,
                            static_cast<uint16_t>(data[2 * i] << 8 | data[2 * i + 1]));
    } else {
        for (uint16_t i = 0; i < words; ++i) {
            const uint16_t word = blocks_.Word(transfer_.db, transfer_.next_word + i);
            reply.push_back(static_cast<uint8_t>(word >> 8));
            reply.push_back(static_cast<uint8_t>(word));
        }
    }
    transfer_.next_word = static_cast<uint16_t>(transfer_.next_word + words);
    transfer_.remaining = static_cast<uint16_t>(transfer_.remaining - words);
    return reply;
}

}  // namespace plcsim
