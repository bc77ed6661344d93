#include "core/usage_error.h"

#include <QCoreApplication>

#include <cstdio>

namespace zentrava {

int reportUsageError(const QString& message, bool helpHint) {
    const QString name = QCoreApplication::applicationName();
    QString text = QStringLiteral("%1: %2\n").arg(name, message);
    if (helpHint)
        text += QStringLiteral("Try '%1 --help'.\n").arg(name);
    std::fputs(text.toUtf8().constData(), stderr);
    return kUsageStatus;
}

} // namespace zentrava
