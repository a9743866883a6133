// Decoded copies of stored attachments, written to a private directory of
// the user's so that the desktop can open them.
#pragma once

#include "mime/RecordLayout.h"

#include <string>
#include <string_view>

namespace tegalo {

// The directory for attachment copies: $XDG_RUNTIME_DIR/tegalo when that is
// set, else <TMPDIR or /tmp>/tegalo-<uid>. It is created with mode 0700 when
// missing; an existing one must be a real directory owned by the user and
// closed to others. On failure returns an empty string and sets *error to a
// description (not shown to the user as is).
std::string AttachmentDirectory(std::string* error = nullptr);

// The decoded bytes of an attachment as stored (still in its transfer
// encoding):
// - "base64": characters outside the base64 alphabet are left out (blanks
//   at line ends, stray bytes); the data ends with the content, after a
//   group padded with "=", or at a delimiter line ("--..."), so that what
//   stands after the content in older records adds nothing;
// - "x-uuencode" (and its other names): the lines after "begin" up to "end";
// - "quoted-pr": quoted-printable decoded, then written line by line;
// - anything else: as stored.
// Text lines, the last one too, come out ending in CR LF. The delimiter line
// that closes the attachments of composed messages is not part of the file.
std::string DecodeAttachment(std::string_view content, std::string_view encoding);

// A name from a received message (Shift_JIS) made safe as one file name of
// the file system (UTF-8): no "/" or "\", no control bytes, not "." or "..",
// not empty, at most 255 bytes with the extension kept.
std::string SafeAttachmentName(std::string_view sjisName);

// Writes `bytes` as the file `name` (already safe) in `directory`, through a
// new temporary file linked under its name. Nothing standing there is
// replaced or followed: a file with other bytes (another attachment of the
// same name) or a link makes the copy "name (2).ext", "name (3).ext" and so
// on, while a plain file with the same bytes (the attachment opened again)
// is used as it is. The file is readable and writable by the user only and
// never executable. Returns the full path, or an empty string with *error set.
std::string WriteAttachmentCopy(const std::string& directory, const std::string& name, std::string_view bytes,
                                std::string* error = nullptr);

// True when `path` names a file directly inside `directory` (no "..", no
// link games in the name): the only files the program may delete there.
bool IsAttachmentCopyPath(std::string_view path, std::string_view directory);

// True for names whose type can run code when the desktop opens them
// (scripts, .desktop files, executables, installers); the program asks the
// user before it opens such a file.
bool MayRunCode(std::string_view utf8Name);

} // namespace tegalo
