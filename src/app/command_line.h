#pragma once

#include <QString>

#include <functional>

class QCommandLineParser;

namespace zentrava {

// A check of the parsed values beyond what the parser knows; an error text, or empty.
using CommandLineCheck = std::function<QString(const QCommandLineParser&)>;

// The program's name and version, and `parser`'s description and help and version options.
void describeProgram(QCommandLineParser& parser, const char* name, const char* version,
                     const QString& description);

// For the window programs, before any QApplication exists: answers --help and --version and
// refuses a wrong command line without a display. Returns when the window should start: a
// display is named, and until readCommandLine a window system that fails to start ends the
// program with status 1 and a plain message instead of Qt's abort.
void answerWithoutDisplay(QCommandLineParser& parser, int argc, char* argv[],
                          const CommandLineCheck& check = {});

// Once QApplication has taken its own options (-platform, -style, ...): reads the rest and
// refuses what is still wrong.
void readCommandLine(QCommandLineParser& parser, const CommandLineCheck& check = {});

} // namespace zentrava
