// DoRead: the RK512 FETCH exchange of one telegram of a transfer.
#include "link/rk512_fetch.h"

#include "gates/gate_address.h"
#include "gates/log_texts.h"
#include "gates/reply_decoder.h"
#include "link/link3964.h"
#include "link/rk512_exchange.h"
#include "link/rk512_telegram.h"
#include "morvane/morvane.h"
#include "morvane/ostrel.h"

namespace morvane {
namespace {

constexpr ExchangeTexts kFetchTexts = {
    .synchronising = log_text::kReadSynchronising,
    .input_waiting = log_text::kReadInputWaiting,
    .tx_header = log_text::kReadTxHeader,
    .rx_header_ack = log_text::kReadRxHeaderAck,
    .rx_reply_sync = log_text::kReadRxReplySync,
    .tx_reply_sync_ack = log_text::kReadTxReplySyncAck,
    .rx_reply = log_text::kReadRxReply,
    .tx_reply_ack = log_text::kReadTxReplyAck,
    .quiet_line_resend = log_text::kReadQuietLine,
    .short_reply = log_text::kReadShortReply,
    .error_byte = log_text::kReadErrorByte,
    .wrong_length = log_text::kReadWrongLength,
    .other_reply = log_text::kReadOtherReply,
    .set_priority = "ZIDIV> DoRead() warning! error setting priority, rc %d",
    .reset_priority = "ZIDIV> DoRead() warning! error resetting priority",
};

// The reply's values into the host's buffer (one telegram) or the staging
// area (more). The record checks of the commands keep the decoders from
// refusing; should one refuse, the host must not see success with stale values.
bool Decode(ChannelArea& area, const TransferBlock& block, uint32_t telegram_index,
            ValueLayout layout, const uint8_t* data, uint16_t data_bytes) {
    if (TelegramsFor(2u * TransferWords(block)) == 1) return UnpackReply(&block, data, layout) == 0;
    return UnpackChunk(&area, data, data_bytes, block.gate.class_letter, telegram_index) == 0;
}

}  // namespace

TelegramResult DoRead(ChannelArea& area, const TransferBlock& block, uint32_t telegram_index,
                      ValueLayout layout) {
    uint8_t telegram[kFirstHeaderBytes];
    const uint16_t telegram_length =
        BuildRequestHeader(telegram, kRk512Fetch, block, telegram_index);
    uint8_t framed[kLinkBufferSize];
    const uint16_t framed_length =
        FrameTelegram(telegram, telegram_length, area.port_settings.is_3964r, framed);
    char label[kLabelSize];
    MakeLabel(label, telegram_index);

    uint8_t reply[kLinkBufferSize];
    uint16_t reply_length = 0;
    const Exchange exchange{.area = &area,
                            .kind = TransferKind::kFetch,
                            .texts = &kFetchTexts,
                            .telegram_index = telegram_index,
                            .label = label,
                            .framed = framed,
                            .framed_length = framed_length,
                            .expected_data_bytes = TelegramDataBytes(block, telegram_index),
                            .plain_reply = reply,
                            .plain_reply_length = &reply_length};
    const TelegramResult result = RunExchange(exchange);
    if (result != TelegramResult::kDone) return result;

    // Decoded at the thread's normal priority, which RunExchange restored.
    const auto data_bytes = static_cast<uint16_t>(reply_length - kReplyHeaderBytes);
    if (!Decode(area, block, telegram_index, layout, reply + kReplyHeaderBytes, data_bytes)) {
        err(MORVANE_LOG_TRACE, "ZIDIV> DoRead() %s reply not decodable", label);
        return TelegramResult::kRefused;
    }
    return TelegramResult::kDone;
}

}  // namespace morvane
