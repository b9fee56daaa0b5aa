#include "foundation/Utf8.h"

#include <unicode/brkiter.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <memory>

namespace keldwick::Utf8 {

bool isValid(std::string_view text) {
    int32_t i = 0;
    const auto length = static_cast<int32_t>(text.size());
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    while (i < length) {
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if (c < 0) return false;
    }
    return true;
}

std::string replacingInvalid(std::string_view text) {
    if (isValid(text)) return std::string(text);
    std::string out;
    out.reserve(text.size() + 8);
    const auto length = static_cast<int32_t>(text.size());
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    int32_t i = 0;
    while (i < length) {
        const int32_t start = i;
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if (c < 0)
            out += "\xEF\xBF\xBD";
        else
            out.append(text.substr(static_cast<size_t>(start), static_cast<size_t>(i - start)));
    }
    return out;
}

size_t scalarCount(std::string_view text) {
    int32_t i = 0;
    size_t count = 0;
    const auto length = static_cast<int32_t>(text.size());
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    while (i < length) {
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        ++count;
    }
    return count;
}

std::string truncatedToBytes(std::string_view text, size_t maxBytes) {
    if (text.size() <= maxBytes) return std::string(text);
    if (!isValid(text)) {
        // Cut at the last code-point start that fits.
        size_t cut = maxBytes;
        while (cut > 0 && (static_cast<uint8_t>(text[cut]) & 0xC0) == 0x80) --cut;
        return std::string(text.substr(0, cut));
    }
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    UText* ut = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    if (U_FAILURE(status) || !it) {
        if (ut) utext_close(ut);
        return std::string();
    }
    it->setText(ut, status);
    size_t best = 0;
    // With a UTF-8 UText, boundaries are native (byte) indexes.
    for (int32_t b = it->next(); b != icu::BreakIterator::DONE; b = it->next()) {
        if (static_cast<size_t>(b) > maxBytes) break;
        best = static_cast<size_t>(b);
    }
    utext_close(ut);
    return std::string(text.substr(0, best));
}

std::string lowercased(std::string_view text) {
    // ASCII lower-cases the same under every rule; most names and extensions are ASCII,
    // and they are lower-cased once per item of a scan.
    bool ascii = true;
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii) {
        std::string out(text);
        for (char& c : out) {
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
        return out;
    }
    if (!isValid(text)) return std::string(text);
    icu::UnicodeString u = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    u.toLower(icu::Locale::getRoot());
    std::string out;
    u.toUTF8String(out);
    return out;
}

std::string nfc(std::string_view text) {
    if (!isValid(text)) return std::string(text);
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* normalizer = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status)) return std::string(text);
    icu::UnicodeString u = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    icu::UnicodeString normalized = normalizer->normalize(u, status);
    if (U_FAILURE(status)) return std::string(text);
    std::string out;
    normalized.toUTF8String(out);
    return out;
}

}  // namespace keldwick::Utf8
