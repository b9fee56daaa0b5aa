#pragma once
// The update feed: an RSS 2.0 channel whose items each describe one release, with its
// version in the "version" and "shortVersionString" elements or enclosure attributes
// (any namespace), its archive as the enclosure's "url" and the archive's Ed25519
// signature (Base64) as the enclosure's "edSignature" attribute.

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <optional>
#include <stdexcept>
#include <vector>

namespace keldwick {

struct AppcastItem {
    QString title;
    QString version;         // the build version compared with the program's
    QString displayVersion;  // shown to the user; the build version when the feed gives none
    QUrl link;               // the release's page, when the feed names one
    QUrl archive;            // the enclosure
    QString signature;       // Base64 Ed25519 signature of the archive
    qint64 length = -1;      // the archive's announced size, -1 when not given

    bool operator==(const AppcastItem&) const = default;
};

// A feed that isn't well-formed RSS with items; what() says what is wrong and where.
class AppcastError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

namespace Appcast {

// The items of the feed in feed order. Items without a version or an enclosure URL are
// skipped. Throws AppcastError for a document that isn't well-formed XML or isn't an
// RSS channel.
std::vector<AppcastItem> parse(const QByteArray& feed);

// The item with the highest version above `currentVersion`, if any.
std::optional<AppcastItem> newest(const std::vector<AppcastItem>& items, const QString& currentVersion);

// Orders two version texts: runs of digits compare as numbers, other runs as text, and
// separators ("." "-" "_" "+" " ") only separate, so "1.10" > "1.9" and "1.2" == "1.2.0".
// Negative, zero or positive as a is below, equal to or above b.
int compareVersions(const QString& a, const QString& b);

}  // namespace Appcast

}  // namespace keldwick
