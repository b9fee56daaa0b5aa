#pragma once
// File types for the type filter: a compiled-in table that maps file-name extensions
// to type identifiers and each type to the types it conforms to. The identifiers and
// the conformance graph follow the uniform type identifiers the filter was designed
// around, so "script.py" is a Python script, hence a script, source code and plain
// text at once.

#include <optional>
#include <string>
#include <string_view>

namespace keldwick {

struct UTType {
    // A reverse-DNS identifier with static storage (a literal or one of the table's).
    std::string_view identifier;

    bool operator==(const UTType&) const = default;

    // True when this type is `other` or reaches it through the conformance graph.
    // A type missing from the table conforms only to itself.
    bool conforms(UTType other) const;

    // The first type declared for the extension (lower case, without the dot) that
    // conforms to `conformingTo` (data for files, package for folders); nothing when
    // the table knows none.
    static std::optional<UTType> forExtension(std::string_view extension, UTType conformingTo);

    // True when a folder with this extension (lower case) is a package.
    static bool isPackageExtension(std::string_view extension);

    static const UTType item, content, data, directory, folder, package, bundle, application, executable, database,
        archive, diskImage, compositeContent, presentation, spreadsheet, text, plainText, sourceCode, script,
        rtf, rtfd, flatRTFD, image, audiovisualContent, movie, audio;
};

inline constexpr UTType UTType::item{"public.item"};
inline constexpr UTType UTType::content{"public.content"};
inline constexpr UTType UTType::data{"public.data"};
inline constexpr UTType UTType::directory{"public.directory"};
inline constexpr UTType UTType::folder{"public.folder"};
inline constexpr UTType UTType::package{"com.apple.package"};
inline constexpr UTType UTType::bundle{"com.apple.bundle"};
inline constexpr UTType UTType::application{"com.apple.application"};
inline constexpr UTType UTType::executable{"public.executable"};
inline constexpr UTType UTType::database{"public.database"};
inline constexpr UTType UTType::archive{"public.archive"};
inline constexpr UTType UTType::diskImage{"public.disk-image"};
inline constexpr UTType UTType::compositeContent{"public.composite-content"};
inline constexpr UTType UTType::presentation{"public.presentation"};
inline constexpr UTType UTType::spreadsheet{"public.spreadsheet"};
inline constexpr UTType UTType::text{"public.text"};
inline constexpr UTType UTType::plainText{"public.plain-text"};
inline constexpr UTType UTType::sourceCode{"public.source-code"};
inline constexpr UTType UTType::script{"public.script"};
inline constexpr UTType UTType::rtf{"public.rtf"};
inline constexpr UTType UTType::rtfd{"com.apple.rtfd"};
inline constexpr UTType UTType::flatRTFD{"com.apple.flat-rtfd"};
inline constexpr UTType UTType::image{"public.image"};
inline constexpr UTType UTType::audiovisualContent{"public.audiovisual-content"};
inline constexpr UTType UTType::movie{"public.movie"};
inline constexpr UTType UTType::audio{"public.audio"};

// The text after the last "." of the last path component ("" when there is none);
// trailing slashes are ignored. Not lower-cased.
std::string pathExtension(std::string_view nameOrPath);

}  // namespace keldwick
