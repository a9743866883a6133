// The main window's size and place, the splitter and the list's column
// widths, kept between runs in "Tegalo/window.ini" of the user's
// configuration directory ($XDG_CONFIG_HOME, else ~/.config). The mailbox
// and its files are never touched.
#pragma once

#include <QString>

class QHeaderView;
class QMainWindow;
class QSplitter;

namespace tegalo {

QString WindowStatePath();

// Puts back what SaveWindowState kept; false (nothing changed) when nothing
// was kept. The column widths are put back only when `header` has the
// list's columns.
bool RestoreWindowState(QMainWindow& window, QSplitter& splitter, QHeaderView* header);

// Keeps the window's state for the next run. `header` may be null (a list
// without columns).
void SaveWindowState(const QMainWindow& window, const QSplitter& splitter, const QHeaderView* header);

} // namespace tegalo
