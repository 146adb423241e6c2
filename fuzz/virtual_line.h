// The partner the line fuzzer plays, behind the serial functions and the
// waits of the driver (serial_fuzz.cpp, wait_fuzz.cpp replace the platform
// files at link time). The partner's bytes come from a script of chunks, each
// released into the input queue at a moment the driver creates; every wait
// advances a virtual clock instead of sleeping, so a call that would wait
// minutes on a real line costs microseconds and its waiting is still measured.
//
// Script: chunks one after another, each a head byte, an optional length
// byte, and the chunk's bytes. The head's top two bits say when the chunk
// arrives (Release), its low six bits the length; 63 means 63 plus the next
// byte. A script that ends leaves the line silent: every read times out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace morvane::fuzz {

enum class Release : uint8_t {
    kOnWrite = 0,     // the partner's answer to the driver's next write
    kLate = 1,        // arrives while the driver waits, before its time-out ends
    kFailWrite = 2,   // the driver's next write fails; the bytes arrive as noise
    kDeviceLost = 3,  // after the driver's next write, every port call fails
};

// One write of the driver, as it went on the line.
struct WrittenBlock {
    size_t offset;  // into VirtualLine::written
    size_t length;
};

class VirtualLine {
  public:
    // A new partner with this script; the clock starts at 0, no port is open.
    void Reset(const uint8_t* script, size_t size);

    // The port calls of the serial seam.
    bool Open();
    bool Close();
    bool IsOpen() const { return open_; }
    uint32_t SetReadTimeoutMs(uint32_t milliseconds);  // the previous one
    bool Write(const uint8_t* bytes, size_t count);
    // Waits at most the read time-out for count bytes; false when the device is lost.
    bool Read(uint8_t* buffer, size_t count, size_t* got);
    bool BytesWaiting(size_t* waiting) const;
    // A sleep of the driver: the clock moves on, a late chunk arrives.
    void Sleep(uint32_t milliseconds);

    uint64_t NowMs() const { return now_ms_; }
    uint32_t ReadTimeoutMs() const { return read_timeout_ms_; }
    const std::vector<uint8_t>& Written() const { return written_; }
    const std::vector<WrittenBlock>& WrittenBlocks() const { return blocks_; }
    void ForgetWritten();

  private:
    struct Chunk {
        Release release;
        const uint8_t* bytes;
        size_t length;
    };
    bool PeekChunk(Chunk* chunk, size_t* script_bytes) const;
    void ReleaseNext();
    bool NextIsLate() const;

    const uint8_t* script_ = nullptr;
    size_t script_size_ = 0;
    size_t script_position_ = 0;
    std::vector<uint8_t> queue_;
    size_t queue_head_ = 0;
    uint64_t now_ms_ = 0;
    uint32_t read_timeout_ms_ = 0;
    bool open_ = false;
    bool lost_ = false;
    std::vector<uint8_t> written_;
    std::vector<WrittenBlock> blocks_;
};

// The one line of the process, which the seam's functions work on.
VirtualLine& TheLine();

// The thread priority the seam reports; 0 is the thread's normal one.
int CurrentPriority();

}  // namespace morvane::fuzz
