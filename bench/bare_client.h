// A bare 3964R client: the bytes of one FETCH exchange through plain write,
// poll and read on the device, with no driver code and no change of
// priority. What the driver is held against: the same telegram on the same
// paced simulator, so whatever it costs beyond this is the driver's own.
//
// The client does only what the fault-free exchange needs (STX for DLE, the
// telegram for DLE, the reply's STX answered with DLE, the reply block to
// its block check, the closing DLE); any other byte or a silent second
// ends the exchange as failed.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

namespace morvane::bench {

class BareClient {
  public:
    explicit BareClient(const std::string& device)
        : fd_(open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
        termios raw{};
        if (fd_ < 0 || tcgetattr(fd_, &raw) != 0) return;
        cfmakeraw(&raw);
        ok_ = tcsetattr(fd_, TCSANOW, &raw) == 0;
    }
    ~BareClient() {
        if (fd_ >= 0) close(fd_);
    }
    BareClient(const BareClient&) = delete;
    BareClient& operator=(const BareClient&) = delete;

    bool ok() const { return ok_; }

    // FETCH of words from data block db at word start (up to 64 words).
    bool Fetch(uint8_t db, uint8_t start, uint16_t words) {
        const uint8_t telegram[] = {0x00,
                                    0x00,
                                    'E',
                                    'D',
                                    db,
                                    start,
                                    static_cast<uint8_t>(words >> 8),
                                    static_cast<uint8_t>(words),
                                    0xFF,
                                    0xFF};
        return Send({kStx}) && Expect(kDle) && Send(Framed(telegram, sizeof telegram)) &&
               Expect(kDle) && Expect(kStx) && Send({kDle}) && TakeBlock() && Send({kDle});
    }

  private:
    static constexpr uint8_t kStx = 0x02;
    static constexpr uint8_t kEtx = 0x03;
    static constexpr uint8_t kDle = 0x10;
    static constexpr int kSilentMs = 1000;

    // DLE doubled, DLE ETX, and the block check over all of it.
    static std::vector<uint8_t> Framed(const uint8_t* bytes, size_t length) {
        std::vector<uint8_t> framed;
        for (size_t i = 0; i < length; ++i) {
            framed.push_back(bytes[i]);
            if (bytes[i] == kDle) framed.push_back(kDle);
        }
        framed.push_back(kDle);
        framed.push_back(kEtx);
        uint8_t check = 0;
        for (const uint8_t byte : framed)
            check ^= byte;
        framed.push_back(check);
        return framed;
    }

    bool Send(const std::vector<uint8_t>& bytes) {
        return write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

    // The next byte of the line, from what the last read brought or a new one.
    bool Next(uint8_t* byte) {
        if (taken_ == held_) {
            pollfd watch{fd_, POLLIN, 0};
            if (poll(&watch, 1, kSilentMs) <= 0) return false;
            const ssize_t n = read(fd_, held_bytes_, sizeof held_bytes_);
            if (n <= 0) return false;
            held_ = static_cast<size_t>(n);
            taken_ = 0;
        }
        *byte = held_bytes_[taken_++];
        return true;
    }

    bool Expect(uint8_t wanted) {
        uint8_t byte = 0;
        return Next(&byte) && byte == wanted;
    }

    // The reply block to DLE ETX and its block check, which must match.
    bool TakeBlock() {
        uint8_t check = 0;
        bool after_dle = false;
        for (uint8_t byte = 0; Next(&byte);) {
            check ^= byte;
            if (after_dle && byte == kEtx) return Next(&byte) && byte == check;
            after_dle = !after_dle && byte == kDle;
        }
        return false;
    }

    int fd_;
    bool ok_ = false;
    uint8_t held_bytes_[256] = {};
    size_t held_ = 0;
    size_t taken_ = 0;
};

}  // namespace morvane::bench
