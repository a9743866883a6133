// The program's own preferences, kept per user with Qt's settings (not in
// the mailbox's settings file, whose twelve lines other programs read too):
// they say how this desktop behaves, not how the account works.
#pragma once

namespace tegalo::preferences {

// New mail while the window is in the background gives a desktop
// notification. On unless the user turned it off.
bool NotifyNewMail();
void SetNotifyNewMail(bool on);

} // namespace tegalo::preferences
