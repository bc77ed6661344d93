#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>

namespace zentrava {

// An entry as the lists show it and a profile or a command line names it.
inline QString textOf(int number) {
    return QString::number(number);
}
inline QString textOf(char letter) {
    return QString(QLatin1Char(letter));
}

// A list the module knows by position: an entry's code is its index plus `firstCode`.
template <typename T, std::size_t N> struct CodeList {
    int firstCode;
    std::array<T, N> entries;

    // Exact, case-sensitive match of the whole text.
    std::optional<T> fromText(const QString& text) const {
        for (T entry : entries) {
            if (textOf(entry) == text)
                return entry;
        }
        return std::nullopt;
    }

    std::optional<T> fromCode(int code) const {
        const int index = code - firstCode;
        if (index < 0 || index >= int(N))
            return std::nullopt;
        return entries[std::size_t(index)];
    }

    // No entry (0 or '\0') is code 0 too: the window sends a text its lists lack that way.
    std::optional<std::uint8_t> codeOf(T entry) const {
        for (std::size_t i = 0; i < N; ++i) {
            if (entries[i] == entry)
                return std::uint8_t(int(i) + firstCode);
        }
        return entry == T{} ? std::optional<std::uint8_t>(0) : std::nullopt;
    }

    QStringList texts() const {
        QStringList list;
        for (T entry : entries)
            list.append(textOf(entry));
        return list;
    }
};

// Baud rates and data rates in bit/s, counted from 1; parity letters from 0.
inline constexpr CodeList<int, 8> kBaudRates{1,
                                             {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200}};
inline constexpr CodeList<char, 3> kParities{0, {'n', 'e', 'o'}};
inline constexpr CodeList<int, 7> kDataRates{1, {1200, 2400, 4800, 9600, 19200, 38400, 57600}};

inline constexpr int kChannelCount = 33; // channels 0 .. 32
inline constexpr int kPowerLevels = 127; // levels 1 .. 127

} // namespace zentrava
