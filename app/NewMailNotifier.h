// Tells the user of new mail that arrived while the main window was in the
// background or minimised: a message of the system tray when there is one,
// else one of the desktop's notification service, else the window asks for
// attention (taskbar). Nothing while the window is in front, or when the
// user turned it off in the settings dialog.
#pragma once

#include <QObject>
#include <QString>

class QSystemTrayIcon;
class QWidget;

namespace tegalo {

class NewMailNotifier : public QObject {
    Q_OBJECT
public:
    enum class Channel { None, Tray, DesktopService, WindowAlert };

    explicit NewMailNotifier(QWidget* window);
    ~NewMailNotifier() override;

    // `count` new messages were stored. Returns how the user was told.
    Channel Notify(int count);
    Channel LastChannel() const { return last_; }
    // "3 通の新着メッセージがあります"
    static QString Text(int count);

private:
    bool WindowInFront() const;
    bool NotifyDesktopService(const QString& text);

    QWidget* window_;
    QSystemTrayIcon* tray_ = nullptr;
    Channel last_ = Channel::None;
};

} // namespace tegalo
