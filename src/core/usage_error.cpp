#include "core/usage_error.h"

#include <QCoreApplication>

#include <cstdio>

namespace zentrava {

QString shortened(const QString& text) {
    constexpr qsizetype kShown = 40;
    if (text.size() <= kShown)
        return text;
    // Never half a surrogate pair.
    const qsizetype cut = text.at(kShown - 1).isHighSurrogate() ? kShown - 1 : kShown;
    return text.left(cut) + QChar(0x2026);
}

int reportUsageError(const QString& message, bool helpHint) {
    const QString name = QCoreApplication::applicationName();
    QString text = QStringLiteral("%1: %2\n").arg(name, message);
    if (helpHint)
        text += QStringLiteral("Try '%1 --help'.\n").arg(name);
    std::fputs(text.toUtf8().constData(), stderr);
    return kUsageStatus;
}

} // namespace zentrava
