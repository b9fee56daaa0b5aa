#pragma once
// What a launch of the program asks for. File managers start it as
// `keldwick --move PATH...` or `keldwick --move-uris URI...`: every argument after the
// flag is one item, taken verbatim, so names with spaces, quotes, newlines or a leading
// dash arrive whole. Arguments before the flag are the toolkit's own (-platform, ...),
// except --help and --version, which the program answers itself.

#include <QStringList>
#include <string>
#include <vector>

namespace keldwick {

struct Launch {
    enum class Ask { run, help, version };
    Ask ask = Ask::run;                         // help and version print and exit
    std::vector<std::string> toolkitArguments;  // the program's name first
    QStringList moveUris;                       // the items to move, as URIs, in order
};

// `arguments` as main() got them; relative paths are taken from `currentFolder`.
Launch parseLaunch(const std::vector<std::string>& arguments, const std::string& currentFolder);

// What `keldwick --help` prints; `program` is the name it was started as.
std::string usageText(const std::string& program);

// The file URI of a path, byte for byte: every byte but the unreserved ones and "/" is
// percent-encoded, so names that aren't UTF-8 survive too.
QString fileUri(const std::string& path);

}  // namespace keldwick
