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

struct ContentType {
    // A reverse-DNS identifier with static storage (a literal or one of the table's).
    std::string_view identifier;

    bool operator==(const ContentType&) const = default;

    // True when this type is `other` or reaches it through the conformance graph.
    // A type missing from the table conforms only to itself.
    bool conforms(ContentType other) const;

    // The first type declared for the extension (lower case, without the dot) that
    // conforms to `conformingTo` (data for files, package for folders); nothing when
    // the table knows none.
    static std::optional<ContentType> forExtension(std::string_view extension, ContentType conformingTo);

    // True when a folder with this extension (lower case) is a package.
    static bool isPackageExtension(std::string_view extension);

    static const ContentType item, content, data, directory, folder, package, bundle, application, executable, database,
        archive, diskImage, compositeContent, presentation, spreadsheet, text, plainText, sourceCode, script,
        rtf, rtfd, flatRTFD, image, audiovisualContent, movie, audio;
};

inline constexpr ContentType ContentType::item{"public.item"};
inline constexpr ContentType ContentType::content{"public.content"};
inline constexpr ContentType ContentType::data{"public.data"};
inline constexpr ContentType ContentType::directory{"public.directory"};
inline constexpr ContentType ContentType::folder{"public.folder"};
inline constexpr ContentType ContentType::package{"com.apple.package"};
inline constexpr ContentType ContentType::bundle{"com.apple.bundle"};
inline constexpr ContentType ContentType::application{"com.apple.application"};
inline constexpr ContentType ContentType::executable{"public.executable"};
inline constexpr ContentType ContentType::database{"public.database"};
inline constexpr ContentType ContentType::archive{"public.archive"};
inline constexpr ContentType ContentType::diskImage{"public.disk-image"};
inline constexpr ContentType ContentType::compositeContent{"public.composite-content"};
inline constexpr ContentType ContentType::presentation{"public.presentation"};
inline constexpr ContentType ContentType::spreadsheet{"public.spreadsheet"};
inline constexpr ContentType ContentType::text{"public.text"};
inline constexpr ContentType ContentType::plainText{"public.plain-text"};
inline constexpr ContentType ContentType::sourceCode{"public.source-code"};
inline constexpr ContentType ContentType::script{"public.script"};
inline constexpr ContentType ContentType::rtf{"public.rtf"};
inline constexpr ContentType ContentType::rtfd{"com.apple.rtfd"};
inline constexpr ContentType ContentType::flatRTFD{"com.apple.flat-rtfd"};
inline constexpr ContentType ContentType::image{"public.image"};
inline constexpr ContentType ContentType::audiovisualContent{"public.audiovisual-content"};
inline constexpr ContentType ContentType::movie{"public.movie"};
inline constexpr ContentType ContentType::audio{"public.audio"};

// The text after the last "." of the last path component ("" when there is none);
// trailing slashes are ignored. Not lower-cased.
std::string pathExtension(std::string_view nameOrPath);

}  // namespace keldwick
