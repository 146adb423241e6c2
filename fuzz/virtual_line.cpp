#include "fuzz/virtual_line.h"

namespace morvane::fuzz {
namespace {

constexpr uint8_t kLengthMask = 0x3F;
constexpr size_t kLongChunk = 0x3F;  // the length goes on in the next byte

}  // namespace

VirtualLine& TheLine() {
    static VirtualLine line;
    return line;
}

void VirtualLine::Reset(const uint8_t* script, size_t size) {
    script_ = script;
    script_size_ = size;
    script_position_ = 0;
    queue_.clear();
    queue_head_ = 0;
    now_ms_ = 0;
    read_timeout_ms_ = 0;
    open_ = false;
    lost_ = false;
    ForgetWritten();
}

void VirtualLine::ForgetWritten() {
    written_.clear();
    blocks_.clear();
}

bool VirtualLine::PeekChunk(Chunk* chunk, size_t* script_bytes) const {
    size_t at = script_position_;
    if (at >= script_size_) return false;
    const uint8_t head = script_[at++];
    size_t length = head & kLengthMask;
    if (length == kLongChunk && at < script_size_) length += script_[at++];
    if (length > script_size_ - at) length = script_size_ - at;
    *chunk = Chunk{static_cast<Release>(head >> 6), script_ + at, length};
    *script_bytes = at + length - script_position_;
    return true;
}

bool VirtualLine::NextIsLate() const {
    Chunk chunk{};
    size_t used = 0;
    return PeekChunk(&chunk, &used) && chunk.release == Release::kLate;
}

void VirtualLine::ReleaseNext() {
    Chunk chunk{};
    size_t used = 0;
    if (!PeekChunk(&chunk, &used)) return;
    script_position_ += used;
    if (chunk.release == Release::kDeviceLost) {
        lost_ = true;
        return;
    }
    queue_.insert(queue_.end(), chunk.bytes, chunk.bytes + chunk.length);
}

bool VirtualLine::Open() {
    if (lost_ || open_) return false;
    open_ = true;
    read_timeout_ms_ = 0;
    return true;
}

bool VirtualLine::Close() {
    if (!open_) return false;
    open_ = false;
    return true;
}

uint32_t VirtualLine::SetReadTimeoutMs(uint32_t milliseconds) {
    const uint32_t previous = read_timeout_ms_;
    read_timeout_ms_ = milliseconds;
    return previous;
}

bool VirtualLine::Write(const uint8_t* bytes, size_t count) {
    if (lost_) return false;
    Chunk chunk{};
    size_t used = 0;
    const bool fails = PeekChunk(&chunk, &used) && chunk.release == Release::kFailWrite;
    if (!fails) {
        blocks_.push_back(WrittenBlock{written_.size(), count});
        written_.insert(written_.end(), bytes, bytes + count);
    }
    // The partner answers what it received; a late chunk waits for a wait.
    if (!NextIsLate()) ReleaseNext();
    return !fails;
}

bool VirtualLine::Read(uint8_t* buffer, size_t count, size_t* got) {
    *got = 0;
    if (lost_) return false;
    const uint64_t deadline = now_ms_ + read_timeout_ms_;
    while (*got < count) {
        if (queue_head_ < queue_.size()) {
            buffer[(*got)++] = queue_[queue_head_++];
            continue;
        }
        if (NextIsLate() && now_ms_ < deadline) {
            now_ms_ += (deadline - now_ms_) / 2;  // within the time-out, never at its end
            ReleaseNext();
            continue;
        }
        now_ms_ = deadline;
        break;
    }
    if (queue_head_ == queue_.size()) {
        queue_.clear();
        queue_head_ = 0;
    }
    return true;
}

bool VirtualLine::BytesWaiting(size_t* waiting) const {
    if (lost_) return false;
    *waiting = queue_.size() - queue_head_;
    return true;
}

void VirtualLine::Sleep(uint32_t milliseconds) {
    now_ms_ += milliseconds;
    if (!lost_ && NextIsLate()) ReleaseNext();
}

}  // namespace morvane::fuzz
