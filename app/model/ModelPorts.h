#pragma once
// The desktop services the model uses, as interfaces: the program implements them in
// app/desktop (notifications over D-Bus, the drive watcher, the eject guard, dialogs, the
// autostart entry), tests fake them. The Quiet* classes do nothing; a model built without
// a desktop (tests, benchmarks) uses them.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "drives/DiskList.h"
#include "model/Notice.h"

namespace keldwick {

// Posts notices and reports clicks on them.
class NoticePosting {
public:
    virtual ~NoticePosting() = default;

    // What a click opens; unset: a click does nothing.
    std::function<void(NoticeTarget target)> onOpen;
    // Whether notices are shown at all; false drops every post.
    bool isEnabled = true;

    // Shows a notice, replacing the one still shown under `identifier`. Does nothing when
    // not enabled.
    virtual void post(const std::string& identifier, const std::string& title, const std::string& body,
                      NoticeTarget target) = 0;
};

// Posts `notice` unless notices are off; one without a title goes out as "Keldwick".
void postNotice(NoticePosting& notifier, const Notice& notice);

// Reports disks, volumes and the computer waking. Callbacks come on the main thread.
class DriveEvents {
public:
    virtual ~DriveEvents() = default;

    std::function<void()> onVolumesChanged;
    std::function<void()> onWake;
    // A disk appeared or changed (with its volume) or went away (no volume), by kernel name.
    std::function<void(const std::string& kernelName, const std::optional<DiskVolume>& volume)> onDiskChanged;

    // Starts reporting; later calls do nothing.
    virtual void start() = 0;
};

// Keeps the drive mounted while files are copied to or from it.
class EjectGuarding {
public:
    virtual ~EjectGuarding() = default;

    // True when an unmount of the volume at the path must be refused.
    std::function<bool(const std::string& volumePath)> shouldRefuse;
    // Shows the busy notice.
    std::function<void(const std::string& text)> postNotice;

    virtual void start() = 0;
    // Holds the volume mounted at `path` until released; false when it can't be held.
    virtual bool holdVolume(const std::string& path) = 0;
    virtual void releaseVolume() = 0;
};

// The open panel.
struct PickRequest {
    bool folders = true;
    bool files = false;
    bool multiple = true;
    std::string startIn;         // folder shown first
    std::string button;          // the accept button's title; empty: the toolkit's own
    std::string message;         // shown above the list; may be empty
    bool hiddenFilesToggle = false;
    std::string title;           // the window's title; empty: the toolkit's own
};

class FilePicker {
public:
    virtual ~FilePicker() = default;
    // Runs the panel modally: the chosen paths in the panel's order, none when cancelled.
    virtual std::optional<std::vector<std::string>> pick(const PickRequest& request) = 0;
};

class AlertPresenter {
public:
    virtual ~AlertPresenter() = default;
    // Shows a modal alert with a message and an informative text, and returns once it is
    // dismissed.
    virtual void present(const std::string& message, const std::string& informative) = 0;
};

class LoginItem {
public:
    virtual ~LoginItem() = default;
    // Starts the program at login, or stops doing so. Throws the system's error.
    virtual void set(bool on) = 0;
};

// The user's small preferences outside settings.json ("firstRunDeclinedAt").
class Preferences {
public:
    virtual ~Preferences() = default;
    virtual std::optional<std::string> value(const std::string& key) const = 0;
    // None removes the key.
    virtual void setValue(const std::string& key, const std::optional<std::string>& value) = 0;
    // Their file was damaged and set aside at the start: the user hears of it.
    virtual bool wasSetAside() const { return false; }
};

class QuietNotices final : public NoticePosting {
public:
    void post(const std::string&, const std::string&, const std::string&, NoticeTarget) override {}
};

class QuietDriveEvents final : public DriveEvents {
public:
    void start() override {}
};

class QuietEjectGuard final : public EjectGuarding {
public:
    void start() override {}
    bool holdVolume(const std::string&) override { return false; }
    void releaseVolume() override {}
};

// Every panel is cancelled.
class NoFilePicker final : public FilePicker {
public:
    std::optional<std::vector<std::string>> pick(const PickRequest&) override { return std::nullopt; }
};

// Writes the alert to the log: there is no one to show it to.
class LoggedAlerts final : public AlertPresenter {
public:
    void present(const std::string& message, const std::string& informative) override;
};

class NoLoginItem final : public LoginItem {
public:
    void set(bool) override {}
};

// Kept in memory for one run.
class MemoryPreferences final : public Preferences {
public:
    std::optional<std::string> value(const std::string& key) const override;
    void setValue(const std::string& key, const std::optional<std::string>& value) override;

private:
    std::vector<std::pair<std::string, std::string>> values_;
};

// The toolkit's settings file "Keldwick.conf" in the program's configuration folder
// (~/.config/Keldwick unless $XDG_CONFIG_HOME says otherwise), the one the updater keeps
// its switches in. It is opened only while it is a regular file (or a link to one) of
// a sane size: anything else would hang the toolkit's read for good. Meanwhile the values
// live in memory for the run.
class StoredPreferences final : public Preferences {
public:
    // `setAside`: the start found the file damaged and moved it aside.
    explicit StoredPreferences(std::string path = defaultPath(), bool setAside = false);
    static std::string defaultPath();

    std::optional<std::string> value(const std::string& key) const override;
    void setValue(const std::string& key, const std::optional<std::string>& value) override;
    bool wasSetAside() const override { return setAside_; }

private:
    bool canOpen() const;

    std::string path_;
    bool setAside_ = false;
    MemoryPreferences unsaved_;
};

}  // namespace keldwick
