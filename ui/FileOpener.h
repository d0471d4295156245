// Files handed to the main window from outside it: the program's command line (and so the
// desktop's "Open with"), and files dropped on the window beside its lists and waveform. One
// file that can be opened goes to the cut page; several go to the convert page's list. The
// files that cannot be opened are named in one prompt that says why, and the others are
// opened all the same. Window thread only.
#pragma once

#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

namespace tw {

class CMainWnd;

enum class OpenRefusal { None, Missing, Folder, Unreadable, NotMedia };
using OpenRefusals = std::vector<std::pair<QString, OpenRefusal>>;  // path, reason

// The checks that need no probe of the content: the file exists, is not a folder, can be read.
OpenRefusal CheckOpenable(const QString& path);

// The prompt's text: each refused file by its name with its reason, in the order given; ""
// when nothing was refused.
QString RefusalText(const OpenRefusals& refused);

// Opens absolute paths in the window as described above. Returns at once: the files open from
// the event loop, so a caller inside an event handler or before the loop runs is safe.
void OpenFilesInWindow(CMainWnd& window, const QStringList& paths);

// Makes the window open the local files dropped on it where no list or waveform takes them.
void AcceptFilesDroppedOnWindow(CMainWnd& window);

}  // namespace tw
