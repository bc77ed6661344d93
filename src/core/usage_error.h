#pragma once

#include <QString>

namespace zentrava {

// The exit status of a command line that cannot be taken, in every program of the tool.
inline constexpr int kUsageStatus = 2;

// A text the user gave, as a message quotes it: the first 40 characters and "…" when it is
// longer, so a value of megabytes does not flood the terminal.
QString shortened(const QString& text);

// "<program>: <message>" on stderr, with `helpHint` a pointer to --help after it; returns
// kUsageStatus for the caller to exit with.
int reportUsageError(const QString& message, bool helpHint = true);

} // namespace zentrava
