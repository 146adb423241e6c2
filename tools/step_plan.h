// The steps of one invocation ("read ... then write ... then poll ..."),
// checked before the channel opens, so that a mistyped step is reported
// before anything goes on the line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "commands.h"

namespace morvane::tool {

struct Step {
    std::string name;
    Arguments arguments;
    const Command* command = nullptr;  // set once the step is checked
};

struct PollArguments {
    Arguments positional;  // ADDRESS [COUNT]
    long every_ms = 1000;
    long times = 0;  // 0: until interrupted
};

// COUNT of read and poll: 1 to 4096 values.
bool TakeCount(const std::string& text, int32_t* count);

// poll ADDRESS [COUNT] [--every MS] [--times N]; false for a bad option or value.
bool TakePollArguments(const Arguments& arguments, PollArguments* poll);

// Splits "STEP ARGS then STEP ARGS ..." (the first step's name is given) and
// checks every step's name and the shape of its arguments against the
// command table; false with *error.
bool PlanSteps(const std::string& first, const Arguments& arguments, std::vector<Step>* steps,
               std::string* error);

}  // namespace morvane::tool
