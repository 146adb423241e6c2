#include "step_plan.h"

#include <climits>

#include "session_options.h"

namespace morvane::tool {
namespace {

constexpr long kMaxCount = 4096;
constexpr long kMaxEveryMs = 24L * 60 * 60 * 1000;

struct StepShape {
    const char* name;
    const char* usage;
    size_t fewest;  // positional arguments
    size_t most;
};

constexpr StepShape kShapes[] = {
    {"read", "read ADDRESS [COUNT]", 1, 2},
    {"write", "write ADDRESS VALUE [VALUE...]", 2, kMaxCount + 1},
    {"poll", "poll ADDRESS [COUNT] [--every MS] [--times N]", 1, 2},
    {"browse", "browse", 0, 0},
};

const StepShape* ShapeOf(const std::string& name) {
    for (const StepShape& shape : kShapes)
        if (name == shape.name) return &shape;
    return nullptr;
}

bool CheckStep(const Step& step, std::string* error) {
    const StepShape* shape = ShapeOf(step.name);
    if (shape == nullptr) {
        *error = "unknown step " + step.name;
        return false;
    }
    PollArguments poll;
    poll.positional = step.arguments;
    if (step.name == "poll" && !TakePollArguments(step.arguments, &poll)) {
        *error = std::string("usage: ") + shape->usage;
        return false;
    }
    const Arguments& positional = poll.positional;
    // Only an option looks like this: values and addresses never do.
    for (const std::string& argument : positional) {
        if (argument.rfind("--", 0) == 0) {
            *error = argument + ": session options go before the first address";
            return false;
        }
    }
    int32_t count = 0;
    const bool counted = step.name == "read" || step.name == "poll";
    if (positional.size() < shape->fewest || positional.size() > shape->most ||
        (counted && positional.size() == 2 && !TakeCount(positional[1], &count))) {
        *error = std::string("usage: ") + shape->usage;
        return false;
    }
    return true;
}

}  // namespace

bool TakeCount(const std::string& text, int32_t* count) {
    long value = 0;
    if (!TakeNumber(text, 1, kMaxCount, &value)) return false;
    *count = static_cast<int32_t>(value);
    return true;
}

bool TakePollArguments(const Arguments& arguments, PollArguments* poll) {
    poll->positional.clear();
    for (size_t i = 0; i < arguments.size(); ++i) {
        const bool every = arguments[i] == "--every";
        if (!every && arguments[i] != "--times") {
            poll->positional.push_back(arguments[i]);
            continue;
        }
        if (i + 1 >= arguments.size()) return false;
        const std::string& value = arguments[++i];
        if (!TakeNumber(value, 0, every ? kMaxEveryMs : LONG_MAX,
                        every ? &poll->every_ms : &poll->times))
            return false;
    }
    return true;
}

bool PlanSteps(const std::string& first, const Arguments& arguments, std::vector<Step>* steps,
               std::string* error) {
    steps->assign(1, Step{first, {}});
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] != "then") {
            steps->back().arguments.push_back(arguments[i]);
            continue;
        }
        if (i + 1 >= arguments.size()) {
            *error = "no step after \"then\"";
            return false;
        }
        steps->push_back(Step{arguments[++i], {}});
    }
    for (const Step& step : *steps)
        if (!CheckStep(step, error)) return false;
    return true;
}

}  // namespace morvane::tool
