#pragma once

#include "cli/exit_status.h"
#include "core/module_value.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdio>

namespace zentrava::cli {

// One printed value: serial gives two, baud and parity.
struct Field {
    QString name;
    QString text; // as the window shows it
    bool isNumber;
};

QList<Field> fieldsOf(const ModuleValue& value);

// "channel=5", "baud=9600 parity=n": for messages.
QString describe(const ModuleValue& value);

struct PortResult {
    QString device;
    QList<Field> fields;
    QStringList errors;
    int status = exit_status::kDone;
};

// `withDevice`: several ports share the output, so every line names its own.
QStringList textLines(const PortResult& result, bool withDevice);
QString jsonLine(const PortResult& result);

QString jsonString(const QString& text);

void printLine(std::FILE* stream, const QString& line);

} // namespace zentrava::cli
