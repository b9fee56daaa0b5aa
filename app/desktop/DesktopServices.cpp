#include "desktop/DesktopServices.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDesktopServices>
#include <QUrl>
#include <QFileDialog>
#include <QMessageBox>
#include <QWidget>

#include "desktop/DriveWatcher.h"
#include "desktop/EjectGuard.h"
#include "desktop/FinderIconPlacing.h"
#include "desktop/HiddenFilesToggle.h"
#include "desktop/LoginItem.h"
#include "desktop/Notifier.h"
#include "model/MainThread.h"

namespace keldwick {

std::optional<std::vector<std::string>> DialogFilePicker::pick(const PickRequest& request) {
    assertMainThread();
    QFileDialog panel(nullptr, QString(), QString::fromStdString(request.startIn));
    panel.setOption(QFileDialog::DontUseNativeDialog, true);
    if (request.folders && !request.files) {
        panel.setFileMode(QFileDialog::Directory);
        panel.setOption(QFileDialog::ShowDirsOnly, true);
    } else {
        panel.setFileMode(request.multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    }
    if (!request.button.empty()) panel.setLabelText(QFileDialog::Accept, QString::fromStdString(request.button));
    if (!request.message.empty()) panel.setWindowTitle(QString::fromStdString(request.message));
    if (request.hiddenFilesToggle) new HiddenFilesToggle(&panel);
    if (panel.exec() != QDialog::Accepted) return std::nullopt;
    std::vector<std::string> paths;
    for (const QString& file : panel.selectedFiles()) paths.push_back(file.toStdString());
    if (!request.multiple && paths.size() > 1) paths.resize(1);
    return paths;
}

void MessageAlerts::present(const std::string& message, const std::string& informative) {
    assertMainThread();
    QMessageBox alert;
    alert.setTextFormat(Qt::PlainText);
    alert.setText(QString::fromStdString(message));
    alert.setInformativeText(QString::fromStdString(informative));
    alert.activateWindow();
    alert.exec();
}

void AutostartLoginItem::set(bool on) { setLoginItem(on); }

AppServices desktopServices() {
    AppServices services;
    services.notifier = std::make_shared<Notifier>(QDBusConnection::sessionBus());
    services.watcher = std::make_shared<DriveWatcher>(DriveWatcher::Options{});
    services.ejectGuard = std::make_shared<EjectGuard>(EjectGuard::Options{});
    services.filePicker = std::make_shared<DialogFilePicker>();
    services.alerts = std::make_shared<MessageAlerts>();
    services.loginItem = std::make_shared<AutostartLoginItem>();
    services.openURL = [](const std::string& url) {
        return QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
    };
    services.facts.iconPlacing = [](const std::string& desktop) -> std::shared_ptr<IconPlacing> {
        return std::make_shared<FinderIconPlacing>(desktop);
    };
    return services;
}

}  // namespace keldwick
