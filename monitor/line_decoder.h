// The 3964/3964R procedure read from both directions of a line at once:
// connection requests and their answers, blocks with DLE doubling removed,
// block checks, and the anomalies of the procedure (unanswered requests,
// NAKs, gaps between characters, both sides requesting, damaged and stray
// characters). Whether blocks carry a block check is told from what follows
// DLE ETX: the sender's next character is its block check (3964R), the
// receiver's is its answer (3964).
//
// With one side heard alone the decoder reads that side's own characters:
// a block begins after its STX without the partner's DLE, a character after
// DLE ETX is its block check when it fits (or the procedure is known to be
// 3964R), and nothing that needs the other side's answer is judged.
#pragma once

#include <cstdint>

#include "monitor/events.h"

namespace morvane::monitor {

struct ProcedureTimes {
    uint64_t char_delay_us = 220000;  // longest gap between two characters of a block
    uint64_t ack_delay_us = 0;        // longest wait for an answer; 0: by procedure
};

class LinkSink {
  public:
    virtual ~LinkSink() = default;
    virtual void OnLink(const LinkEvent& event) = 0;
    virtual void OnAnomaly(const Anomaly& anomaly) = 0;
};

class LineDecoder {
  public:
    LineDecoder(const ProcedureTimes& times, LinkSink* sink, Heard heard = Heard::kBoth)
        : times_(times), sink_(*sink), heard_(heard) {}

    // One character, in the order of the line; times never go back.
    void Feed(const LineChar& c);
    // Time passes without a character: ends what has waited too long.
    void Tick(uint64_t now_us);
    // The end of the input: whatever is begun is reported as it stands.
    void Flush();

    // 3964R once a block check has been seen to fit, 3964 once a receiver
    // answered straight after DLE ETX; unknown before (and, with one side
    // heard alone, unless a block check fits).
    enum class Procedure { kUnknown, k3964, k3964R };
    Procedure procedure() const { return procedure_; }

  private:
    static constexpr uint8_t kStx = 0x02;
    static constexpr uint8_t kEtx = 0x03;
    static constexpr uint8_t kDle = 0x10;
    static constexpr uint8_t kNak = 0x15;

    enum class Phase { kIdle, kRequested, kInBlock, kAfterEtx, kAwaitAck };

    uint64_t AckDelay() const;
    // Whether what the phase waits for has waited too long by now.
    bool Overdue(uint64_t now_us) const;
    void TimeOut();
    void ReportDamaged(const LineChar& c);
    void ReportGap(const LineChar& c);
    void Dispatch(const LineChar& c);
    void Idle(const LineChar& c);
    void Requested(const LineChar& c);
    void InBlock(const LineChar& c);
    void ReceiverInBlock(const LineChar& c);
    void AfterEtx(const LineChar& c);
    void AwaitAck(const LineChar& c);
    // Takes the character after DLE ETX as the block's check.
    // settles: a check that fits shows the procedure is 3964R.
    void TakeBcc(const LineChar& c, bool settles = true);
    // One side heard alone (line_decoder_one_side.cpp).
    bool OneSideOverdue(uint64_t now_us) const;
    void OneSideTimeOut();
    void OneSide(const LineChar& c);
    void OneSideIdle(const LineChar& c);
    void OneSideRequested(const LineChar& c);
    void OneSideAfterEtx(const LineChar& c);
    void Single(LinkKind kind, const LineChar& c);
    // The event of a handshake character, in one_char_.
    LinkEvent& OneChar(LinkKind kind, const LineChar& c);
    void Nak(const LineChar& c, LinkEvent::Answered answered, const char* detail);
    void Stray(const LineChar& c);
    void EndStray();
    void StartBlock(Side sender, uint64_t time_us);
    // Reports the block as it stands and returns to idle.
    void EndBlock(const char* unanswered = nullptr);
    void Report(AnomalyClass what, uint64_t time_us, Side from, std::string detail);

    ProcedureTimes times_;
    LinkSink& sink_;
    Heard heard_;
    Procedure procedure_ = Procedure::kUnknown;
    Phase phase_ = Phase::kIdle;
    bool requested_[2] = {false, false};
    bool late_reported_ = false;  // the pending request or block was reported unanswered
    uint64_t request_us_[2] = {0, 0};
    uint64_t first_request_us_[2] = {0, 0};
    uint64_t wait_from_us_ = 0;  // last character of what waits for an answer
    uint64_t last_us_ = 0;       // the last character of the line
    LinkEvent block_;
    Side sender_ = Side::kHost;
    bool after_dle_ = false;  // a DLE of the block not yet paired
    uint8_t bcc_ = 0;
    size_t raw_length_ = 0;
    LinkEvent stray_;
    LinkEvent one_char_;
};

}  // namespace morvane::monitor
