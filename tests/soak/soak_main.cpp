// The fault soak: thousands of mixed transfers through TevMain against PLC
// simulators behind fault relays, one channel per thread, every call checked.
// Prints one summary; exits 1 when an invariant the mode promises broke.
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "soak/soak_channel.h"
#include "support/temp_directory.h"

int main(int argc, char** argv) {
    using namespace morvane::soak;
    Options options;
    std::string error;
    if (!ParseOptions(argc, argv, &options, &error)) {
        std::fprintf(stderr, "morvane_soak: %s\n%s", error.c_str(), Usage().c_str());
        return 2;
    }
    // The channels read their protocol from the channel file in the working directory.
    morvane::test::TempCurrentDirectory scratch;
    morvane::test::TempCurrentDirectory::Write(
        "ZIDIV01.INT", options.is_3964r ? "PROTOCOL=3964R\n" : "PROTOCOL=3964\n");

    std::vector<std::unique_ptr<SoakChannel>> channels;
    for (int i = 0; i < options.channels; ++i) {
        channels.push_back(std::make_unique<SoakChannel>(options, i));
        if (!channels.back()->Start(&error)) {
            std::fprintf(stderr, "morvane_soak: channel %d: %s\n", i, error.c_str());
            return 2;
        }
    }
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (int i = 0; i < options.channels; ++i) {
        const uint64_t share = options.transfers / options.channels +
                               (static_cast<uint64_t>(i) < options.transfers % options.channels);
        threads.emplace_back([&channel = *channels[i], share] { channel.Run(share); });
    }
    for (std::thread& thread : threads)
        thread.join();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    Tally tally;
    LineCounts line;
    for (auto& channel : channels) {
        channel->Stop();
        tally.Merge(channel->tally());
        channel->AddLineCounts(&line);
    }
    PrintSummary(tally, line, options, seconds);
    return Broken(tally, options) ? 1 : 0;
}
