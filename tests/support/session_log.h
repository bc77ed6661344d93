#pragma once

#include "core/module_session.h"

#include <QMetaEnum>
#include <QStringList>

namespace zentrava::test {

inline QString describe(const ModuleValue& v) {
    switch (v.setting) {
    case Setting::Serial:
        return QStringLiteral("serial %1 %2").arg(v.number).arg(QLatin1Char(v.parity));
    case Setting::Frequency:
        return QStringLiteral("frequency ") + QLatin1String(frequencyBytes(v.frequency).toHex());
    default:
        return QStringLiteral("%1 %2")
            .arg(QLatin1String(settingInfo(v.setting).name))
            .arg(v.number);
    }
}

// What a session reported, one line a signal, so a whole exchange is compared at once.
inline QString accepted(int code, const ModuleValue& value) {
    return QStringLiteral("accepted %1: %2").arg(code).arg(describe(value));
}
inline QString rejected(int code, ModuleSession::Rejection reason) {
    const char* key = QMetaEnum::fromType<ModuleSession::Rejection>().valueToKey(int(reason));
    return QStringLiteral("rejected %1: %2").arg(code).arg(QLatin1String(key));
}
inline QString timedOut(int code) {
    return QStringLiteral("timed out %1").arg(code);
}
inline const QString kDeviceLost = QStringLiteral("device lost");

inline void record(ModuleSession& session, QStringList& log) {
    QObject::connect(&session, &ModuleSession::accepted, &session,
                     [&log](CommandCode code, const ModuleValue& v) { log << accepted(code, v); });
    QObject::connect(&session, &ModuleSession::rejected, &session,
                     [&log](CommandCode code, auto reason) { log << rejected(code, reason); });
    QObject::connect(&session, &ModuleSession::timedOut, &session,
                     [&log](CommandCode code) { log << timedOut(code); });
    QObject::connect(&session, &ModuleSession::deviceLost, &session,
                     [&log] { log << kDeviceLost; });
}

} // namespace zentrava::test
