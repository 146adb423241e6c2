#include "soak/soak_options.h"

#include <cstdlib>
#include <string_view>

namespace morvane::soak {
namespace {

bool Number(const char* text, double low, double high, double* value) {
    char* end = nullptr;
    *value = std::strtod(text, &end);
    return end != text && *end == '\0' && *value >= low && *value <= high;
}

}  // namespace

std::string Usage() {
    return "usage: morvane_soak [--seed N] [--rate P] [--plc-rate P] [--mode one|independent]\n"
           "                    [--procedure 3964|3964R] [--transfers N] [--channels N]\n"
           "                    [--timeout HUNDREDTHS] [--char-delay MS] [--reports N]\n"
           "                    [--uart-check honoured|ignored] [--overrun-share P]\n"
           "                    [--report-all]\n";
}

bool ParseOptions(int argc, char** argv, Options* o, std::string* error) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view name = argv[i];
        if (name == "--report-all") {
            o->report_all = true;
            continue;
        }
        if (i + 1 >= argc) {
            *error = "missing value for " + std::string(name);
            return false;
        }
        const char* text = argv[++i];
        double value = 0;
        bool ok = true;
        if (name == "--seed") {
            ok = Number(text, 0, 1e15, &value);
            o->seed = static_cast<uint64_t>(value);
        } else if (name == "--rate") {
            ok = Number(text, 0, 0.5, &o->rate);
        } else if (name == "--plc-rate") {
            ok = Number(text, 0, 1, &o->plc_rate);
        } else if (name == "--mode") {
            ok = std::string_view(text) == "one" || std::string_view(text) == "independent";
            o->mode = std::string_view(text) == "one" ? plcsim::ByteFaultMode::kOnePerBlock
                                                      : plcsim::ByteFaultMode::kIndependent;
        } else if (name == "--procedure") {
            ok = std::string_view(text) == "3964" || std::string_view(text) == "3964R";
            o->is_3964r = std::string_view(text) == "3964R";
        } else if (name == "--transfers") {
            ok = Number(text, 1, 1e12, &value);
            o->transfers = static_cast<uint64_t>(value);
        } else if (name == "--channels") {
            ok = Number(text, 1, 16, &value);
            o->channels = static_cast<int>(value);
        } else if (name == "--timeout") {
            ok = Number(text, 1, 1000, &value);
            o->timeout_hundredths = static_cast<int32_t>(value);
        } else if (name == "--char-delay") {
            ok = Number(text, 10, 5000, &value);
            o->char_delay_ms = static_cast<uint32_t>(value);
        } else if (name == "--uart-check") {
            ok = std::string_view(text) == "honoured" || std::string_view(text) == "ignored";
            o->uart_check = std::string_view(text) == "honoured";
        } else if (name == "--overrun-share") {
            ok = Number(text, 0, 1, &o->overrun_share);
        } else if (name == "--reports") {
            ok = Number(text, 0, 1000, &value);
            o->reports = static_cast<int>(value);
        } else {
            *error = "unknown option " + std::string(name);
            return false;
        }
        if (!ok) {
            *error = "bad value for " + std::string(name) + ": " + text;
            return false;
        }
    }
    return true;
}

}  // namespace morvane::soak
