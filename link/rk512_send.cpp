// DoWrite: the RK512 SEND exchange of one telegram of a transfer.
#include "link/rk512_send.h"

#include <cstring>

#include "gates/byte_order.h"
#include "gates/gate_address.h"
#include "gates/log_texts.h"
#include "gates/write_encoder.h"
#include "link/link3964.h"
#include "link/rk512_exchange.h"
#include "link/rk512_fetch.h"
#include "link/rk512_telegram.h"
#include "morvane/morvane.h"
#include "morvane/ostrel.h"

namespace morvane {
namespace {

constexpr ExchangeTexts kSendTexts = {
    .synchronising = log_text::kWriteSynchronising,
    .input_waiting = log_text::kWriteInputWaiting,
    .tx_header = log_text::kWriteTxHeader,
    .rx_header_ack = log_text::kWriteRxHeaderAck,
    .rx_reply_sync = log_text::kWriteRxReplySync,
    .tx_reply_sync_ack = log_text::kWriteTxReplySyncAck,
    .rx_reply = log_text::kWriteRxReply,
    .tx_reply_ack = log_text::kWriteTxReplyAck,
    .quiet_line_resend = log_text::kWriteQuietLine,
    .short_reply = log_text::kWriteShortReply,
    .error_byte = log_text::kWriteErrorByte,
    .wrong_length = log_text::kWriteWrongLength,
    .other_reply = log_text::kWriteOtherReply,
    .set_priority = "ZIDIV> DoWrite() warning! error setting priority, rc %d",
    .reset_priority = "ZIDIV> DoWrite() warning! error resetting priority",
};

// A rule the host sees, not a limit of the PLC (its format holds magnitudes
// down to 2^-129): when the first float of a write lies strictly between
// -1e-19 and 1e-20 it is written as 0.0, and 0.0 takes its place in the
// host's buffer too, before the first telegram and whatever the outcome.
// Only the first value is looked at; the band is lopsided and kept so. NaN
// compares false, but the write commands refuse it before this point.
void ForceTinyFloatToZero(const TransferBlock& block) {
    if (block.gate.class_letter != MORVANE_CLASS_FLOAT || block.count < 1) return;
    float value;
    std::memcpy(&value, block.data, sizeof value);
    if (value < 1e-20f && value > -1e-19f) {
        value = 0.0f;
        std::memcpy(block.data, &value, sizeof value);
    }
}

// The single-bit write: reads the word, changes the bit, packs the word.
// The inner FETCH reads the whole word (the gate without its bit) into a
// value slot of its own, so the host's buffer is never touched; it runs
// before this exchange raises the thread's priority.
TelegramResult ReadModifyWrite(ChannelArea& area, const TransferBlock& block, uint8_t* data_area) {
    uint8_t slot[MORVANE_VALUE_SLOT_SIZE] = {};
    TransferBlock whole_word = block;
    whole_word.gate.bit_number = -1;
    whole_word.data = slot;
    const TelegramResult read = DoRead(area, whole_word, 0, ValueLayout::kValueSlot);
    if (read != TelegramResult::kDone) {
        err(MORVANE_LOG_TRACE, "ZIDIV> err ReadModifyWrite read fail");
        return read;
    }
    const uint16_t plc_word = LoadNative<uint16_t>(slot + MORVANE_VALUE_SLOT_WORD_OFFSET);
    const uint16_t host_value = LoadNative<uint16_t>(static_cast<const uint8_t*>(block.data) +
                                                     MORVANE_VALUE_SLOT_WORD_OFFSET);
    const uint16_t mask = static_cast<uint16_t>(1u << block.gate.bit_number);
    PutLineWord(data_area, host_value != 0 ? (plc_word | mask) : (plc_word & ~mask));
    return TelegramResult::kDone;
}

TelegramResult PackTelegramData(ChannelArea& area, const TransferBlock& block, uint8_t* data_area,
                                uint32_t telegram_index, ValueLayout layout) {
    if (IsSingleBit(block.gate)) return ReadModifyWrite(area, block, data_area);
    return PackData(block, data_area, layout, telegram_index) == 0 ? TelegramResult::kDone
                                                                   : TelegramResult::kRefused;
}

}  // namespace

TelegramResult DoWrite(ChannelArea& area, const TransferBlock& block, uint32_t telegram_index,
                       ValueLayout layout) {
    ForceTinyFloatToZero(block);
    const uint16_t data_bytes = TelegramDataBytes(block, telegram_index);

    // Zeroed, so bytes PackData leaves alone are never stale stack contents.
    uint8_t telegram[kMaxTelegramBytes] = {};
    const uint16_t header_length = BuildRequestHeader(telegram, kRk512Send, block, telegram_index);
    const TelegramResult packed =
        PackTelegramData(area, block, telegram + header_length, telegram_index, layout);
    if (packed != TelegramResult::kDone) return packed;

    uint8_t framed[kLinkBufferSize];
    const uint16_t framed_length =
        FrameTelegram(telegram, static_cast<uint16_t>(header_length + data_bytes),
                      area.port_settings.is_3964r, framed);
    char label[kLabelSize];
    MakeLabel(label, telegram_index);

    uint8_t reply[kLinkBufferSize];
    uint16_t reply_length = 0;
    const Exchange exchange{.area = &area,
                            .kind = TransferKind::kSend,
                            .texts = &kSendTexts,
                            .telegram_index = telegram_index,
                            .label = label,
                            .framed = framed,
                            .framed_length = framed_length,
                            .expected_data_bytes = 0,  // the reply is the bare header
                            .plain_reply = reply,
                            .plain_reply_length = &reply_length};
    return RunExchange(exchange);
}

}  // namespace morvane
