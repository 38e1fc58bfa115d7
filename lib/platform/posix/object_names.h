// How names of the Windows object namespace (pipes, sections) become file names under the
// object root. Windows compares these names without regard to case and allows almost any
// character in them, so a name is folded first and then spelt with file-name-safe characters.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "lib/platform/posix/kernel32.h"

namespace crvmon::platform::object_names {

// The UTF-16 code units of a wide string. wchar_t is 32 bits here: characters beyond the BMP
// become surrogate pairs, as Windows would hold them; values beyond U+10FFFF give nothing.
std::optional<std::u16string> toUtf16(const WCHAR* text);

// Each byte one code unit of the same value, the way the library widens names.
std::u16string widen(std::string_view bytes);

// Folds case the way Windows matches object names, for ASCII and Latin-1 letters (and U+0178,
// the capital of U+00FF); other code units are compared as they are.
std::u16string foldCase(std::u16string_view name);

// True when text begins with the ASCII prefix, in any case.
bool startsWithNoCase(std::u16string_view text, std::string_view prefix);

// A file name for a folded, non-empty name. Letters, digits, '_', '-' and '.' (not first) stand
// as they are; any other code unit becomes "%XX" (below U+0100) or "%uXXXX", so two names never
// share a file name and none is "." or "..".
std::string fileComponent(std::u16string_view folded);

// A short stand-in for a name whose component is too long: "~" and 16 hexadecimal digits of a
// hash of the name. Never produced by fileComponent; callers that use it must check the full
// name some other way, since different names may share it.
std::string hashedComponent(std::u16string_view folded);

}  // namespace crvmon::platform::object_names
