#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace zentrava::cli {

enum class Command { Get, Set, Provision, Ports, Help, Version };

// The command line as given, before any value is checked.
struct Options {
    Command command = Command::Help;
    QStringList ports;
    bool json = false;
    int timeoutMs = 800;
    int retries = 0;
    bool verbose = false;
    bool verifyCheckByte = true;
    bool verify = false;
    QString profilePath;
    int count = 0; // provision: modules in all, 0 for no end
    QString logPath;
    QStringList arguments; // after the command word: SETTINGs or NAME=VALUEs
};

// Empty on a usage error, which `error` then explains.
std::optional<Options> parseCommandLine(const QStringList& arguments, QString& error);

QString helpText();

} // namespace zentrava::cli
