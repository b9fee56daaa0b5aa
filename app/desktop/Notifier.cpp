#include "desktop/Notifier.h"

#include "model/MainThread.h"
#include "foundation/Log.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace keldwick {

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");
const QString defaultAction = QStringLiteral("default");

QDBusMessage serverCall(const QString& method) {
    return QDBusMessage::createMethodCall(service, path, interface, method);
}

}  // namespace

const char* Notifier::toString(Target target) {
    // The raw values are literals, so the view is NUL-terminated.
    return keldwick::toString(target).data();
}

std::optional<Notifier::Target> Notifier::parseTarget(std::string_view raw) {
    return parseNoticeTarget(raw);
}

Notifier::Notifier(QDBusConnection bus, QObject* parent) : QObject(parent), bus_(std::move(bus)) {
    assertMainThread();
    // Servers send these signals to every listener; ids of notices not ours are ignored.
    bus_.connect(service, path, interface, QStringLiteral("ActionInvoked"), this,
                 SLOT(actionInvoked(uint, QString)));
    bus_.connect(service, path, interface, QStringLiteral("NotificationClosed"), this,
                 SLOT(notificationClosed(uint, uint)));
}

QString Notifier::bodyText(const std::string& body, bool serverReadsMarkup) {
    QString text = QString::fromStdString(body);
    if (!serverReadsMarkup) {
        return text;
    }
    QString escaped;
    escaped.reserve(text.size());
    for (QChar c : text) {
        if (c == u'&') {
            escaped += QStringLiteral("&amp;");
        } else if (c == u'<') {
            escaped += QStringLiteral("&lt;");
        } else if (c == u'>') {
            escaped += QStringLiteral("&gt;");
        } else {
            escaped += c;
        }
    }
    return escaped;
}

void Notifier::post(const std::string& identifier, const std::string& title, const std::string& body,
                    Target target) {
    assertMainThread();
    if (!isEnabled) {
        return;
    }
    Notice notice{identifier, title, body, target};
    if (!bodyMarkup_) {
        waiting_.push_back(std::move(notice));
        askCapabilities();
        return;
    }
    send(notice);
}

void Notifier::askCapabilities() {
    if (askingCapabilities_) {
        return;
    }
    askingCapabilities_ = true;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(serverCall(QStringLiteral("GetCapabilities"))), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        askingCapabilities_ = false;
        QDBusPendingReply<QStringList> reply = *call;
        if (reply.isError()) {
            // No server now: the posts made meanwhile are dropped, a later post asks again.
            waiting_.clear();
            serverFailed(reply.error().message());
            return;
        }
        bodyMarkup_ = reply.value().contains(QStringLiteral("body-markup"));
        std::deque<Notice> waiting;
        waiting.swap(waiting_);
        for (const Notice& notice : waiting) {
            send(notice);
        }
    });
}

void Notifier::send(const Notice& notice) {
    Shown& shown = shown_[notice.identifier];
    if (shown.sending) {
        // The server's id for the notice being sent is needed to replace it: wait for it.
        shown.next = notice;
        return;
    }
    shown.sending = true;

    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("keldwick"));
    QDBusMessage call = serverCall(QStringLiteral("Notify"));
    call << QStringLiteral("Keldwick") << shown.id << QString() << QString::fromStdString(notice.title)
         << bodyText(notice.body, *bodyMarkup_) << QStringList{defaultAction, QStringLiteral("Open")} << hints
         << int32_t{-1};

    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, identifier = notice.identifier, target = notice.target](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                Shown& shown = shown_[identifier];
                shown.sending = false;
                QDBusPendingReply<uint> reply = *finished;
                if (reply.isError()) {
                    serverFailed(reply.error().message());
                } else {
                    if (shown.id != 0 && shown.id != reply.value()) {
                        targets_.erase(shown.id);
                    }
                    shown.id = reply.value();
                    targets_[shown.id] = target;
                }
                if (shown.next) {
                    Notice next = std::move(*shown.next);
                    shown.next.reset();
                    send(next);
                }
            });
}

void Notifier::serverFailed(const QString& error) {
    if (loggedFailure_) {
        return;
    }
    loggedFailure_ = true;
    Log::notice("notifications", "Notices can't be shown: " + error.toStdString());
}

void Notifier::actionInvoked(uint id, const QString& actionKey) {
    assertMainThread();
    auto found = targets_.find(id);
    if (found == targets_.end() || actionKey != defaultAction) {
        return;
    }
    if (onOpen) {
        onOpen(found->second);
    }
}

void Notifier::notificationClosed(uint id, uint) {
    assertMainThread();
    targets_.erase(id);
    // Forgotten once closed, so notices under fresh identifiers don't pile up here.
    for (auto entry = shown_.begin(); entry != shown_.end();) {
        Shown& shown = entry->second;
        if (shown.id == id) {
            shown.id = 0;
            if (!shown.sending && !shown.next) {
                entry = shown_.erase(entry);
                continue;
            }
        }
        ++entry;
    }
}

}  // namespace keldwick
