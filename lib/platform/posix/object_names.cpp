#include "lib/platform/posix/object_names.h"

#include <algorithm>
#include <cstdint>

namespace crvmon::platform::object_names {

namespace {

char16_t foldUnit(char16_t unit) {
    if (unit >= u'A' && unit <= u'Z') return static_cast<char16_t>(unit + 0x20);
    // Latin-1 capitals, except U+00D7 (multiplication sign).
    if (unit >= 0xC0 && unit <= 0xDE && unit != 0xD7) return static_cast<char16_t>(unit + 0x20);
    if (unit == 0x178) return 0xFF;
    return unit;
}

void appendHex(std::string& out, std::uint64_t value, int digits) {
    constexpr char kDigits[] = "0123456789abcdef";
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
        out += kDigits[(value >> shift) & 0xF];
}

}  // namespace

std::optional<std::u16string> toUtf16(const WCHAR* text) {
    std::u16string units;
    for (; *text != 0; ++text) {
        // A negative wchar_t comes out above 0x10FFFF, and is refused below.
        // NOLINTNEXTLINE(bugprone-signed-char-misuse)
        auto value = static_cast<std::uint32_t>(*text);
        if (value <= 0xFFFF) {
            units += static_cast<char16_t>(value);
        } else if (value <= 0x10FFFF) {
            value -= 0x10000;
            units += static_cast<char16_t>(0xD800 + (value >> 10));
            units += static_cast<char16_t>(0xDC00 + (value & 0x3FF));
        } else {
            return std::nullopt;
        }
    }
    return units;
}

std::u16string widen(std::string_view bytes) {
    std::u16string units;
    units.reserve(bytes.size());
    for (unsigned char byte : bytes) units += static_cast<char16_t>(byte);
    return units;
}

std::u16string foldCase(std::u16string_view name) {
    std::u16string folded(name);
    std::transform(folded.begin(), folded.end(), folded.begin(), foldUnit);
    return folded;
}

bool startsWithNoCase(std::u16string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char16_t expected = foldUnit(static_cast<unsigned char>(prefix[i]));
        if (foldUnit(text[i]) != expected) return false;
    }
    return true;
}

std::string fileComponent(std::u16string_view folded) {
    std::string out;
    out.reserve(folded.size());
    for (std::size_t i = 0; i < folded.size(); ++i) {
        char16_t unit = folded[i];
        bool plain = (unit >= u'a' && unit <= u'z') || (unit >= u'0' && unit <= u'9') ||
                     unit == u'_' || unit == u'-' || (unit == u'.' && i != 0);
        if (plain) {
            out += static_cast<char>(unit);
        } else if (unit < 0x100) {
            out += '%';
            appendHex(out, unit, 2);
        } else {
            out += "%u";
            appendHex(out, unit, 4);
        }
    }
    return out;
}

std::string hashedComponent(std::u16string_view folded) {
    std::uint64_t hash = 0xcbf29ce484222325u;  // 64-bit FNV-1a over the code units
    for (char16_t unit : folded) {
        hash = (hash ^ (unit & 0xFF)) * 0x100000001b3u;
        hash = (hash ^ (unit >> 8)) * 0x100000001b3u;
    }
    std::string out = "~";
    appendHex(out, hash, 16);
    return out;
}

}  // namespace crvmon::platform::object_names
