#pragma once
// UTF-8 helpers over ICU. Strings hold bytes; these functions are the only places
// that interpret them as text.

#include <cstddef>
#include <string>
#include <string_view>

namespace keldwick::Utf8 {

// True when the bytes are well-formed UTF-8.
bool isValid(std::string_view text);

// The longest prefix of whole user-perceived characters (grapheme clusters) that fits
// in maxBytes. Invalid UTF-8 is cut at a code-point boundary the decoder accepts.
std::string truncatedToBytes(std::string_view text, size_t maxBytes);

// Lower-cased with Unicode's default (locale-independent) rules. Invalid input is
// returned unchanged.
std::string lowercased(std::string_view text);

// Unicode Normalization Form C. Invalid input is returned unchanged.
std::string nfc(std::string_view text);

// The text with every ill-formed sequence replaced by U+FFFD, for names that come from
// the system or a device and are shown or recorded as text.
std::string replacingInvalid(std::string_view text);

// Number of Unicode scalar values (code points); invalid bytes count one each.
size_t scalarCount(std::string_view text);

}  // namespace keldwick::Utf8
