// The terminal dialog driven as a user drives it, in a tmux pane: keys sent
// with send-keys, the screen read back with capture-pane.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "browse/child_session.h"
#include "support/temp_directory.h"

namespace morvane::test {
namespace {

std::string Run(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char buffer[512];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    pclose(pipe);
    return out;
}

bool TmuxPresent() {
    return std::system("command -v tmux >/dev/null 2>&1") == 0;
}

class TmuxPane {
  public:
    TmuxPane() : socket_(ScratchFile("tmux-socket")) {}
    ~TmuxPane() { Run(Tmux("kill-server") + " 2>/dev/null"); }

    bool Start(const std::string& program) {
        return std::system(
                   (Tmux("new-session -d -s probe -x 80 -y 24 ") + "'" + program + "'").c_str()) ==
               0;
    }
    void Keys(const std::string& keys) { Run(Tmux("send-keys -t probe ") + keys); }
    std::string Screen() { return Run(Tmux("capture-pane -p -J -t probe") + " 2>/dev/null"); }
    bool WaitForScreen(const std::string& text, int timeout_ms) {
        const long end = NowMs() + timeout_ms;
        do {
            if (Screen().find(text) != std::string::npos) return true;
            usleep(10000);
        } while (NowMs() < end);
        return false;
    }

  private:
    std::string Tmux(const std::string& arguments) const {
        return "tmux -S " + socket_ + " -f /dev/null " + arguments;
    }
    std::string socket_;
};

std::string ReadResult(const std::string& path, int timeout_ms) {
    const long end = NowMs() + timeout_ms;
    do {
        std::ifstream in(path);
        std::string line;
        if (std::getline(in, line) && !line.empty()) return line;
        usleep(10000);
    } while (NowMs() < end);
    return std::string();
}

TEST(TerminalDialog, FloatAddressEnteredInTmux) {
    if (!TmuxPresent()) GTEST_SKIP() << "tmux is not installed";
    const std::string result_path = ScratchFile("browse_probe.txt");
    std::remove(result_path.c_str());
    TmuxPane pane;
    ASSERT_TRUE(pane.Start(std::string(BROWSE_PROBE_PATH) + " " + result_path));
    ASSERT_TRUE(pane.WaitForScreen("Tag Format", 2000)) << pane.Screen();
    EXPECT_NE(pane.Screen().find("(*) 16 - bits"), std::string::npos) << pane.Screen();

    // Block 255, location 255, Float: the odd location is refused.
    pane.Keys("255 Tab 255 Tab Down Down");
    ASSERT_TRUE(pane.WaitForScreen("(*) Float", 1000)) << pane.Screen();
    pane.Keys("Enter");
    ASSERT_TRUE(
        pane.WaitForScreen("When Using Float Type The Memory Location Within The Data "
                           "Block Should Be An Even Number!",
                           1000))
        << pane.Screen();

    // Dismiss, back to the location field, arrow down to 254, OK.
    pane.Keys("Enter BTab Down");
    ASSERT_TRUE(pane.WaitForScreen("[254]", 1000)) << pane.Screen();
    pane.Keys("Enter");
    EXPECT_EQ(ReadResult(result_path, 2000), "0 255254F");
    std::remove(result_path.c_str());
}

}  // namespace
}  // namespace morvane::test
