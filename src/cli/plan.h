#pragma once

#include "cli/command_line.h"
#include "core/module_value.h"

#include <optional>
#include <vector>

namespace zentrava::cli {

struct Step {
    enum class Kind {
        Read,       // printed
        KeepSerial, // fetches what a lone baud or parity leaves as the module has it
        Write,      // printed; the answer must equal the value sent
        Verify      // the read-back must equal the value written
    };
    Kind kind;
    // Reads look at the setting only. In a serial write or verify, baud rate 0 or parity '\0'
    // stands for the module's own, filled in by the KeepSerial step before it.
    ModuleValue value;
};

// The same steps run on every port, in order.
using Plan = std::vector<Step>;

// Every value checked with the window's rules before anything is sent; empty on a refusal,
// which `error` then explains.
std::optional<Plan> makePlan(const Options& options, QString& error);

} // namespace zentrava::cli
