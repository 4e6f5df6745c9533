// How a fuzz input of the tool-run target becomes a command line: six
// numbers of nine bytes each, then the input file. Shared by the target and
// the seed generator.
//
// Each number is a kind byte and eight payload bytes:
//   kind % 5 == 0   "0"
//   kind % 5 == 1   the payload's first two bytes as a signed 16-bit integer
//   kind % 5 == 2   the payload's first four bytes as a signed 32-bit count of thousandths
//   kind % 5 == 3   the payload as the bits of a double, printed in full ("nan", "inf" too)
//   kind % 5 == 4   the payload as text, up to its first NUL (read the way atof reads it)
// Missing bytes count as zero. The target also reads the top two bits of the
// very first byte, to choose the output's name.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace toolrun {

inline constexpr std::size_t numbers = 6;
inline constexpr std::size_t number_bytes = 9;
inline constexpr std::size_t prefix_bytes = numbers * number_bytes;

enum Kind : std::uint8_t { zero = 0, small_integer = 1, thousandths = 2, raw_double = 3, text = 4 };

inline std::string number_text(const std::uint8_t *encoded) {
    const std::uint8_t *payload = encoded + 1;
    char buffer[64];
    switch (encoded[0] % 5) {
    case small_integer: {
        std::int16_t v;
        std::memcpy(&v, payload, sizeof v);
        std::snprintf(buffer, sizeof buffer, "%d", static_cast<int>(v));
        return buffer;
    }
    case thousandths: {
        std::int32_t v;
        std::memcpy(&v, payload, sizeof v);
        std::snprintf(buffer, sizeof buffer, "%.3f", v / 1000.0);
        return buffer;
    }
    case raw_double: {
        double v;
        std::memcpy(&v, payload, sizeof v);
        std::snprintf(buffer, sizeof buffer, "%.17g", v);
        return buffer;
    }
    case text:
        return std::string(reinterpret_cast<const char *>(payload), strnlen(reinterpret_cast<const char *>(payload), 8));
    default:
        return "0";
    }
}

// The six argument strings of an input; `file` and `fileSize` are what follows them.
inline void decode(const std::uint8_t *data, std::size_t size, std::string (&args)[numbers],
                   const std::uint8_t *&file, std::size_t &fileSize) {
    std::uint8_t prefix[prefix_bytes] = {};
    std::memcpy(prefix, data, size < prefix_bytes ? size : prefix_bytes);
    for (std::size_t i = 0; i < numbers; ++i) args[i] = number_text(prefix + i * number_bytes);
    file = size > prefix_bytes ? data + prefix_bytes : data + size;
    fileSize = size > prefix_bytes ? size - prefix_bytes : 0;
}

// The nine bytes of one number, for making seeds.
inline std::string encode_double(double v) {
    std::string out(number_bytes, '\0');
    out[0] = static_cast<char>(raw_double);
    std::memcpy(out.data() + 1, &v, sizeof v);
    return out;
}

inline std::string encode_text(const std::string &text) {
    std::string out(number_bytes, '\0');
    out[0] = static_cast<char>(Kind::text);
    std::memcpy(out.data() + 1, text.data(), text.size() < 8 ? text.size() : 8);
    return out;
}

}  // namespace toolrun
