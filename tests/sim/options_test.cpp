// The command line of plcsim.
#include <gtest/gtest.h>

#include <cstring>

#include "sim/options.h"

namespace plcsim {
namespace {

bool Parse(std::vector<const char*> args, Options* options, std::string* error) {
    args.insert(args.begin(), "plcsim");
    return ParseOptions(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(Options, EveryOptionReachesItsSetting) {
    Options o;
    std::string error;
    ASSERT_TRUE(Parse({"--device",
                       "/dev/ttyS1",
                       "--baud",
                       "19200",
                       "--frame",
                       "7o2",  // parity in either case, as morvane takes it
                       "--pace",
                       "--3964r",
                       "--priority",
                       "high",
                       "--char-delay",
                       "50",
                       "--ack-delay",
                       "300",
                       "--connect-attempts",
                       "3",
                       "--send-attempts",
                       "4",
                       "--db",
                       "12:40",
                       "--db",
                       "0:256",
                       "--no-create",
                       "--load",
                       "in.txt",
                       "--save",
                       "out.txt",
                       "--ignore=2",
                       "--answer-delay",
                       "5",
                       "--nak",
                       "--no-reply=1",
                       "--reply-delay",
                       "7",
                       "--corrupt-bcc=3",
                       "--drop-byte",
                       "--corrupt-byte=4",
                       "--byte-index",
                       "390",  // the last byte of the longest framed reply
                       "--conflict=1",
                       "--error-byte",
                       "34=2",
                       "--length-delta",
                       "-2",
                       "--babble",
                       "--endless",
                       "--trace-file",
                       "t.txt"},
                      &o, &error))
        << error;
    EXPECT_EQ(o.device, "/dev/ttyS1");
    EXPECT_EQ(o.device_settings.baud, 19200u);
    EXPECT_EQ(o.device_settings.data_bits, 7);
    EXPECT_EQ(o.device_settings.parity, 'O');
    EXPECT_EQ(o.device_settings.stop_bits, 2);
    EXPECT_EQ(BitsPerCharacter(o.device_settings), 11u);
    EXPECT_TRUE(o.pace);
    EXPECT_TRUE(o.link.is_3964r);
    EXPECT_EQ(o.link.priority, Priority::kHigh);
    EXPECT_EQ(o.link.char_delay_ms, 50u);
    EXPECT_EQ(o.link.AckDelayMs(), 300u);
    EXPECT_EQ(o.link.connect_attempts, 3u);
    EXPECT_EQ(o.link.send_attempts, 4u);
    ASSERT_EQ(o.blocks.size(), 2u);
    EXPECT_EQ(o.blocks[0], (std::pair<uint8_t, uint16_t>{12, 40}));
    EXPECT_EQ(o.blocks[1], (std::pair<uint8_t, uint16_t>{0, 256}));
    EXPECT_FALSE(o.create_on_demand);
    EXPECT_EQ(o.load_file, "in.txt");
    EXPECT_EQ(o.save_file, "out.txt");
    EXPECT_EQ(o.faults.ignore_requests, 2u);
    EXPECT_EQ(o.faults.answer_delay_ms, 5u);
    EXPECT_EQ(o.faults.nak_telegrams, kAlways);
    EXPECT_EQ(o.faults.no_reply, 1u);
    EXPECT_EQ(o.faults.reply_delay_ms, 7u);
    EXPECT_EQ(o.faults.corrupt_bcc, 3u);
    EXPECT_EQ(o.faults.drop_byte, kAlways);
    EXPECT_EQ(o.faults.corrupt_byte, 4u);
    EXPECT_EQ(o.faults.byte_index, 390u);
    EXPECT_EQ(o.faults.conflict, 1u);
    EXPECT_EQ(o.faults.error_byte, 0x34);
    EXPECT_EQ(o.faults.error_replies, 2u);
    EXPECT_EQ(o.faults.length_delta, -2);
    EXPECT_EQ(o.faults.length_replies, kAlways);
    EXPECT_TRUE(o.faults.babble);
    EXPECT_TRUE(o.faults.endless_telegrams);
    EXPECT_EQ(o.trace_file, "t.txt");
}

TEST(Options, DefaultsAreThePartnerTheDriverExpects) {
    Options o;
    std::string error;
    ASSERT_TRUE(Parse({}, &o, &error));
    EXPECT_TRUE(o.device.empty());
    EXPECT_FALSE(o.link.is_3964r);
    EXPECT_EQ(o.link.priority, Priority::kLow);
    EXPECT_EQ(o.link.char_delay_ms, 220u);
    EXPECT_EQ(o.link.AckDelayMs(), 550u);
    o.link.is_3964r = true;
    EXPECT_EQ(o.link.AckDelayMs(), 2000u);
    EXPECT_TRUE(o.create_on_demand);
    EXPECT_TRUE(o.trace);
    EXPECT_EQ(BitsPerCharacter(o.device_settings), 11u);  // 8E1
}

TEST(Options, BadInputIsRefusedWithTheOffendingOption) {
    const std::vector<std::vector<const char*>> bad = {
        {"--bogus"},
        {"--baud"},
        {"--baud", "300"},
        {"--frame", "9N1"},
        {"--frame", "8X1"},
        {"--priority", "medium"},
        {"--db", "256:1"},
        {"--db", "1:0"},
        {"--db", "1"},
        {"--nak=0"},
        {"--nak=x"},
        {"--nakx"},
        {"--error-byte", "1FF"},
        {"--length-delta", "200"},
        {"--char-delay", "-1"},
        // The trace would spoil the block file.
        {"--trace-file", "b.txt", "--load", "./b.txt"},
        {"--save", "s.txt", "--trace-file", "s.txt"},
    };
    for (const auto& args : bad) {
        Options o;
        std::string error;
        EXPECT_FALSE(Parse(args, &o, &error)) << args[0];
        EXPECT_NE(error.find(args[0]), std::string::npos) << error;
    }
}

// Values no transfer could work with, each refused with the values taken;
// an empty path or a block declared twice, each refused rather than taken
// as none given or the last one.
TEST(Options, RefusalsSayWhy) {
    const struct {
        std::vector<const char*> args;
        const char* error;
    } cases[] = {
        {{"--char-delay", "0"}, "bad value 0 for --char-delay: 1 to 600000 milliseconds"},
        {{"--ack-delay", "0"}, "bad value 0 for --ack-delay: 1 to 600000 milliseconds"},
        {{"--connect-attempts", "0"}, "bad value 0 for --connect-attempts: 1 to 600000 tries"},
        {{"--send-attempts", "0"}, "bad value 0 for --send-attempts: 1 to 600000 transmissions"},
        {{"--byte-index", "391"},
         "bad value 391 for --byte-index: 0 to 390, a byte of the longest framed reply"},
        {{"--baud", "0"},
         "bad value 0 for --baud: one of 1200 2400 4800 9600 19200 38400 57600 115200"},
        {{"--device", ""}, "empty value for --device: give a path"},
        {{"--load", ""}, "empty value for --load: give a path"},
        {{"--save", ""}, "empty value for --save: give a path"},
        {{"--trace-file", ""}, "empty value for --trace-file: give a path"},
        {{"--no-trace", "--trace-file", "t.txt"},
         "--no-trace and --trace-file t.txt contradict each other"},
        {{"--db", "1:10", "--db", "1:20"},
         "--db 1:20 declares block 1 again (as 1:10 before): one --db a block"},
        {{"--db", "256:10"},
         "bad value 256:10 for --db: block 0 to 255, words 1 to 2048, as N:WORDS (12:40)"},
        {{"--error-byte", "1FF"},
         "bad value 1FF for --error-byte: error number 00 to FF (hex), then =COUNT if given, 1 "
         "to 1000000"},
        {{"--length-delta", "-129"},
         "bad value -129 for --length-delta: -128 to 128 data bytes, then =COUNT if given, 1 to "
         "1000000"},
    };
    for (const auto& c : cases) {
        Options o;
        std::string error;
        EXPECT_FALSE(Parse(c.args, &o, &error)) << c.args[0];
        EXPECT_EQ(error, c.error);
    }
}

TEST(Options, HelpNamesEveryOption) {
    for (const char* name : {"--device",        "--baud",         "--frame",
                             "--pace",          "--3964r",        "--priority",
                             "--char-delay",    "--ack-delay",    "--connect-attempts",
                             "--send-attempts", "--db",           "--no-create",
                             "--load",          "--save",         "--ignore",
                             "--answer-delay",  "--nak",          "--no-reply",
                             "--reply-delay",   "--corrupt-bcc",  "--drop-byte",
                             "--corrupt-byte",  "--byte-index",   "--conflict",
                             "--error-byte",    "--length-delta", "--babble",
                             "--endless",       "--trace-file",   "--no-trace",
                             "--help"})
        EXPECT_NE(std::strstr(kUsage, name), nullptr) << name;
}

}  // namespace
}  // namespace plcsim
