#include "foundation/ContentType.h"

#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace keldwick {

namespace {

struct Declaration {
    std::string_view identifier;
    std::vector<std::string_view> conformsTo;
    std::vector<std::string_view> extensions;
};

// Order matters where two types share an extension: the first that conforms to what
// the caller asks for (data or package) wins.
const std::vector<Declaration>& declarations() {
    static const std::vector<Declaration> table = {
        // Abstract types.
        {"public.item", {}, {}},
        {"public.content", {}, {}},
        {"public.data", {"public.item"}, {}},
        {"public.directory", {"public.item"}, {}},
        {"public.folder", {"public.directory"}, {}},
        {"com.apple.package", {"public.directory"}, {}},
        {"com.apple.bundle", {"public.directory"}, {}},
        {"com.apple.application", {"public.item"}, {}},
        {"public.executable", {"public.item"}, {}},
        {"public.database", {"public.item"}, {}},
        {"public.archive", {"public.data"}, {}},
        {"public.disk-image", {"public.archive"}, {}},
        {"public.composite-content", {"public.content"}, {}},
        {"public.presentation", {"public.composite-content"}, {}},
        {"public.spreadsheet", {"public.content"}, {}},
        {"public.text", {"public.data", "public.content"}, {}},
        {"public.plain-text", {"public.text"}, {"txt", "text"}},
        {"public.source-code", {"public.plain-text"}, {}},
        {"public.script", {"public.source-code"}, {}},
        {"public.image", {"public.data", "public.content"}, {}},
        {"public.audiovisual-content", {"public.data", "public.content"}, {}},
        {"public.movie", {"public.audiovisual-content"}, {}},
        {"public.audio", {"public.audiovisual-content"}, {}},

        // Text.
        {"public.rtf", {"public.text"}, {"rtf"}},
        {"com.apple.rtfd", {"com.apple.package", "public.composite-content"}, {"rtfd"}},
        {"com.apple.flat-rtfd", {"public.data", "public.composite-content"}, {"rtfd"}},
        {"net.daringfireball.markdown", {"public.plain-text"}, {"md", "markdown"}},
        {"public.log", {"public.plain-text"}, {"log"}},
        {"public.delimited-values-text", {"public.text"}, {}},
        {"public.comma-separated-values-text", {"public.delimited-values-text"}, {"csv"}},
        {"public.tab-separated-values-text", {"public.delimited-values-text"}, {"tsv"}},
        {"public.json", {"public.text"}, {"json"}},
        {"public.xml", {"public.text"}, {"xml"}},
        {"public.yaml", {"public.text"}, {"yaml", "yml"}},
        {"public.html", {"public.text"}, {"html", "htm"}},

        // Source code and scripts.
        {"public.c-source", {"public.source-code"}, {"c"}},
        {"public.c-header", {"public.source-code"}, {"h"}},
        {"public.c-plus-plus-source", {"public.source-code"}, {"cpp", "cc", "cxx", "c++"}},
        {"public.c-plus-plus-header", {"public.source-code"}, {"hpp", "hh", "hxx"}},
        {"public.objective-c-source", {"public.source-code"}, {"m"}},
        {"public.objective-c-plus-plus-source", {"public.source-code"}, {"mm"}},
        {"public.swift-source", {"public.source-code"}, {"swift"}},
        {"com.sun.java-source", {"public.source-code"}, {"java"}},
        {"org.kotlinlang.source", {"public.source-code"}, {"kt", "kts"}},
        {"org.rust-lang.source", {"public.source-code"}, {"rs"}},
        {"org.golang.source", {"public.source-code"}, {"go"}},
        {"com.microsoft.csharp-source", {"public.source-code"}, {"cs"}},
        {"public.assembly-source", {"public.source-code"}, {"s", "asm"}},
        {"public.shell-script", {"public.script"}, {"sh", "bash", "zsh", "ksh", "csh", "fish", "command"}},
        {"public.python-script", {"public.script"}, {"py", "pyw"}},
        {"public.ruby-script", {"public.script"}, {"rb"}},
        {"public.perl-script", {"public.script"}, {"pl", "pm"}},
        {"public.php-script", {"public.script"}, {"php"}},
        {"com.netscape.javascript-source", {"public.script"}, {"js", "mjs", "cjs"}},
        {"com.microsoft.typescript", {"public.script"}, {"ts", "tsx"}},
        {"org.lua.script", {"public.script"}, {"lua"}},

        // Documents.
        {"com.adobe.pdf", {"public.data", "public.composite-content"}, {"pdf"}},
        {"com.microsoft.word.doc", {"public.data", "public.composite-content"}, {"doc"}},
        {"org.openxmlformats.wordprocessingml.document", {"public.zip-archive", "public.composite-content"}, {"docx"}},
        {"org.oasis-open.opendocument.text", {"public.data", "public.composite-content"}, {"odt"}},
        {"org.idpf.epub-container", {"public.zip-archive", "public.composite-content"}, {"epub"}},
        {"com.amazon.mobi", {"public.data", "public.composite-content"}, {"mobi", "azw3"}},
        {"com.lizardtech.djvu", {"public.data", "public.composite-content"}, {"djvu"}},
        {"com.apple.iwork.pages.sffpages", {"com.apple.package", "public.composite-content"}, {"pages"}},
        {"com.apple.iwork.pages.pages", {"public.data", "public.composite-content"}, {"pages"}},
        {"com.microsoft.powerpoint.ppt", {"public.data", "public.presentation"}, {"ppt", "pps"}},
        {"org.openxmlformats.presentationml.presentation", {"public.zip-archive", "public.presentation"}, {"pptx"}},
        {"org.oasis-open.opendocument.presentation", {"public.data", "public.presentation"}, {"odp"}},
        {"com.apple.iwork.keynote.sffkey", {"com.apple.package", "public.presentation"}, {"key"}},
        {"com.apple.iwork.keynote.key", {"public.data", "public.presentation"}, {"key"}},
        {"com.microsoft.excel.xls", {"public.data", "public.spreadsheet"}, {"xls"}},
        {"org.openxmlformats.spreadsheetml.sheet", {"public.zip-archive", "public.spreadsheet"}, {"xlsx"}},
        {"org.oasis-open.opendocument.spreadsheet", {"public.data", "public.spreadsheet"}, {"ods"}},
        {"com.apple.iwork.numbers.sffnumbers", {"com.apple.package", "public.spreadsheet"}, {"numbers"}},
        {"com.apple.iwork.numbers.numbers", {"public.data", "public.spreadsheet"}, {"numbers"}},

        // Images, camera raw files included.
        {"public.jpeg", {"public.image"}, {"jpg", "jpeg", "jpe"}},
        {"public.png", {"public.image"}, {"png"}},
        {"com.compuserve.gif", {"public.image"}, {"gif"}},
        {"public.tiff", {"public.image"}, {"tif", "tiff"}},
        {"com.microsoft.bmp", {"public.image"}, {"bmp"}},
        {"public.heic", {"public.image"}, {"heic"}},
        {"public.heif", {"public.image"}, {"heif"}},
        {"public.avif", {"public.image"}, {"avif"}},
        {"org.webmproject.webp", {"public.image"}, {"webp"}},
        {"public.svg-image", {"public.image"}, {"svg"}},
        {"com.microsoft.ico", {"public.image"}, {"ico"}},
        {"com.adobe.photoshop-image", {"public.image"}, {"psd"}},
        {"public.jpeg-2000", {"public.image"}, {"jp2"}},
        {"com.ilm.openexr-image", {"public.image"}, {"exr"}},
        {"public.camera-raw-image", {"public.image"},
         {"dng", "cr2", "cr3", "crw", "nef", "nrw", "arw", "srf", "sr2", "orf", "rw2", "raf", "srw", "pef", "erf",
          "3fr", "iiq", "x3f"}},

        // Movies.
        {"com.apple.quicktime-movie", {"public.movie"}, {"mov", "qt"}},
        {"public.mpeg-4", {"public.movie"}, {"mp4", "m4v"}},
        {"public.avi", {"public.movie"}, {"avi"}},
        {"public.mpeg", {"public.movie"}, {"mpg", "mpeg", "m2v"}},
        {"public.3gpp", {"public.movie"}, {"3gp"}},
        {"public.3gpp2", {"public.movie"}, {"3g2"}},
        {"com.microsoft.windows-media-wmv", {"public.movie"}, {"wmv"}},
        {"public.mpeg-2-transport-stream", {"public.movie"}, {"m2ts", "mts"}},
        {"org.matroska.mkv", {"public.movie"}, {"mkv"}},
        {"org.webmproject.webm", {"public.movie"}, {"webm"}},
        {"com.adobe.flash.video", {"public.movie"}, {"flv"}},
        {"org.xiph.ogg-video", {"public.movie"}, {"ogv"}},
        {"public.dvd-video-object", {"public.movie"}, {"vob"}},

        // Audio.
        {"public.mp3", {"public.audio"}, {"mp3"}},
        {"public.mpeg-4-audio", {"public.audio"}, {"m4a", "m4b"}},
        {"public.aac-audio", {"public.audio"}, {"aac"}},
        {"com.microsoft.waveform-audio", {"public.audio"}, {"wav"}},
        {"public.aiff-audio", {"public.audio"}, {"aif", "aiff"}},
        {"com.apple.coreaudio-format", {"public.audio"}, {"caf"}},
        {"org.xiph.flac", {"public.audio"}, {"flac"}},
        {"org.xiph.ogg-audio", {"public.audio"}, {"ogg", "oga", "opus"}},
        {"com.microsoft.windows-media-wma", {"public.audio"}, {"wma"}},
        {"public.midi-audio", {"public.audio"}, {"mid", "midi"}},

        // Archives.
        {"public.zip-archive", {"public.archive"}, {"zip"}},
        {"org.gnu.gnu-zip-archive", {"public.archive"}, {"gz", "gzip"}},
        {"org.gnu.gnu-zip-tar-archive", {"public.archive"}, {"tgz"}},
        {"public.tar-archive", {"public.archive"}, {"tar"}},
        {"org.7-zip.7-zip-archive", {"public.archive"}, {"7z"}},
        {"public.bzip2-archive", {"public.archive"}, {"bz2"}},
        {"org.tukaani.xz-archive", {"public.archive"}, {"xz", "txz"}},
        {"com.rarlab.rar-archive", {"public.archive"}, {"rar"}},
        {"org.facebook.zstandard-archive", {"public.archive"}, {"zst"}},
        {"public.cpio-archive", {"public.archive"}, {"cpio"}},
        {"com.apple.xar-archive", {"public.archive"}, {"xar", "pkg"}},
        {"org.debian.deb-archive", {"public.archive"}, {"deb"}},
        {"com.redhat.rpm-archive", {"public.archive"}, {"rpm"}},
        {"com.sun.java-archive", {"public.zip-archive", "public.executable"}, {"jar"}},
        {"public.comic-zip-archive", {"public.zip-archive"}, {"cbz"}},
        {"public.comic-rar-archive", {"com.rarlab.rar-archive"}, {"cbr"}},

        // Disk images.
        {"com.apple.disk-image-udif", {"public.disk-image"}, {"dmg"}},
        {"public.iso-image", {"public.disk-image"}, {"iso"}},
        {"public.raw-disk-image", {"public.disk-image"}, {"img"}},
        {"com.apple.disk-image-sparse", {"public.disk-image"}, {"sparseimage"}},
        {"com.apple.disk-image-sparsebundle", {"com.apple.package", "public.disk-image"}, {"sparsebundle"}},
        {"org.qemu.qcow2", {"public.disk-image"}, {"qcow2"}},
        {"org.virtualbox.vdi", {"public.disk-image"}, {"vdi"}},
        {"com.vmware.vmdk", {"public.disk-image"}, {"vmdk"}},
        {"com.microsoft.vhd", {"public.disk-image"}, {"vhd", "vhdx"}},

        // Programs, libraries and bundles.
        {"public.unix-executable", {"public.data", "public.executable"}, {}},
        {"com.microsoft.windows-executable", {"public.data", "public.executable"}, {"exe"}},
        {"com.microsoft.windows-dynamic-link-library", {"public.data", "public.executable"}, {"dll"}},
        {"com.microsoft.msi-installer", {"public.data", "public.executable"}, {"msi"}},
        {"com.apple.mach-o-dylib", {"public.data", "public.executable"}, {"dylib"}},
        {"public.elf-shared-object", {"public.data", "public.executable"}, {"so"}},
        {"public.object-code", {"public.data", "public.executable"}, {"o"}},
        {"org.appimage.appimage", {"public.data", "public.executable", "com.apple.application"}, {"appimage"}},
        {"com.apple.application-bundle", {"com.apple.application", "com.apple.bundle", "com.apple.package"}, {"app"}},
        {"com.apple.application-and-system-extension", {"com.apple.bundle", "com.apple.package"}, {"appex"}},
        {"com.apple.framework", {"com.apple.bundle", "com.apple.package"}, {"framework"}},
        {"com.apple.plugin", {"com.apple.bundle", "com.apple.package"}, {"plugin"}},
        {"com.apple.kernel-extension", {"com.apple.bundle", "com.apple.package"}, {"kext"}},
        {"com.apple.xpc-service", {"com.apple.bundle", "com.apple.package"}, {"xpc"}},
        {"com.apple.loadable-bundle", {"com.apple.bundle", "com.apple.package"}, {"bundle"}},

        // Databases.
        {"org.sqlite.sqlite3", {"public.data", "public.database"}, {"sqlite", "sqlite3", "sqlitedb", "db"}},
        {"io.realm.realm", {"public.data", "public.database"}, {"realm"}},
        {"com.microsoft.access.mdb", {"public.data", "public.database"}, {"mdb", "accdb"}},

        // Other packages: libraries of apps and developer tools.
        {"com.apple.photos.library", {"com.apple.package"}, {"photoslibrary"}},
        {"com.apple.music.library", {"com.apple.package"}, {"musiclibrary"}},
        {"com.apple.imovie.library", {"com.apple.package"}, {"imovielibrary"}},
        {"com.apple.finalcutpro.library", {"com.apple.package"}, {"fcpbundle"}},
        {"com.apple.logic.project", {"com.apple.package"}, {"logicx"}},
        {"com.apple.garageband.project", {"com.apple.package"}, {"band"}},
        {"com.apple.xcode.archive", {"com.apple.package"}, {"xcarchive"}},
        {"com.apple.xcode.project", {"com.apple.package"}, {"xcodeproj"}},
        {"com.apple.xcode.workspace", {"com.apple.package"}, {"xcworkspace"}},
        {"com.apple.xcode.playground", {"com.apple.package"}, {"playground"}},
    };
    return table;
}

struct Index {
    // Every type with all the types it conforms to, itself included.
    std::unordered_map<std::string_view, std::unordered_set<std::string_view>> conformance;
    std::unordered_map<std::string_view, std::vector<std::string_view>> byExtension;
};

void collect(std::string_view id, const std::unordered_map<std::string_view, const Declaration*>& byId,
             std::unordered_set<std::string_view>& into) {
    if (!into.insert(id).second) return;
    auto found = byId.find(id);
    if (found == byId.end()) return;
    for (auto parent : found->second->conformsTo) collect(parent, byId, into);
}

const Index& index() {
    static const Index built = [] {
        Index result;
        std::unordered_map<std::string_view, const Declaration*> byId;
        for (const auto& d : declarations()) byId.emplace(d.identifier, &d);
        for (const auto& d : declarations()) {
            collect(d.identifier, byId, result.conformance[d.identifier]);
            for (auto ext : d.extensions) result.byExtension[ext].push_back(d.identifier);
        }
        return result;
    }();
    return built;
}

}  // namespace

bool ContentType::conforms(ContentType other) const {
    if (identifier == other.identifier) return true;
    const auto& conformance = index().conformance;
    auto found = conformance.find(identifier);
    return found != conformance.end() && found->second.count(other.identifier) != 0;
}

std::optional<ContentType> ContentType::forExtension(std::string_view extension, ContentType conformingTo) {
    const auto& byExtension = index().byExtension;
    auto found = byExtension.find(extension);
    if (found == byExtension.end()) return std::nullopt;
    for (auto id : found->second) {
        ContentType type{id};
        if (type.conforms(conformingTo)) return type;
    }
    return std::nullopt;
}

bool ContentType::isPackageExtension(std::string_view extension) {
    return !extension.empty() && forExtension(extension, package).has_value();
}

std::string pathExtension(std::string_view nameOrPath) {
    std::string_view p = nameOrPath;
    while (p.size() > 1 && p.back() == '/') p.remove_suffix(1);
    auto slash = p.rfind('/');
    std::string_view name = slash == std::string_view::npos ? p : p.substr(slash + 1);
    auto dot = name.rfind('.');
    if (dot == std::string_view::npos) return "";
    return std::string(name.substr(dot + 1));
}

}  // namespace keldwick
