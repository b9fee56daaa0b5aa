#include "drives/FileSystemFormats.h"

#include "platform/FileSystemKinds.h"

namespace keldwick::FileSystemFormats {

bool storesMetadataNatively(std::string_view fileSystem) {
    const auto* kind = platform::FileSystemKinds::named(fileSystem);
    return kind && kind->native;
}

bool isUsable(std::string_view fileSystem) {
    const auto* kind = platform::FileSystemKinds::named(fileSystem);
    return kind && kind->usable;
}

platform::RefusalAdvice refusalAdvice(std::string_view fileSystem) {
    const auto* kind = platform::FileSystemKinds::named(fileSystem);
    return kind ? kind->advice : platform::RefusalAdvice::format;
}

bool cantHoldBigFiles(std::string_view fileSystem) {
    return refusalAdvice(fileSystem) == platform::RefusalAdvice::fat32;
}

std::string suggestedFormats() {
    std::vector<std::string_view> titles;
    for (const auto& kind : platform::FileSystemKinds::all()) {
        if (kind.suggested) titles.push_back(kind.title);
    }
    std::string text;
    for (size_t i = 0; i < titles.size(); ++i) {
        if (i > 0) text += i + 1 == titles.size() ? " or " : ", ";
        text += titles[i];
    }
    return text;
}

}  // namespace keldwick::FileSystemFormats
