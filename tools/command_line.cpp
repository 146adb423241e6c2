#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <iterator>
#include <set>
#include <span>
#include <string_view>
#include <utility>

#include "commands.h"
#include "host_platform.h"
#include "sim/replace_file.h"

namespace morvane::tool {
namespace {

constexpr Command kCommands[] = {
    {"info", "", "print what the driver reports to its host (GetTevInfo)", Action::kInfo},
    {"read", "ADDRESS [COUNT]", "read a gate (a block of COUNT values)", Action::kSteps,
     StepKind::kRead},
    {"write", "ADDRESS VALUE...", "write a gate (several values: a block)", Action::kSteps,
     StepKind::kWrite},
    {"poll", "ADDRESS [COUNT]", "read again and again (--every MS, --times N)", Action::kSteps,
     StepKind::kPoll},
    {"browse", "", "compose an address in the Tag Format dialog and read it", Action::kSteps,
     StepKind::kBrowse},
    {"parse", "ADDRESS...", "what each address names, or why it is refused", Action::kParse},
};

constexpr long kMaxEveryMs = 24L * 60 * 60 * 1000;

const char kOptionsUsage[] =
    "options (anywhere on the line):\n"
    "  --driver PATH      driver library to load (default: libmorvane.so built\n"
    "                     beside this program; MORVANE_DRIVER overrides it too)\n"
    "  --log FILE         append the driver's log lines to FILE, every level unless\n"
    "                     --log-level is given (default: operator lines on stderr)\n"
    "  --log-level N      show log lines of level N and above (8 trace, 32 operator;\n"
    "                     default: operator lines, the normal start-up ones left out)\n"
    "  -v, --verbose      every log line, the start-up ones too (--log-level 8)\n"
    "  --version          this program's version and build, and the driver's\n"
    "  -h, --help         this text\n"
    "session (read, write, poll, browse):\n"
    "  --port PATH        serial port: /dev/ttyUSB0, ttyS0, /dev/serial/by-id/...\n"
    "                     (default: the PLC simulator, embedded)\n"
    "  --baud N           baud rate (default 9600); the host record holds 16 bits,\n"
    "                     so 57600 is the highest standard rate\n"
    "  --data-bits N      5 to 8 (default 8)\n"
    "  --parity P         none, odd, even, mark or space, or N O E M S (default even)\n"
    "  --stop-bits S      1, 1.5 or 2 (default 1)\n"
    "  --frame F          the three at once: 8E1, 7O2, 8N1, 5N1.5\n"
    "  --protocol P       3964 or 3964R, any case (default: ZIDIV01.INT in the\n"
    "                     current directory, else 3964)\n"
    "  --timeout H        internal time-out, 1 to 100000 hundredths of a second\n"
    "  --trace            every byte on the line, both ways, on standard error\n"
    "  --trace-file FILE  the trace to FILE; FILE.mcap: a capture for monitor --replay\n"
    "simulator only (refused with --port):\n"
    "  --sim-blocks FILE  simulator data blocks: loaded if present, saved at the end\n"
    "                     (a regular file; devices, FIFOs and read-only files refused)\n"
    "  --sim-trace        the simulator's own view of the line on standard error\n"
    "  --pace             the simulator paces the line at the chosen rate and frame\n"
    "output of read and poll (before the first step: every step's; in a later\n"
    "step: that step's own):\n"
    "  --hex              the words as they came off the line, with their numbers\n"
    "  --signed           words as signed 16-bit numbers\n"
    "  --json             one JSON object per value (poll: also per failed sample)\n"
    "  --csv              one CSV row per value, with a header row\n"
    "poll:\n"
    "  --every MS         a sample every MS milliseconds, on a fixed rate (default 1000)\n"
    "  --times N          N samples; 0 (the default) for ever, until Ctrl-C\n";

// What an option belongs to: parse and info refuse a session's, --port
// the simulator's.
enum class Group { kTool, kOutput, kStep, kSession, kSimulator };

struct OptionGroup {
    Group group;
    std::vector<std::string_view> alone;  // options without a value
    std::vector<std::string_view> valued;
};

const OptionGroup kOptions[] = {
    {Group::kTool,
     {"-h", "--help", "--version", "-v", "--verbose"},
     {"--driver", "--log", "--log-level"}},
    {Group::kOutput, {"--hex", "--json", "--csv", "--signed"}, {}},
    {Group::kStep, {}, {"--every", "--times"}},
    {Group::kSession,
     {"--trace"},
     {"--port", "--timeout", "--baud", "--data-bits", "--parity", "--stop-bits", "--frame",
      "--protocol", "--trace-file"}},
    {Group::kSimulator, {"--pace", "--sim-trace"}, {"--sim-blocks"}},
};

// Reads the line left to right; options may come anywhere.
class Parser {
  public:
    Parser(Invocation* invocation, std::string* error) : in_(*invocation), error_(*error) {}

    bool Run(const Arguments& arguments);

  private:
    bool Fail(const std::string& text) {
        error_ = text;
        return false;
    }
    void AddStep(StepKind kind) {
        in_.steps.emplace_back();
        in_.steps.back().kind = kind;
        if (kind == StepKind::kPoll) {
            in_.steps.back().every_ms = early_poll_.every_ms;
            in_.steps.back().times = early_poll_.times;
        }
        operands_.emplace_back();
        own_form_.push_back(false);
    }
    bool Option(const Arguments& arguments, size_t* at);
    bool ValueOption(const std::string& option, const std::string& value);
    bool Display(const std::string& option);
    bool Positional(const std::string& argument);
    bool FinishStep(Step& step, const Arguments& operands);
    bool DistinctFiles();

    Invocation& in_;
    std::string& error_;
    const Command* command_ = nullptr;
    std::vector<Arguments> operands_;  // per step
    DisplayOptions session_display_;
    std::vector<char> own_form_;  // per step: an output form of its own
    char given_form_ = false;     // an output form for every step
    std::string session_option_;  // a session option given: parse and info refuse it
    std::string simulator_option_;
    bool level_given_ = false;
    std::set<std::string> given_files_;
    Step early_poll_;  // --every and --times before the command: every poll's
    std::string early_poll_option_;
};

bool Parser::Run(const Arguments& arguments) {
    for (size_t at = 0; at < arguments.size(); ++at) {
        const std::string& argument = arguments[at];
        if (argument == "then" && command_ != nullptr && in_.action == Action::kSteps) {
            if (at + 1 >= arguments.size()) return Fail("no step after \"then\"");
            const Command* next = FindCommand(arguments[++at]);
            if (next == nullptr || next->action != Action::kSteps)
                return Fail("unknown step " + arguments[at] + ": read, write, poll or browse");
            if (next->step == StepKind::kBrowse &&
                std::ranges::any_of(in_.steps,
                                    [](const Step& s) { return s.kind == StepKind::kBrowse; }))
                return Fail("a second browse step: the dialog shows once per loaded driver");
            AddStep(next->step);
            continue;
        }
        const bool option = argument.starts_with("--") || argument == "-v" || argument == "-h";
        if (option ? !Option(arguments, &at) : !Positional(argument)) return false;
        if (in_.action == Action::kHelp || in_.action == Action::kVersion) return true;
    }
    if (command_ == nullptr) return Fail("no command: info, read, write, poll, browse or parse");
    if (in_.action != Action::kSteps && !session_option_.empty())
        return Fail(session_option_ + " is not an option of " + command_->name +
                    ", which opens no port and reads no value");
    if (in_.action == Action::kParse && in_.addresses.empty())
        return Fail("usage: parse ADDRESS...");
    for (size_t i = 0; i < in_.steps.size(); ++i) {
        DisplayOptions& display = in_.steps[i].display;
        if (i == 0 || !own_form_[i]) display.form = session_display_.form;
        display.signed_words = display.signed_words || session_display_.signed_words;
        if (!FinishStep(in_.steps[i], operands_[i])) return false;
    }
    if (!early_poll_option_.empty() &&
        std::ranges::none_of(in_.steps, [](const Step& s) { return s.kind == StepKind::kPoll; }))
        return Fail(early_poll_option_ + " belongs to a poll step");
    const std::string conflict = FrameConflict(in_.session.line);
    if (!conflict.empty()) return Fail(conflict);
    if (!in_.session.port.empty() && !simulator_option_.empty())
        return Fail(simulator_option_ + " acts on the embedded simulator only, not on --port " +
                    in_.session.port);
    return DistinctFiles();
}

// A log or trace in the block file, or two streams in one file, would
// spoil what is written there.
bool Parser::DistinctFiles() {
    const std::pair<const char*, const std::string*> files[] = {
        {"--log", &in_.log.file},
        {"--trace-file", &in_.session.trace_file},
        {"--sim-blocks", &in_.session.sim_blocks}};
    for (size_t i = 0; i < std::size(files); ++i)
        for (size_t j = i + 1; j < std::size(files); ++j)
            if (plcsim::SameRegularFile(*files[i].second, *files[j].second))
                return Fail(std::string(files[i].first) + " and " + files[j].first +
                            " name the same file " + *files[i].second + ": give each its own");
    // A stream into the port itself would go onto the PLC's line.
    for (const auto& [option, file] : std::span(files).first(2)) {
        if (!file->empty() && !in_.session.device.empty() && SameDevice(*file, in_.session.device))
            return Fail(std::string(option) + " " + *file +
                        " is the session's port: it would go onto the line");
    }
    return true;
}

bool Parser::Positional(const std::string& argument) {
    if (command_ == nullptr) {
        command_ = FindCommand(argument);
        if (command_ == nullptr)
            return Fail("unknown command " + argument +
                        ": info, read, write, poll, browse or parse");
        in_.action = command_->action;
        if (in_.action == Action::kSteps) AddStep(command_->step);
        return true;
    }
    if (in_.action == Action::kInfo) return Fail("info takes no arguments");
    (in_.action == Action::kParse ? in_.addresses : operands_.back()).push_back(argument);
    return true;
}

bool Parser::Option(const Arguments& arguments, size_t* at) {
    const std::string& option = arguments[*at];
    const auto named = [&option](const std::vector<std::string_view>& names) {
        return std::ranges::find(names, option) != names.end();
    };
    const auto rule = std::ranges::find_if(kOptions, [&named](const OptionGroup& group) {
        return named(group.alone) || named(group.valued);
    });
    if (rule == std::end(kOptions)) return Fail("unknown option " + option);
    if (rule->group >= Group::kSession || rule->group == Group::kOutput) session_option_ = option;
    if (rule->group == Group::kSimulator) simulator_option_ = option;
    if (rule->group == Group::kOutput) return Display(option);
    if (named(rule->valued))
        return *at + 1 < arguments.size() ? ValueOption(option, arguments[++*at])
                                          : Fail(option + " needs a value");
    if (option == "-h" || option == "--help" || option == "--version") {
        in_.action = option == "--version" ? Action::kVersion : Action::kHelp;
    } else if (option == "-v" || option == "--verbose") {
        in_.log.minimum_level = level_given_ ? in_.log.minimum_level : 0;
        in_.log.show_start_up = true;
    } else {
        *(option == "--trace"  ? &in_.session.trace
          : option == "--pace" ? &in_.session.pace
                               : &in_.session.sim_trace) = true;
    }
    return true;
}

bool Parser::Display(const std::string& option) {
    const bool own = in_.steps.size() > 1;  // a later step's: its own
    DisplayOptions& display = own ? in_.steps.back().display : session_display_;
    if (option == "--signed") {
        display.signed_words = true;
        return true;
    }
    const OutputForm form = option == "--hex"    ? OutputForm::kHexDump
                            : option == "--json" ? OutputForm::kJson
                                                 : OutputForm::kCsv;
    char& given = own ? own_form_.back() : given_form_;
    if (given && display.form != form)
        return Fail(option +
                    " conflicts with the output form already chosen: one of --hex, "
                    "--json, --csv");
    given = true;
    display.form = form;
    return true;
}

// Options that name a file: an empty name would be taken as none given
// (the default driver, the log on standard error, no block file).
constexpr std::string_view kPathOptions[] = {"--driver", "--log", "--trace-file", "--sim-blocks"};

bool Parser::ValueOption(const std::string& option, const std::string& value) {
    long number = 0;
    if (std::ranges::find(kPathOptions, option) != std::end(kPathOptions)) {
        if (value.empty()) return Fail("empty value for " + option + ": give a path");
        // Twice: which file was meant cannot be known.
        if (!given_files_.insert(option).second) return Fail("a second " + option + ": one file");
    }
    if (option == "--driver") {
        in_.driver_path = value;
    } else if (option == "--log") {
        in_.log.file = value;  // a file takes every line unless a level is given
        in_.log.minimum_level = level_given_ ? in_.log.minimum_level : 0;
        in_.log.show_start_up = true;
    } else if (option == "--log-level") {
        if (!TakeNumber(value, 0, INT_MAX, &number))
            return Fail("bad value " + value + " for --log-level: a level, 8 trace, 32 operator");
        in_.log.minimum_level = static_cast<int>(number);
        in_.log.show_start_up = level_given_ = true;
    } else if (option == "--every" || option == "--times") {
        const bool early = in_.steps.empty();
        if (!early && in_.steps.back().kind != StepKind::kPoll)
            return Fail(option + " belongs to a poll step");
        if (early) early_poll_option_ = option;
        Step& poll = early ? early_poll_ : in_.steps.back();
        if (option == "--every" && !TakeNumber(value, 1, kMaxEveryMs, &poll.every_ms))
            return Fail("bad value " + value + " for --every: 1 to " + std::to_string(kMaxEveryMs) +
                        " milliseconds");
        if (option == "--times" && !TakeNumber(value, 0, LONG_MAX, &poll.times))
            return Fail("bad value " + value + " for --times: a count, 0 for ever");
    } else {
        if (TakeLineOption(option, value, &in_.session.line, &error_)) return error_.empty();
        if (option == "--port") {
            in_.session.given_port = value;
            return ResolvePort(value, &in_.session.device, &in_.session.port, &error_);
        }
        if (option == "--sim-blocks") {
            in_.session.sim_blocks = value;
        } else if (option == "--trace-file") {
            in_.session.trace_file = value;
            in_.session.trace = true;
        } else if (TakeNumber(value, 1, 100000, &number)) {
            in_.session.timeout = static_cast<int32_t>(number);
        } else {
            return Fail("bad value " + value +
                        " for --timeout: 1 to 100000 hundredths of a second");
        }
    }
    return true;
}

bool Parser::FinishStep(Step& step, const Arguments& operands) {
    const char* usage = step.kind == StepKind::kRead ? "usage: read ADDRESS [COUNT]"
                        : step.kind == StepKind::kPoll
                            ? "usage: poll ADDRESS [COUNT] [--every MS] [--times N]"
                        : step.kind == StepKind::kWrite ? "usage: write ADDRESS VALUE [VALUE...]"
                                                        : "usage: browse";
    const bool write = step.kind == StepKind::kWrite;
    if (step.kind == StepKind::kBrowse) return operands.empty() || Fail(usage);
    if (operands.empty() || (write ? operands.size() < 2 : operands.size() > 2)) return Fail(usage);
    step.address = operands[0];
    if (write) {
        step.values.assign(operands.begin() + 1, operands.end());
        return true;
    }
    long count = 0;
    if (operands.size() == 2 && !TakeNumber(operands[1], 1, INT32_MAX, &count))
        return Fail("bad COUNT " + operands[1] + " for " + step.address +
                    ": a number of values from 1");
    step.count = static_cast<int32_t>(count);
    return true;
}

}  // namespace

std::span<const Command> Commands() {
    return kCommands;
}

const Command* FindCommand(const std::string& name) {
    for (const Command& command : kCommands)
        if (name == command.name) return &command;
    return nullptr;
}

bool ParseCommandLine(const Arguments& arguments, Invocation* invocation, std::string* error) {
    if (const char* driver = std::getenv("MORVANE_DRIVER")) invocation->driver_path = driver;
    error->clear();
    return Parser(invocation, error).Run(arguments);
}

void PrintUsage(FILE* out) {
    std::fprintf(out,
                 "usage: morvane COMMAND [ARGS...] [then STEP [ARGS...]]... [OPTIONS]\n\n%s"
                 "commands:\n",
                 kPlatformUsage);
    for (const Command& command : kCommands)
        std::fprintf(out, "  %-6s %-20s %s\n", command.name, command.arguments, command.summary);
    std::fprintf(out,
                 "  monitor --between A B | --tap P | --replay F\n"
                 "                              watch a line, decoded (morvane monitor -h)\n"
                 "\nSteps join with \"then\" and run on one channel; each is checked before\n"
                 "the line opens:  morvane write 001010F 3.25 then read --hex 001010F\n\n%s"
                 "\npoll prints a wall-clock time stamp per sample, goes on through failures\n"
                 "(each with its reason and attempts) and ends, at --times or Ctrl-C, with\n"
                 "a statistics line.\n\n%s\n%s",
                 kOptionsUsage, kAddressGrammar, kExitCodesUsage);
}

int Fail(const std::string& text, int code, const char* who) {
    std::fprintf(stderr, "%s: %s\n", who, text.c_str());
    return code;
}

bool TakeNumber(const std::string& text, long low, long high, long* value) {
    errno = 0;
    char* end = nullptr;
    *value = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && errno == 0 && *end == '\0' && *value >= low && *value <= high;
}

std::string PortNameOf(const std::string& device) {
    const std::string prefix = "/dev/";
    return device.rfind(prefix, 0) == 0 ? device.substr(prefix.size()) : device;
}

}  // namespace morvane::tool
