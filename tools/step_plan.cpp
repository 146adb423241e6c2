#include "step_plan.h"

#include <climits>

#include "session_options.h"

namespace morvane::tool {
namespace {

constexpr long kMaxEveryMs = 24L * 60 * 60 * 1000;

bool CheckStep(Step& step, std::string* error) {
    const Command* command = FindCommand(step.name);
    if (command == nullptr || command->step.run == nullptr) {
        *error = "unknown step " + step.name;
        return false;
    }
    step.command = command;
    const StepForm& form = command->step;
    PollArguments poll;
    poll.positional = step.arguments;
    if (form.operands == Operands::kPolled && !TakePollArguments(step.arguments, &poll)) {
        *error = std::string("usage: ") + form.usage;
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
    const bool counted =
        form.operands == Operands::kAddressCount || form.operands == Operands::kPolled;
    if (positional.size() < form.fewest || positional.size() > form.most ||
        (counted && positional.size() == 2 && !TakeCount(positional[1], &count))) {
        *error = std::string("usage: ") + form.usage;
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
    for (Step& step : *steps)
        if (!CheckStep(step, error)) return false;
    return true;
}

}  // namespace morvane::tool
