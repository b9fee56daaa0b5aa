#include "scanning/WholeKind.h"

#include "foundation/EnumNames.h"

namespace keldwick {

namespace {

constexpr EnumNames::Name<WholeKind> kKindNames[] = {
    {WholeKind::project, "project"},
    {WholeKind::emulator, "emulator"},
    {WholeKind::chosen, "chosen"},
};

}  // namespace

std::string_view toString(WholeKind kind) {
    return EnumNames::spellingOf(kKindNames, kind, "chosen");
}

std::optional<WholeKind> parseWholeKind(std::string_view text) {
    return EnumNames::valueOf(kKindNames, text);
}

}  // namespace keldwick
