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
// - "base64": line by line (CR LF), up to the first line that is empty or
//   holds anything but base64 characters, so that what stands after the
//   content in older records (a delimiter line) adds nothing;
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
// new temporary file renamed over the old one, so that a symbolic link
// planted under that name is replaced, never followed. The file is readable
// and writable by the user only and never executable. Returns the full path,
// or an empty string with *error set.
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
