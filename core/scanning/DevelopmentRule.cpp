#include "scanning/DevelopmentRule.h"

#include <unordered_map>

#include "foundation/AndroidDevices.h"
#include "foundation/FileOps.h"
#include "foundation/PathUtil.h"
#include "foundation/ContentType.h"
#include "scanning/NeverTouch.h"

namespace keldwick {

namespace {

const std::vector<std::string>& projectFiles() {
    static const std::vector<std::string> names = {
        "Makefile",       "CMakeLists.txt", "package.json",     "Package.swift",   "build.gradle",
        "build.gradle.kts", "pom.xml",      "Cargo.toml",       "go.mod",          "setup.py",
        "pyproject.toml", "Gemfile",        "composer.json",    "meson.build",     "BUILD.bazel",
        "WORKSPACE",      "requirements.txt", "Pipfile",        "environment.yml", "pubspec.yaml",
        "deno.json",      "mix.exs",        "project.godot",    "Podfile",
    };
    return names;
}

const std::unordered_set<std::string>& projectExtensions() {
    static const std::unordered_set<std::string> extensions = {"xcodeproj", "xcworkspace", "sln", "csproj",
                                                               "uproject"};
    return extensions;
}

const std::vector<std::string>& dependencyFolders() {
    static const std::vector<std::string> names = {"node_modules", ".venv", ".dart_tool", "Pods"};
    return names;
}

const std::unordered_set<std::string>& buildOutputNames() {
    static const std::unordered_set<std::string> names = {"build", "Build", "dist", "out", "target", "bin", "obj"};
    return names;
}

}  // namespace

const std::vector<std::pair<std::string, std::string>>& DevelopmentRule::regenerableFolders() {
    static const std::vector<std::pair<std::string, std::string>> rows = {
        {"node_modules", "JavaScript dependencies (node_modules)"},
        {".venv", "Python virtual environment"},
        {"__pycache__", "Python cache"},
        {".build", "Build folder"},
        {"DerivedData", "Build folder"},
        {"Pods", "CocoaPods dependencies"},
        {"Carthage", "Carthage dependencies"},
        {".gradle", "Gradle cache"},
        {".next", "Build folder"},
        {".nuxt", "Build folder"},
        {".dart_tool", "Dart tool folder"},
        {".terraform", "Terraform folder"},
        {".tox", "Python test environments"},
    };
    return rows;
}

std::optional<std::string> DevelopmentRule::regenerableReason(const std::string& name) {
    static const std::unordered_map<std::string, std::string> byName(regenerableFolders().begin(),
                                                                      regenerableFolders().end());
    auto found = byName.find(name);
    if (found == byName.end()) return std::nullopt;
    return found->second;
}

DevelopmentRule::DevelopmentRule(bool chosenByHand, std::optional<std::string> home)
    : chosenByHand_(chosenByHand), home_(std::move(home)) {
    if (home_) {
        auto folders = NeverTouch::standardFolders(*home_);
        standardFolders_.insert(folders.begin(), folders.end());
    }
}

bool DevelopmentRule::hasProjectMarker(const std::string& folder) {
    for (const auto& name : projectFiles()) {
        if (pathExists(PathUtil::join(folder, name))) return true;
    }
    // A folder that can't be listed counts as empty.
    for (const auto& name : folderNames(folder)) {
        if (projectExtensions().count(pathExtension(name)) != 0) return true;
    }
    return false;
}

bool DevelopmentRule::isProject(const std::string& folder) {
    std::string name = PathUtil::name(folder);
    if (name.starts_with(".")) return false;
    if (regenerableReason(name)) return false;
    if (pathExists(PathUtil::join(folder, "pyvenv.cfg"))) return false;
    if (pathExists(PathUtil::join(folder, ".git"))) return true;
    if (hasProjectMarker(folder)) return true;
    for (const auto& dependency : dependencyFolders()) {
        if (pathExists(PathUtil::join(folder, dependency))) return true;
    }
    return false;
}

std::optional<std::string> DevelopmentRule::developmentReason(const std::string& folder) const {
    // The home folder and the folders above it are never development folders, even
    // when the home is a Git checkout of dotfiles.
    if (home_ && PathUtil::isInside(*home_, folder)) return std::nullopt;
    if (pathExists(PathUtil::join(folder, ".git"))) return "Git repository";
    if (chosenByHand_) {
        if (standardFolders_.count(folder) != 0) return std::nullopt;
        if (isProject(folder)) return "Code project";
        return std::nullopt;
    }
    std::string name = PathUtil::name(folder);
    if (auto reason = regenerableReason(name)) return reason;
    if ((name == "venv" || name == "env") && pathExists(PathUtil::join(folder, "pyvenv.cfg"))) {
        return "Python virtual environment";
    }
    if (name.starts_with(".")) return "Hidden folder (app or tool data)";
    if (buildOutputNames().count(name) != 0 && hasProjectMarker(PathUtil::parent(folder))) return "Build folder";
    return std::nullopt;
}

std::optional<std::string> DevelopmentRule::skipReason(const std::string& path, const FileStat& stat, bool) const {
    if (!stat.isDirectory()) return std::nullopt;
    return developmentReason(path);
}

std::optional<std::string> DevelopmentRule::skipReasonForAncestorsOf(const std::string& path) const {
    for (const auto& ancestor : ancestors(path)) {
        if (auto reason = developmentReason(ancestor)) return insideNote(*reason, ancestor);
    }
    return std::nullopt;
}

std::optional<std::string> DevelopmentRule::skipReasonWhole(const std::string& folder, WholeKind kind) const {
    // The emulator keeps its devices under the hidden ~/.android by design.
    if (kind == WholeKind::emulator && AndroidDevices::isDeviceFolder(folder)) return std::nullopt;
    if (auto reason = skipReasonForAncestorsOf(folder)) return reason;
    if (kind == WholeKind::project) return std::nullopt;
    return developmentReason(folder);
}

}  // namespace keldwick
