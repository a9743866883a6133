// Recipient fields read as RFC 5322 address lists: mailboxes ("name
// <address>" or a bare address), groups ("name: a, b;"), quoted display
// names, comments and blanks anywhere between the pieces.
//
// The text is Shift_JIS, as the compose dialog and the folder files hold
// it: a double-byte character counts as one character of a name, so that
// its second byte (which may be "@", "[", "\" ...) never ends or escapes
// anything. Half-width katakana and double-byte characters may stand in a
// display name; an address itself must be ASCII.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tegalo {

struct MailboxAddress {
    std::string name;    // the display name, unquoted and unescaped (Shift_JIS); "" when none
    std::string address; // local-part@domain as it goes into RCPT TO
};

// One element of an address list: a mailbox, or a group of mailboxes.
struct AddressListItem {
    bool group = false;
    std::string groupName;                 // Shift_JIS, for a group
    std::vector<MailboxAddress> mailboxes; // one for a mailbox, any number for a group
};

struct AddressListParse {
    std::vector<AddressListItem> items;
    // Empty when the whole text was read; otherwise the text of the element
    // that could not be read (between its commas), for the user.
    std::string badText;
    bool Ok() const { return badText.empty(); }
};

// Reads `text` as an address list. Empty elements (",,", a comma at the
// end, as Tegalo's own recipient lines may leave) are passed over. A
// mailbox needs a local part, "@" and a domain.
AddressListParse ParseAddressList(std::string_view text);

// Every address of the list in order, group members included.
std::vector<std::string> ListAddresses(const AddressListParse& list);

// The To and Cc texts of a recipient text as the compose path keeps it:
// the To list, then ",", CR LF, "Cc: " and the Cc list when there is one.
struct RecipientTexts {
    std::string to;
    std::string cc;
};
RecipientTexts SplitRecipientText(std::string_view recipients);

} // namespace tegalo
