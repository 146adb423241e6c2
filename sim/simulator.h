// The PLC partner: the passive side of a 3964/3964R line with RK512 FETCH
// and SEND of data-block words, as a PLC's serial module behaves, with fault
// injection for the tests. Every setter may be called from any thread while
// the simulator serves the line.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/data_blocks.h"
#include "sim/line.h"
#include "sim/rk512_server.h"
#include "sim/trace.h"

namespace plcsim {

// A fault count that never runs out.
constexpr uint32_t kAlways = UINT32_MAX;

// Who wins when both sides send STX at once. The driver expects a
// low-priority partner.
enum class Priority { kLow, kHigh };

struct LinkSettings {
    bool is_3964r = false;
    Priority priority = Priority::kLow;
    uint32_t char_delay_ms = 220;   // longest gap between two bytes of a received block
    uint32_t ack_delay_ms = 0;      // longest wait for DLE; 0: 550 ms (3964), 2000 ms (3964R)
    uint32_t connect_attempts = 6;  // STX sent per transmission before giving up
    uint32_t send_attempts = 6;     // transmissions of a block in all, the first included
    // The simulator's own telegram, sent when it has one pending (conflict).
    Bytes own_telegram{0x00, 0x00, 0x41, 0x44, 0x00, 0x00, 0x00, 0x01, 0xFF, 0xFF, 0x12, 0x34};

    uint32_t AckDelayMs() const { return ack_delay_ms ? ack_delay_ms : is_3964r ? 2000 : 550; }
};

// Counts say how many of the next occasions a fault hits (kAlways: all).
// The line faults count transmissions: a reply repeated after NAK is spoiled
// again only while its count lasts, as a disturbance on the line would be.
struct Faults {
    uint32_t ignore_requests = 0;  // connection requests (STX) never answered
    uint32_t answer_delay_ms = 0;  // wait before accepting a connection request with DLE
    uint32_t nak_telegrams = 0;    // received blocks refused with NAK
    uint32_t no_reply = 0;         // telegrams acknowledged but never answered
    uint32_t reply_delay_ms = 0;   // wait before the reply's STX
    uint32_t corrupt_bcc = 0;      // reply transmissions with a wrong BCC (3964R)
    uint32_t drop_byte = 0;        // reply transmissions that lose the byte at byte_index
    uint32_t corrupt_byte = 0;     // reply transmissions whose byte at byte_index is inverted
    uint32_t byte_index = 4;       // index in the reply as framed on the line
    uint32_t conflict = 0;         // connection requests crossed by our own STX
    // The reply's content: every transmission of that reply carries it.
    uint32_t error_replies = 0;  // replies carrying error_byte
    uint8_t error_byte = 0;
    uint32_t length_replies = 0;  // FETCH replies with length_delta data bytes more (or fewer)
    int32_t length_delta = 0;
    bool babble = false;             // after a reply, send filler bytes until cleared
    bool endless_telegrams = false;  // after a reply, offer own telegrams until cleared
};

// The most data bytes --length-delta adds to (or takes from) a FETCH reply.
constexpr int32_t kMaxLengthDelta = 128;

// The longest reply as framed on the line, which bounds the byte index the
// line faults aim at: the header (an error byte 10h doubled), a full
// telegram's words every byte of them 10h and doubled, the zeros
// --length-delta adds, and DLE ETX. The BCC is sent beside the frame.
constexpr uint32_t kLongestFramedReply = 4 + 1 + 2 * 2 * kWordsPerTelegram + kMaxLengthDelta + 2;

// A telegram as the simulator received it.
struct ReceivedTelegram {
    Bytes telegram;        // DLE doubling removed, without DLE ETX and BCC
    Bytes framed;          // exactly as on the line, closing DLE ETX and BCC included
    bool accepted;         // acknowledged with DLE (false: refused with NAK)
    bool applied = false;  // carried out (error byte 0), whether the reply got through or not
};

class Simulator {
  public:
    explicit Simulator(std::unique_ptr<Line> line);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    const std::string& path() const { return line_->path(); }
    // Bytes from the driver on the line that the simulator has not read yet.
    size_t InputQueued() const { return line_->InputQueued(); }

    void set_link(const LinkSettings& link);
    LinkSettings link() const;
    void set_faults(const Faults& faults);
    Faults faults() const;
    // baud 0: no pacing; 9600 baud 8E1 is 11 bits per character.
    void SetPacing(uint32_t baud, uint32_t bits_per_char);
    // Set before serving; the sink runs on the serving thread.
    void SetTraceSink(Trace::Sink sink) { trace_.set_sink(std::move(sink)); }
    void SetCaptureSink(Trace::CharSink sink) { trace_.set_char_sink(std::move(sink)); }
    // Called with every telegram received whole, before the faults are
    // consulted for it and its reply: sets faults that hit one telegram of a
    // sequence. Runs on the serving thread; may be set while serving.
    using TelegramHook = std::function<void(const Bytes& telegram, Faults* faults)>;
    void SetTelegramHook(TelegramHook hook);
    // Closes the simulator's end of the line for good (the partner vanishes
    // mid-exchange): call it from the telegram hook, which runs on the
    // serving thread, so the telegram is taken but never acknowledged.
    void HangUp() { line_->HangUp(); }

    void DeclareBlock(uint8_t db, uint16_t words);
    void SetCreateOnDemand(bool on);
    void SetWord(uint8_t db, uint16_t index, uint16_t value);
    uint16_t Word(uint8_t db, uint16_t index) const;
    bool BlockExists(uint8_t db) const;
    bool LoadBlocks(const std::string& path, std::string* error);
    bool SaveBlocks(const std::string& path, std::string* error) const;

    // Sends a telegram of its own as soon as the line is idle.
    void QueueTelegram(const Bytes& telegram);

    // The latest telegrams received, at most kReceivedKept: a simulator that
    // serves for weeks must not grow with every transfer.
    static constexpr size_t kReceivedKept = 1024;
    std::vector<ReceivedTelegram> received() const;
    void ClearReceived();

    // Serves the line on the calling thread until stop is set or the
    // served device is gone.
    void Serve(const std::atomic<bool>& stop);
    // Why serving ended without being stopped: "the device is gone (...)";
    // empty while the line is there.
    std::string LineGone() const { return line_->GoneReason(); }
    // Serves on a thread of its own; Stop ends it within a few tens of ms.
    void Start();
    void Stop();

  private:
    // kDamaged: a character the UART flagged, or characters it lost.
    enum class RxResult { kOk, kTimeout, kBadBcc, kMalformed, kTooLong, kDamaged };
    enum class TxResult { kDelivered, kWithdrew, kFailed };
    // A block for the active role: a reply (which the line faults spoil) or
    // a telegram of our own.
    struct Outgoing {
        Bytes telegram;
        bool is_reply;
    };

    // Serving thread: stop is set or the line is gone.
    bool Stopping() const;
    bool Await(uint8_t* byte, uint32_t timeout_ms, bool* damaged = nullptr);
    bool Take(uint32_t Faults::*count);
    void SendControl(uint8_t byte);
    void SendFramed(const Bytes& framed, int bcc);
    void Transmit(Bytes framed, bool is_reply);
    RxResult ReceiveBlock(bool after_conflict, Bytes* telegram, Bytes* framed);
    void ServeRequest();
    void AcceptRequest(bool after_conflict);
    void Reply(const Bytes& telegram);
    TxResult SendActive(const Outgoing& block, bool stx_sent);
    void SendPending();
    void Babble();
    void OfferEndlessly();

    std::unique_ptr<Line> line_;
    mutable std::mutex mutex_;  // guards everything below the line and trace
    LinkSettings link_;
    Faults faults_;
    DataBlocks blocks_;
    Rk512Server server_{blocks_};
    std::deque<Outgoing> pending_;
    std::vector<ReceivedTelegram> received_;
    Trace trace_;
    TelegramHook telegram_hook_;

    // Serving thread only: we withdrew our STX for the driver's, which waits for DLE.
    bool withdrawn_ = false;
    const std::atomic<bool>* stop_ = nullptr;
    std::atomic<bool> own_stop_{false};
    std::thread thread_;
};

// The framed form of a payload: every DLE doubled, DLE ETX appended.
Bytes FrameTelegram(const Bytes& payload);
uint8_t BlockCheck(const Bytes& framed);

}  // namespace plcsim
