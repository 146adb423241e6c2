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

constexpr ExchangeRules kFetchRules = {
    .drain_after_any_header_refusal = true,
    .follow_on_no_answer_is_refusal = true,
};

}  // namespace

int DoRead(TevRequest* request, uint32_t telegram_index) {
    const TransferBlock& block = *TransferOf(request);
    const uint16_t total_words = TransferWords(block);

    uint8_t telegram[kFirstHeaderBytes];
    const uint16_t telegram_length =
        BuildRequestHeader(telegram, kRk512Fetch, block, telegram_index);
    uint8_t framed[kLinkBufferSize];
    const uint16_t framed_length = FrameTelegram(
        telegram, telegram_length, request->channel_area->port_settings.is_3964r, framed);
    char label[kLabelSize];
    MakeLabel(label, telegram_index);

    uint8_t reply[kLinkBufferSize];
    uint16_t reply_length = 0;
    const Exchange exchange{.request = request,
                            .texts = &kFetchTexts,
                            .rules = kFetchRules,
                            .telegram_index = telegram_index,
                            .label = label,
                            .framed = framed,
                            .framed_length = framed_length,
                            .expected_data_bytes = FetchReplyDataBytes(total_words, telegram_index),
                            .plain_reply = reply,
                            .plain_reply_length = &reply_length};
    const int result = RunExchange(exchange);
    if (result != 0) return result;

    // Decoded at the thread's normal priority, which RunExchange restored.
    const uint8_t* data = reply + kReplyHeaderBytes;
    if (total_words <= kTelegramDataWords)
        UnpackReply(&block, data, request->command_code);
    else
        UnpackChunk(request->channel_area, data,
                    static_cast<uint16_t>(reply_length - kReplyHeaderBytes),
                    block.gate.class_letter, telegram_index);
    return 0;
}

}  // namespace morvane
