#include "scanning/OffloadPolicy.h"

#include "drives/DriveProfile.h"
#include "foundation/Utf8.h"

namespace keldwick {

const std::vector<ContentType>& OffloadPolicy::sequentialTypes() {
    static const std::vector<ContentType> types = {
        ContentType::compositeContent, ContentType::presentation, ContentType::spreadsheet, ContentType::rtf,
        ContentType::rtfd,             ContentType::flatRTFD,     ContentType::plainText,   ContentType::image,
        ContentType::movie,            ContentType::audio,        ContentType::archive,     ContentType::diskImage,
    };
    return types;
}

const std::unordered_set<std::string>& OffloadPolicy::sequentialExtensions() {
    static const std::unordered_set<std::string> extensions = {
        "mkv", "webm", "flv", "ogv", "m2ts", "mts", "vob", "opus", "ogg",
        "rar", "xz",   "bz2", "zst", "tar",  "cbz", "cbr", "rtfd",
    };
    return extensions;
}

const std::vector<ContentType>& OffloadPolicy::randomAccessTypes() {
    static const std::vector<ContentType> types = {
        ContentType::sourceCode, ContentType::script, ContentType::executable, ContentType::database, ContentType::application, ContentType::bundle,
    };
    return types;
}

const OffloadPolicy& OffloadPolicy::light() {
    static const OffloadPolicy policy = [] {
        OffloadPolicy p;
        p.allowedTypes = sequentialTypes();
        p.allowedExtensions = sequentialExtensions();
        p.deniedTypes = randomAccessTypes();
        return p;
    }();
    return policy;
}

bool OffloadPolicy::allowsType(std::string_view fileName, bool isPackage) const {
    std::string extension = Utf8::lowercased(pathExtension(fileName));
    std::optional<ContentType> type;
    if (!extension.empty()) {
        type = ContentType::forExtension(extension, isPackage ? ContentType::package : ContentType::data);
    }
    if (type) {
        for (const auto& denied : deniedTypes) {
            if (type->conforms(denied)) return false;
        }
    }
    if (!allowedTypes) return true;
    if (allowedExtensions.count(extension) != 0) return true;
    if (!type) return false;
    for (const auto& allowed : *allowedTypes) {
        if (type->conforms(allowed)) return true;
    }
    return false;
}

OffloadPolicy policyForDrive(const DriveProfile& profile, OffloadPolicy base) {
    if (profile.tier() == DriveTier::fastSSD) {
        base.maxFolderFileCount = 20'000;
        base.allowedTypes = std::nullopt;
        base.allowedExtensions = {};
        base.deniedTypes = {};
    } else {
        base.maxFolderFileCount = 1'000;
        base.allowedTypes = OffloadPolicy::sequentialTypes();
        base.allowedExtensions = OffloadPolicy::sequentialExtensions();
        base.deniedTypes = OffloadPolicy::randomAccessTypes();
    }
    return base;
}

}  // namespace keldwick
