#pragma once

#include "core/usage_error.h"

namespace zentrava::cli {

// Ordered by severity: with several ports the largest one is the program's status.
namespace exit_status {
inline constexpr int kDone = 0;
inline constexpr int kBadReply = 1;
inline constexpr int kUsage = kUsageStatus;
inline constexpr int kPortFailed = 3;
// Records lost count as much as a port that is.
inline constexpr int kOutputFailed = 3;
inline constexpr int kLogFailed = 3;
inline constexpr int kTimedOut = 4;
} // namespace exit_status

} // namespace zentrava::cli
