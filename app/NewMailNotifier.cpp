#include "app/NewMailNotifier.h"

#include "config/qt/Preferences.h"
#include "gui/Icons.h"

#include <QApplication>
#include <QSystemTrayIcon>
#include <QWidget>

#ifdef TEGALO_HAVE_DBUS
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QVariantMap>
#endif

namespace tegalo {

namespace {

const QString kTitle = QStringLiteral("Tegalo");

} // namespace

NewMailNotifier::NewMailNotifier(QWidget* window) : QObject(window), window_(window) {}

NewMailNotifier::~NewMailNotifier() = default;

QString NewMailNotifier::Text(int count) {
    return QStringLiteral("%1 通の新着メッセージがあります").arg(count);
}

bool NewMailNotifier::WindowInFront() const {
    return window_->isVisible() && !window_->isMinimized() && window_->isActiveWindow();
}

NewMailNotifier::Channel NewMailNotifier::Notify(int count) {
    last_ = Channel::None;
    if (count <= 0 || WindowInFront() || !preferences::NotifyNewMail()) {
        return last_;
    }
    const QString text = Text(count);
    if (QSystemTrayIcon::isSystemTrayAvailable() && QSystemTrayIcon::supportsMessages()) {
        if (!tray_) {
            tray_ = new QSystemTrayIcon(icons::Application(), this);
            tray_->setToolTip(kTitle);
            connect(tray_, &QSystemTrayIcon::messageClicked, window_, [this] {
                window_->showNormal();
                window_->raise();
                window_->activateWindow();
            });
        }
        tray_->show();
        tray_->showMessage(kTitle, text, icons::Application());
        last_ = Channel::Tray;
    } else if (NotifyDesktopService(text)) {
        last_ = Channel::DesktopService;
    } else {
        QApplication::alert(window_);
        last_ = Channel::WindowAlert;
    }
    return last_;
}

bool NewMailNotifier::NotifyDesktopService(const QString& text) {
#ifdef TEGALO_HAVE_DBUS
    static const QString kService = QStringLiteral("org.freedesktop.Notifications");
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(kService).value()) {
        return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kService, QStringLiteral("/org/freedesktop/Notifications"),
                                                       kService, QStringLiteral("Notify"));
    call << kTitle << 0u << QStringLiteral("mail-unread") << kTitle << text << QStringList() << QVariantMap()
         << -1;
    // The answer (the notification's id) is not needed: nothing waits for it.
    return bus.send(call);
#else
    static_cast<void>(text);
    return false;
#endif
}

} // namespace tegalo
