#pragma once
// The program's notices, shown by the desktop's notification server
// (org.freedesktop.Notifications on the session bus).
//
// A notice is posted under an identifier. A notice posted under the identifier of one
// still shown replaces it, so each fixed identifier ("drive-full", "ask-first", ...) is
// shown at most once at a time; notices under fresh UUIDs accumulate. A click on a
// notice (its "default" action) calls `onOpen` with the notice's target.
//
// Without a notification server every post is a quiet no-op; the first failure is
// logged once. Nothing ever blocks: the server is asked asynchronously.

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "model/ModelPorts.h"
#include "model/Notice.h"

namespace keldwick {

class Notifier final : public QObject, public NoticePosting {
    Q_OBJECT

public:
    // What a click on a notice opens (the model's notices name it).
    using Target = NoticeTarget;
    static const char* toString(Target target);
    // The target of a raw value; any other text gives none.
    static std::optional<Target> parseTarget(std::string_view raw);

    // Uses the notification server on `bus` (the session bus in the program, a private
    // one in tests). Main thread only.
    explicit Notifier(QDBusConnection bus, QObject* parent = nullptr);

    // onOpen: what a click opens; none until the model sets it, and a click then does
    // nothing. isEnabled: false drops every post (nothing is held back).

    // Shows a notice with a plain-text title and body, replacing the one still shown
    // under `identifier`. Does nothing when `isEnabled` is false. Main thread only.
    void post(const std::string& identifier, const std::string& title, const std::string& body,
              Target target) override;

    // The body as the server should receive it: markup characters escaped when the server
    // reads the body as markup, so a file name such as "<b>&x" shows as typed.
    static QString bodyText(const std::string& body, bool serverReadsMarkup);

private slots:
    void actionInvoked(uint id, const QString& actionKey);
    void notificationClosed(uint id, uint reason);

private:
    struct Notice {
        std::string identifier, title, body;
        Target target;
    };
    // The server's notice shown under one identifier.
    struct Shown {
        uint id = 0;            // 0 while none is shown
        bool sending = false;   // a Notify call is out; a newer post waits in `next`
        std::optional<Notice> next;
    };

    void askCapabilities();
    void send(const Notice& notice);
    void serverFailed(const QString& error);

    QDBusConnection bus_;
    std::optional<bool> bodyMarkup_;  // none until the server told its capabilities
    bool askingCapabilities_ = false;
    bool loggedFailure_ = false;
    std::deque<Notice> waiting_;      // posts made before the capabilities arrived
    std::map<std::string, Shown> shown_;
    std::map<uint, Target> targets_;  // by the server's notice id
};

}  // namespace keldwick
