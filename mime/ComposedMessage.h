// The pieces of a composed message that the compose path builds before it
// hands the message to the store or the send session. Texts are Shift_JIS.
#pragma once

#include "mime/RecordLayout.h"

#include <string>
#include <string_view>

namespace tegalo {

// The recipient text: the To list, and when a Cc list is given, ",", CR LF,
// "Cc: " and the Cc list, so that the Cc header follows on its own line.
std::string ComposedRecipients(std::string_view to, std::string_view cc);

// The header block a composed message is kept with in the waiting folder:
// Subject (encoded words), From, To (the recipient text), Date, the MIME
// version, the content type of a plain or a multipart message, an empty line.
std::string ComposedHeaderBlock(std::string_view subject, std::string_view mailAccount,
                                std::string_view recipients, std::string_view date, bool multipart);

// The sizes the store needs from the caller (entries 1, 2, 3 and 6; the
// store completes the others) for the record text that ComposedHeaderText
// gives.
PartSizes ComposedSizes(std::string_view subject, std::string_view mailAccount, std::string_view date,
                        std::string_view headerBlock);

// The record text up to the parts: subject, From value, date, header block.
std::string ComposedHeaderText(std::string_view subject, std::string_view mailAccount, std::string_view date,
                               std::string_view headerBlock);

// The typed text with every line end as CR LF (an edit control gives LF).
std::string WithCrLf(std::string_view text);

} // namespace tegalo
