// File names of the parts of received messages.
#pragma once

#include "mime/Charset.h"

#include <string>
#include <string_view>

namespace tegalo {

// The name the HTML form of a message is offered under, in Shift_JIS.
std::string HtmlFormName();

// A name for an unnamed part of that media type (lower case):
// "message.eml", "image.png", "text.txt", ..., else "part.bin".
std::string NameForType(std::string_view type);

// The name of a part from its raw headers, Shift_JIS: the
// Content-Disposition "filename", else the Content-Type "name" (each in
// RFC 2231 form or plain, encoded words and raw 8-bit text decoded), else a
// "name=" written without its ";" before it. A part without a name is
// named by its type, an HTML part "HTML形式.html"; `htmlForm` (the HTML form
// of the message's text) always gives "HTML形式.html".
std::string PartName(std::string_view rawHeaders, std::string_view type, bool htmlForm, DecodeTally& tally);

} // namespace tegalo
