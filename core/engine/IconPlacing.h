#pragma once
// Keeps a moved item's desktop icon where the user put it: its place is read before the
// item is replaced by a link and put back afterwards.

#include <optional>
#include <string>

namespace keldwick {

struct IconPlace {
    double x = 0;
    double y = 0;

    bool operator==(const IconPlace&) const = default;
};

class IconPlacing {
public:
    virtual ~IconPlacing() = default;
    // The icon's current place, or none when it has none or it can't be read.
    virtual std::optional<IconPlace> place(const std::string& path) = 0;
    // Puts the icon of the item at `path` back at `place`.
    virtual void restore(const IconPlace& place, const std::string& path) = 0;
};

// For callers without a desktop: no places, nothing restored.
class NoIconPlacing final : public IconPlacing {
public:
    std::optional<IconPlace> place(const std::string&) override { return std::nullopt; }
    void restore(const IconPlace&, const std::string&) override {}
};

}  // namespace keldwick
