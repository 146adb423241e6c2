// DoRead: the RK512 FETCH exchange of one telegram of a transfer.
#include "link/rk512_fetch.h"

#include "gates/gate_address.h"
#include "gates/reply_decoder.h"
#include "link/link3964.h"
#include "link/rk512_exchange.h"
#include "link/rk512_telegram.h"
#include "morvane/morvane.h"
#include "morvane/ostrel.h"

namespace morvane {
namespace {

constexpr ExchangeTexts kFetchTexts = {
    .synchronising = "ZIDIV> DoRead() error synchronising %s, retry %d",
    .input_waiting = "ZIDIV> DoRead() err %s recv timeout NAK #1,retry %d",
    .tx_header = "ZIDIV> DoRead() error TX %s header, retry %d",
    .rx_header_ack = "ZIDIV> DoRead() error RX %s header ack, retry %d",
    .rx_reply_sync = "ZIDIV> DoRead() error RX %s reply sync, retry %d",
    .tx_reply_sync_ack = "ZIDIV> DoRead() error TX %s reply sync ack, retry %d",
    .rx_reply = "ZIDIV> DoRead() error RX %s reply, retry %d",
    .tx_reply_ack = "ZIDIV> DoRead() error TX %s reply ack, retry %d",
    .quiet_line_resend = "ZIDIV> DoRead() err %s recv timeout resend #2,retry %d",
    .short_reply = "ZIDIV> DoRead() %s recv. short reply %u bytes, retry %d",
    .error_byte = "ZIDIV> DoRead() recv err 0x%02X in reply %s, retry %d",
    .wrong_length = "ZIDIV> DoRead() %s recv. ill. length data %u/%u, retry %u",
    .other_reply = "ZIDIV> DoRead() %s recv. reply 0x%02X of another telegram, retry %d",
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
