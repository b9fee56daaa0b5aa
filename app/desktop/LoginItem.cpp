#include "desktop/LoginItem.h"

#include "foundation/AtomicFile.h"
#include "foundation/FileOps.h"
#include "foundation/Log.h"
#include "foundation/PathUtil.h"
#include "foundation/Utf8.h"
#include "platform/FileIO.h"
#include "platform/FileStatus.h"
#include "platform/POSIXFailure.h"

#include <QCoreApplication>
#include <QFile>
#include <QStandardPaths>
#include <cerrno>
#include <stdexcept>

namespace keldwick {

namespace {

// The Exec value naming the program as one argument: quoted where the entry format
// reserves a character, "%" doubled (it starts field codes), and then the value's own
// escapes for backslashes and control characters.
std::string execValue(const std::string& programPath) {
    constexpr std::string_view reserved = " \t\n\"'\\><~|&;$*?#()`";
    std::string argument;
    if (programPath.find_first_of(reserved) == std::string::npos) {
        argument = programPath;
    } else {
        argument = "\"";
        for (char c : programPath) {
            if (c == '"' || c == '`' || c == '$' || c == '\\') {
                argument += '\\';
            }
            argument += c;
        }
        argument += '"';
    }
    std::string value;
    for (char c : argument) {
        switch (c) {
        case '%':
            value += "%%";
            break;
        case '\\':
            value += "\\\\";
            break;
        case '\n':
            value += "\\n";
            break;
        case '\t':
            value += "\\t";
            break;
        case '\r':
            value += "\\r";
            break;
        default:
            value += c;
        }
    }
    return value;
}

}  // namespace

std::string loginItemProgram(const std::string& executable) {
    const std::string versionFolder = PathUtil::parent(executable);
    const std::string programs = PathUtil::parent(versionFolder);
    const std::string lib = PathUtil::parent(programs);
    if (PathUtil::name(executable) != "keldwick" || PathUtil::name(programs) != "keldwick" ||
        PathUtil::name(lib) != "lib")
        return executable;
    const std::string link = PathUtil::join(PathUtil::join(PathUtil::parent(lib), "bin"), "keldwick");
    struct stat status {};
    if (platform::statusFollowing(link, status) != 0 || !S_ISREG(status.st_mode)) return executable;
    return link;
}

std::optional<std::string> loginItemNote(const std::string& executable) {
    const std::string folder = PathUtil::parent(executable);
    for (const std::string& build : {folder, PathUtil::parent(folder)}) {
        struct stat status {};
        if (platform::statusFollowing(PathUtil::join(build, "CMakeCache.txt"), status) == 0)
            return "Keldwick runs from its build folder, so logging in starts it from " + build +
                   ". Install it to start the installed program instead.";
    }
    return std::nullopt;
}

void renewLoginItem(const std::string& executable) {
    // Only an installation has a path that outlasts this version; a program run from
    // elsewhere leaves the entry to whichever program the user switched it on from.
    const std::string program = loginItemProgram(executable);
    if (program == executable) return;
    try {
        if (!loginItemIsOn()) return;
        const std::string path = loginItemPath();
        const std::string entry = loginItemEntry(program);
        if (AtomicFile::read(path, 64 << 10) == entry) return;
        AtomicFile::write(path, entry);
    } catch (const std::exception& error) {
        Log::error("app", std::string("The login item couldn't be renewed: ") + error.what());
    }
}

std::string loginItemPath() {
    std::string config =
        QFile::encodeName(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)).toStdString();
    return PathUtil::join(PathUtil::join(config, "autostart"), "keldwick.desktop");
}

std::string loginItemEntry(const std::string& programPath) {
    if (!Utf8::isValid(programPath)) {
        throw std::runtime_error("The program's path can't be written into an autostart entry: " +
                                 Utf8::replacingInvalid(programPath));
    }
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Keldwick\n"
           "Exec=" +
           execValue(programPath) +
           "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

bool loginItemIsOn() {
    std::string entry;
    try {
        entry = AtomicFile::read(loginItemPath(), 64 << 10);
    } catch (const std::exception&) {
        return false;
    }
    size_t start = 0;
    while (start < entry.size()) {
        size_t end = entry.find('\n', start);
        if (end == std::string::npos) end = entry.size();
        std::string line = entry.substr(start, end - start);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        if (line == "Hidden=true" || line == "X-GNOME-Autostart-enabled=false") return false;
        start = end + 1;
    }
    return true;
}

void setLoginItem(bool on) {
    const std::string path = loginItemPath();
    if (on) {
        const std::string executable = QFile::encodeName(QCoreApplication::applicationFilePath()).toStdString();
        std::string entry = loginItemEntry(loginItemProgram(executable));
        createDirectory(PathUtil::parent(path));
        AtomicFile::write(path, entry);
        return;
    }
    if (platform::calls().unlinkAt(AT_FDCWD, path.c_str(), 0) != 0 && errno != ENOENT) {
        throw POSIXFailure("unlink", path, errno);
    }
}

}  // namespace keldwick
