#pragma once

#include <QString>
#include <QStringView>

#include <array>
#include <cstdint>
#include <string_view>

namespace zentrava {

// The order of each list is the module's code: baud rates and data rates count from 1,
// parity from 0.
inline constexpr std::array<std::string_view, 8> kBaudRates{"1200",  "2400",  "4800",  "9600",
                                                            "19200", "38400", "57600", "115200"};
inline constexpr std::array<std::string_view, 3> kParities{"n", "e", "o"};
inline constexpr std::array<std::string_view, 7> kDataRates{"1200",  "2400",  "4800", "9600",
                                                            "19200", "38400", "57600"};

inline constexpr int kChannelCount = 33; // channels 0 .. 32
inline constexpr int kPowerLevels = 127; // levels 1 .. 127

// Exact, case-sensitive match of the whole text; the position plus `firstCode`, or 0 when no
// entry matches.
template <std::size_t N>
std::uint8_t codeForText(const std::array<std::string_view, N>& list, QStringView text,
                         int firstCode) {
    for (std::size_t i = 0; i < N; ++i) {
        if (text == QLatin1String(list[i].data(), qsizetype(list[i].size())))
            return static_cast<std::uint8_t>(int(i) + firstCode);
    }
    return 0;
}

} // namespace zentrava
