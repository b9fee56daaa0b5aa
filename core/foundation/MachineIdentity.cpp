#include "foundation/MachineIdentity.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "foundation/AtomicFile.h"
#include "foundation/FileOps.h"
#include "foundation/Log.h"
#include "foundation/PathUtil.h"
#include "foundation/UUID.h"
#include "foundation/UserFolders.h"
#include "foundation/Utf8.h"
#include "platform/FileIO.h"
#include "platform/POSIXFailure.h"
#include "platform/ProcessFacts.h"

namespace keldwick::MachineIdentity {

namespace {

constexpr std::string_view kUnknown = "unknown-mac";
constexpr std::string_view kFallbackName = "Computer";
constexpr std::string_view kStoredIDName = "machine-id";

// This app's own id, the key under which machine ids are turned into ours.
constexpr unsigned char kAppID[16] = {0xb2, 0x04, 0xba, 0x4d, 0xa1, 0x34, 0x40, 0xfb,
                                      0xb1, 0x32, 0x51, 0x74, 0xcf, 0x13, 0xaa, 0x27};

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isUUIDText(std::string_view text) {
    if (text.size() != 36) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? text[i] != '-' : (hexValue(text[i]) < 0 || (text[i] >= 'a' && text[i] <= 'f'))) return false;
    }
    return true;
}

// The random id kept in the support folder, made on first use. Two processes racing to make
// it agree on whichever landed first.
std::optional<std::string> storedID(const std::string& folder) {
    if (folder.empty()) return std::nullopt;
    const std::string path = PathUtil::join(folder, kStoredIDName);
    auto readStored = [&]() -> std::optional<std::string> {
        try {
            std::string text = AtomicFile::read(path, 4096);
            while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
            if (isUUIDText(text)) return text;
        } catch (const POSIXFailure&) {
        }
        return std::nullopt;
    };
    if (auto existing = readStored()) return existing;
    try {
        createDirectory(folder);
        const std::string fresh = UUID::random();
        const std::string staged = path + ".keldwick-write-" + fresh;
        AtomicFile::write(staged, fresh + "\n", 0600);
        try {
            renameExclusive(staged, path);
            // An id that doesn't outlast a power cut would make this machine a stranger
            // to its own drive entries.
            platform::flushFolder(folder);
            return fresh;
        } catch (const POSIXFailure& failure) {
            platform::calls().unlinkAt(AT_FDCWD, staged.c_str(), 0);
            if (failure.code() != EEXIST) throw;
        }
        // Another process got there first, or what stands there can't serve as an id.
        if (auto other = readStored()) return other;
        AtomicFile::write(path, fresh + "\n", 0600);
        return fresh;
    } catch (const std::exception& error) {
        Log::error("identity", std::string("Couldn't keep a machine id: ") + error.what());
        return std::nullopt;
    }
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

}  // namespace

std::optional<std::string> appSpecificID(std::string_view text) {
    if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    if (text.size() != 32) return std::nullopt;
    unsigned char machine[16];
    bool allZero = true;
    for (size_t i = 0; i < 16; ++i) {
        int high = hexValue(text[2 * i]), low = hexValue(text[2 * i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        machine[i] = static_cast<unsigned char>(high << 4 | low);
        allZero = allZero && machine[i] == 0;
    }
    if (allZero) return std::nullopt;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!HMAC(EVP_sha256(), machine, sizeof machine, kAppID, sizeof kAppID, digest, &length) || length < 16)
        return std::nullopt;
    digest[6] = static_cast<unsigned char>((digest[6] & 0x0F) | 0x40);
    digest[8] = static_cast<unsigned char>((digest[8] & 0x3F) | 0x80);
    uint8_t id[16];
    std::copy(digest, digest + 16, id);
    return UUID::text(id);
}

std::string resolve(const Sources& sources) {
    for (const auto& file : sources.machineIDFiles) {
        try {
            if (auto id = appSpecificID(AtomicFile::read(file, 4096))) return *id;
        } catch (const POSIXFailure&) {
        }
    }
    if (auto id = storedID(sources.supportFolder)) return *id;
    return std::string(kUnknown);
}

std::optional<std::string> prettyHostname(std::string_view text) {
    std::optional<std::string> found;
    while (!text.empty()) {
        auto newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        text = newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
        while (!line.empty() && isBlank(line.front())) line.remove_prefix(1);
        constexpr std::string_view key = "PRETTY_HOSTNAME=";
        if (line.substr(0, key.size()) != key) continue;
        line.remove_prefix(key.size());
        // Shell-style: quotes group, a backslash takes the next character literally
        // (inside single quotes nothing is special).
        std::string value;
        char quote = 0;
        for (size_t i = 0; i < line.size(); ++i) {
            char c = line[i];
            if (quote == '\'') {
                if (c == '\'')
                    quote = 0;
                else
                    value.push_back(c);
            } else if (c == '\\' && i + 1 < line.size()) {
                value.push_back(line[++i]);
            } else if (quote == '"') {
                if (c == '"')
                    quote = 0;
                else
                    value.push_back(c);
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '#' && (i == 0 || isBlank(line[i - 1]))) {
                break;
            } else if (!isBlank(c) || !value.empty()) {
                value.push_back(c);
            }
        }
        found = value;  // the last assignment wins, as in the shell
    }
    if (found && found->empty()) return std::nullopt;
    return found;
}

std::optional<std::string> computerName() {
    try {
        if (auto pretty = prettyHostname(AtomicFile::read("/etc/machine-info", 65536))) return pretty;
    } catch (const POSIXFailure&) {
    }
    return platform::hostName();
}

std::string makeFolderName(const std::optional<std::string>& computerName, std::string_view id) {
    std::string name = computerName && Utf8::isValid(*computerName) ? *computerName : std::string();
    for (char& c : name) {
        if (c == '/') c = '-';
    }
    for (char& c : name) {
        if (c == ':') c = '-';
    }
    size_t start = 0, end = name.size();
    while (start < end && isBlank(name[start])) ++start;
    while (end > start && isBlank(name[end - 1])) --end;
    name = name.substr(start, end - start);
    if (name.empty()) name = kFallbackName;
    // The id is ASCII, so eight bytes are eight characters.
    return name + " (" + std::string(id.substr(0, 8)) + ")";
}

const std::string& current() {
    static const std::string id = [] {
        Sources sources;
        sources.supportFolder = UserFolders::support();
        return resolve(sources);
    }();
    return id;
}

const std::string& folderName() {
    static const std::string name = makeFolderName(computerName(), current());
    return name;
}

}  // namespace keldwick::MachineIdentity
