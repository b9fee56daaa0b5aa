#pragma once
// The program's name on the session bus. The first instance owns it and answers
// ShowPanel; a later launch finds the name taken, asks the owner to show its panel and
// ends, so launching the program again brings the running one forward. File managers'
// "Move to Keldwick Drive" calls MoveToDrive with the chosen items' file URIs.

#include <QDBusConnection>
#include <QObject>
#include <functional>
#include <string>
#include <vector>

namespace keldwick {

class InstanceBus final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.orvandel.Keldwick")

public:
    static constexpr const char* serviceName = "com.orvandel.Keldwick";
    static constexpr const char* objectPath = "/com/orvandel/Keldwick";

    enum class Claim {
        owner,   // this process owns the name and answers for the program
        taken,   // another instance owns it: hand over to it
        noBus,   // no session bus: the single-instance lock alone decides
    };

    explicit InstanceBus(QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);

    // Tries to own the name (never queueing for it).
    Claim claim();
    // Asks the owner to move `moveUris` or, with none, to show its panel; `done` gets
    // whether it answered. Never waits: the answer arrives on the event loop.
    void handOver(const QStringList& moveUris, std::function<void(bool answered)> done);

    // The local paths of the file URIs, in order, byte for byte as percent-encoded; other
    // URIs (network, trash, ...) are left out, since only items on this computer can move.
    static std::vector<std::string> localPaths(const QStringList& uris);

public slots:
    Q_SCRIPTABLE void ShowPanel();
    // Nothing happens when no URI names a local item.
    Q_SCRIPTABLE void MoveToDrive(const QStringList& uris);

signals:
    void showPanelRequested();
    void moveRequested(const std::vector<std::string>& paths);

private:
    QDBusConnection bus_;
};

}  // namespace keldwick
