// HTML mail as readable plain text.
#pragma once

#include <string>
#include <string_view>

namespace tegalo {

// The text of an HTML document (UTF-8 in, UTF-8 out), parsed as a browser
// would (gumbo): scripts, styles and the head left out, entities decoded,
// blanks collapsed outside <pre>, block elements and <br> as line breaks,
// paragraphs and headings followed by an empty line, list items marked
// with "・". Lines end in CR LF; no-break spaces become blanks.
std::string HtmlToText(std::string_view html);

// The charset named by a <meta> in the first kilobytes of an HTML document;
// empty when there is none.
std::string HtmlMetaCharset(std::string_view html);

} // namespace tegalo
