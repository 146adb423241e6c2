// RK512 read from the blocks of a line: the host's FETCH and SEND
// telegrams, their follow-on telegrams and the PLC's replies joined into
// transfers. A transfer ends when its last reply brought all its words, or
// when it failed and the host moved on: to another telegram, or after the
// fourth try of the same one. A telegram sent again after a failure is a
// retry of the same transfer; a first telegram sent again after its
// follow-ons began is the transfer started again. Tries that failed before
// a telegram went out (the connection refused) count with the failed
// transfer being repeated, else with the next telegram; four in a row with
// neither are a transfer of their own (kConnect), failed.
//
// With one side heard alone there is nothing to join: the host's side gives
// one request per first telegram (its follow-ons joined to it), the PLC's
// side one reply per block.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "monitor/events.h"

namespace morvane::monitor {

class TransferAssembler {
  public:
    using TransferSink = std::function<void(const Transfer&)>;
    using AnomalySink = std::function<void(const Anomaly&)>;

    TransferAssembler(TransferSink transfers, AnomalySink anomalies, Heard heard = Heard::kBoth)
        : transfers_(std::move(transfers)), anomalies_(std::move(anomalies)), heard_(heard) {}

    void Link(const LinkEvent& event);
    // A failed transfer is closed once the line has been quiet this long.
    void Tick(uint64_t now_us, uint64_t quiet_us) {
        if ((open_ || refused_connections_ != 0) && now_us - last_us_ > quiet_us) EndQuiet();
    }
    void Flush();

  private:
    void HostBlock(const LinkEvent& block);
    void FirstTelegram(const LinkEvent& block);
    void FollowOn(const LinkEvent& block);
    void Reply(const LinkEvent& block);
    void Fail(TransferResult result, std::string why, uint64_t at_us);
    void RefusedConnection(const LinkEvent& event);
    void NoReply(uint64_t at_us);
    void CloseUnsent(uint64_t end_us);
    void Close();
    void EndQuiet();
    void Report(AnomalyClass what, uint64_t at_us, Side from, std::string detail);
    size_t ExpectedDataBytes() const;
    // One side heard alone (transfers_one_side.cpp).
    void OneSide(const LinkEvent& block);
    void RequestAlone(const LinkEvent& block);
    void ReplyAlone(const LinkEvent& block);

    TransferSink transfers_;
    AnomalySink anomalies_;
    Heard heard_;
    std::optional<Transfer> open_;
    std::vector<uint8_t> first_telegram_;  // of the open transfer
    std::vector<uint8_t> telegram_;        // the last telegram sent
    std::vector<uint16_t> pending_data_;   // SEND: the data of the telegram awaiting its reply
    std::vector<uint16_t> spare_data_;     // the room of the last transfer's words, for the next
    int index_ = 0;                        // telegrams of the open transfer answered
    int tries_ = 0;                        // tries of the current telegram
    bool awaiting_reply_ = false;
    bool last_try_failed_ = false;
    int refused_connections_ = 0;  // host requests given up before any telegram
    uint64_t first_refused_us_ = 0;
    uint64_t last_us_ = 0;
};

}  // namespace morvane::monitor
