#pragma once

#include <QString>

#include <functional>

class QCommandLineParser;

namespace zentrava {

// The exit status of a command line that cannot be taken, as kt7720-emu and kt7720ctl use it.
inline constexpr int kUsageStatus = 2;

// A check of the parsed values beyond what the parser knows; an error text, or empty.
using CommandLineCheck = std::function<QString(const QCommandLineParser&)>;

// For the window programs, before any QApplication exists: answers --help and --version and
// refuses a wrong command line without a display. Returns when the window should start.
// `parser` needs the help and version options.
void answerWithoutDisplay(QCommandLineParser& parser, int argc, char* argv[],
                          const CommandLineCheck& check = {});

// Once QApplication has taken its own options (-platform, -style, ...): reads the rest and
// refuses what is still wrong.
void readCommandLine(QCommandLineParser& parser, const CommandLineCheck& check = {});

} // namespace zentrava
