// Tegalo's own small pictures, drawn at run time: folders for the tree,
// letters for the message list, and the toolbar's buttons.
#pragma once

#include <QIcon>

namespace tegalo::icons {

QIcon FolderClosed();
QIcon FolderOpen();

// The four row pictures of the message list.
QIcon LetterUnread();     // single part, unread: a closed letter
QIcon LetterRead();       // single part, read: an open letter
QIcon AttachmentUnread(); // multipart, unread: a paper clip
QIcon AttachmentRead();   // multipart, read: a paper clip with lines

QIcon NewMessage();
QIcon OpenMessage();
QIcon Print();
QIcon SendReceive();
QIcon Stop(); // stops the running session
QIcon About();
QIcon Application();

} // namespace tegalo::icons
