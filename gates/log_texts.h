// The driver's log texts that a host reads back: a host on the command line
// learns attempts, reasons and PLC error numbers from them. The driver logs
// exactly these formats and the command-line host interprets them from here,
// so a reworded text changes both at once and the host's tests see it.
#pragma once

namespace morvane::log_text {

// RK512 FETCH (DoRead) and SEND (DoWrite): one line per failed attempt,
// "%s" the telegram ("fetch", "follow-on 2"), the last number the attempt.
inline constexpr char kReadSynchronising[] = "ZIDIV> DoRead() error synchronising %s, retry %d";
inline constexpr char kReadInputWaiting[] = "ZIDIV> DoRead() err %s recv timeout NAK #1,retry %d";
inline constexpr char kReadTxHeader[] = "ZIDIV> DoRead() error TX %s header, retry %d";
inline constexpr char kReadRxHeaderAck[] = "ZIDIV> DoRead() error RX %s header ack, retry %d";
inline constexpr char kReadRxReplySync[] = "ZIDIV> DoRead() error RX %s reply sync, retry %d";
inline constexpr char kReadTxReplySyncAck[] =
    "ZIDIV> DoRead() error TX %s reply sync ack, retry %d";
inline constexpr char kReadRxReply[] = "ZIDIV> DoRead() error RX %s reply, retry %d";
inline constexpr char kReadTxReplyAck[] = "ZIDIV> DoRead() error TX %s reply ack, retry %d";
inline constexpr char kReadQuietLine[] = "ZIDIV> DoRead() err %s recv timeout resend #2,retry %d";
inline constexpr char kReadShortReply[] = "ZIDIV> DoRead() %s recv. short reply %u bytes, retry %d";
inline constexpr char kReadErrorByte[] = "ZIDIV> DoRead() recv err 0x%02X in reply %s, retry %d";
inline constexpr char kReadWrongLength[] =
    "ZIDIV> DoRead() %s recv. ill. length data %u/%u, retry %u";
inline constexpr char kReadOtherReply[] =
    "ZIDIV> DoRead() %s recv. reply 0x%02X of another telegram, retry %d";

inline constexpr char kWriteSynchronising[] = "ZIDIV> DoWrite() err synchronising %s, retry %d";
inline constexpr char kWriteInputWaiting[] = "ZIDIV> DoWrite() err %s recv timeout NAK #1,retry %d";
inline constexpr char kWriteTxHeader[] = "ZIDIV> DoWrite() err TX %s header, retry %d";
inline constexpr char kWriteRxHeaderAck[] = "ZIDIV> DoWrite() err RX %s header ack, retry %d";
inline constexpr char kWriteRxReplySync[] = "ZIDIV> DoWrite() err RX %s reply sync, retry %d";
inline constexpr char kWriteTxReplySyncAck[] =
    "ZIDIV> DoWrite() err TX %s reply sync ack, retry %d";
inline constexpr char kWriteRxReply[] = "ZIDIV> DoWrite() err RX %s reply, retry %d";
inline constexpr char kWriteTxReplyAck[] = "ZIDIV> DoWrite() err TX %s reply ack, retry %d";
inline constexpr char kWriteQuietLine[] = "ZIDIV> DoWrite() err %s recv timeout resend #2,retry %d";
inline constexpr char kWriteShortReply[] =
    "ZIDIV> DoWrite() %s recv. short reply %u bytes, retry %d";
inline constexpr char kWriteErrorByte[] = "ZIDIV> DoWrite() recv err 0x%02X in reply %s, retry %d";
inline constexpr char kWriteWrongLength[] =
    "ZIDIV> DoWrite() %s recv. ill. length data %u/%u, retry %u";
inline constexpr char kWriteOtherReply[] =
    "ZIDIV> DoWrite() %s recv. reply 0x%02X of another telegram, retry %d";

// The line operations under the exchanges.
inline constexpr char kNotResponding[] = "ZIDIV> CheckIfReady() PLC is not responding, aborting!";
inline constexpr char kReceiveTimeout[] = "ZIDIV> Receive() timeout receiving";
inline constexpr char kReceiveNak[] = "ZIDIV> Receive() NAK received";
inline constexpr char kReceiveTooLong[] = "ZIDIV> Receive() block too long, refused";
inline constexpr char kReceiveNoBcc[] = "ZIDIV> Receive() timeout receiving BCC";
inline constexpr char kReceiveBadBcc[] = "ZIDIV> Receive() BCC error!";
inline constexpr char kReceiveDamaged[] = "ZIDIV> Receive() damaged character!";

// A block transfer that starts over from its first telegram; its end.
inline constexpr char kReadSequenceRepeat[] = "ZIDIV> BlockRead() err whole follow-on retry %d";
inline constexpr char kWriteSequenceRepeat[] = "ZIDIV> BlockWrite() err whole follow-on retry %d";
inline constexpr char kSingleReadExit[] = "ZIDIV> exit SingleRead() , ret val is %d";
inline constexpr char kBlockReadExit[] = "ZIDIV> exit BlockRead() , ret val is %d";
inline constexpr char kSingleWriteExit[] = "ZIDIV> exit SingleWrite() , ret val is %d";
inline constexpr char kBlockWriteExit[] = "ZIDIV> exit BlockWrite() , ret val is %d";

// Refusals before the line.
inline constexpr char kNotANumber[] = "ZIDIV> %s() error, value %d is not a number";
inline constexpr char kCountOutOfRange[] = "ZIDIV> %s() error, count %d out of range";
inline constexpr char kReadTooLarge[] = "ZIDIV> BlockRead() error, bytes requested > 4096";
inline constexpr char kStringsNotAsBlock[] = "ZIDIV> BlockWrite() no allowed for STRINGS";
inline constexpr char kBitInABlock[] = "ZIDIV> BlockWrite() error, bit %d in a block";

// The first line of ColdStart: the driver's build.
inline constexpr char kVersion[] = "TEVYY> version compiled on May 29 2002 at time 12:23:08";

}  // namespace morvane::log_text
