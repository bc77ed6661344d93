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

// "channel=5 power=20", "baud=9600 parity=n": for messages and one-line reports.
QString fieldsText(const QList<Field>& fields);
QString describe(const ModuleValue& value);

struct PortResult {
    QString device;
    QList<Field> fields;
    QStringList errors;
    int status = exit_status::kDone;
    QString time; // UTC, ISO 8601: when a provisioned module was done
};

// `withDevice`: several ports share the output, so every line names its own.
QStringList textLines(const PortResult& result, bool withDevice);
QString jsonLine(const PortResult& result);
// "DEVICE  OK      channel=5 ..." or "DEVICE  FAILED  reason": read across a bench.
QString glanceLine(const PortResult& result);

QString jsonString(const QString& text);

// False when the line could not be written and flushed.
bool printLine(std::FILE* stream, const QString& line);
// 0 while every line reached stdout; else the errno of the first that did not.
int outputError();

} // namespace zentrava::cli
