#include "drives/DriveBrowser.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <unordered_set>

#include "foundation/FileOps.h"
#include "foundation/FileStat.h"
#include "foundation/ItemChecks.h"
#include "foundation/PathUtil.h"

namespace keldwick {

std::string DriveItem::name() const { return PathUtil::name(path); }

namespace DriveBrowser {

namespace {

constexpr uint32_t hiddenFlag = 0x8000;

const std::unordered_set<std::string>& neverListed() {
    // lost+found is where ext2/3/4's file system check puts what it recovers: the file
    // system's own folder, not the user's.
    static const std::unordered_set<std::string> names{"$RECYCLE.BIN", "System Volume Information", "Icon\r",
                                                       "lost+found"};
    return names;
}

// The collator of the user's locale (from LC_ALL, LC_COLLATE or LANG), numeric ordering
// on, built once. Each caller works on its own clone: collators are not safe to share.
// The C and POSIX locales get the root collation: their own orders upper case before
// lower case, which no file manager does.
std::unique_ptr<icu::Collator> makeCollator() {
    static std::once_flag once;
    static std::unique_ptr<icu::Collator> prototype;
    std::call_once(once, [] {
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale locale = icu::Locale::getDefault();
        if (std::string(locale.getVariant()) == "POSIX") locale = icu::Locale::getRoot();
        prototype.reset(icu::Collator::createInstance(locale, status));
        if (U_FAILURE(status) || !prototype) {
            status = U_ZERO_ERROR;
            prototype.reset(icu::Collator::createInstance(icu::Locale::getRoot(), status));
        }
        if (prototype) {
            status = U_ZERO_ERROR;
            prototype->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
        }
    });
    return prototype ? std::unique_ptr<icu::Collator>(prototype->clone()) : nullptr;
}

std::string sortKey(const icu::Collator* collator, const std::string& name) {
    if (!collator) return name;
    // Bytes that aren't UTF-8 become replacement characters; such names tie and keep
    // their listing order.
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(name);
    int32_t length = collator->getSortKey(text, nullptr, 0);
    std::string key(static_cast<size_t>(length), '\0');
    collator->getSortKey(text, reinterpret_cast<uint8_t*>(key.data()), length);
    if (!key.empty() && key.back() == '\0') key.pop_back();
    return key;
}

}  // namespace

bool comesBefore(const std::string& name, const std::string& other) {
    auto collator = makeCollator();
    return sortKey(collator.get(), name) < sortKey(collator.get(), other);
}

std::vector<DriveItem> items(const std::string& folder) {
    std::vector<std::pair<std::string, DriveItem>> keyed;
    auto collator = makeCollator();
    for (const std::string& name : listDirectory(folder)) {
        if (name.empty() || name[0] == '.') continue;
        if (neverListed().count(name)) continue;
        const std::string path = PathUtil::join(folder, name);
        std::optional<FileStat> stat = FileStat::peek(path);
        if (!stat) continue;
        if (stat->flags & hiddenFlag) continue;
        DriveItem item;
        item.path = path;
        item.modified = stat->modificationDate();
        if (stat->isDirectory()) {
            item.isFolder = !isPackageName(name);
        } else if (stat->isFile() || stat->isSymlink()) {
            item.size = stat->size;
        } else {
            continue;
        }
        keyed.emplace_back(sortKey(collator.get(), name), std::move(item));
    }
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<DriveItem> result;
    result.reserve(keyed.size());
    for (auto& entry : keyed) result.push_back(std::move(entry.second));
    return result;
}

}  // namespace DriveBrowser

}  // namespace keldwick
