#include "mime/AddressList.h"

#include <optional>

namespace tegalo {

namespace {

bool IsLead(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// atext of RFC 5322, plus every byte from 0x80 (Shift_JIS in names).
bool IsAtext(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x80) {
        return true;
    }
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    return std::string_view("!#$%&'*+-/=?^_`{|}~").find(c) != std::string_view::npos;
}

class Parser {
public:
    explicit Parser(std::string_view text) : s_(text) {}

    AddressListParse Run() {
        AddressListParse result;
        for (;;) {
            SkipCfws();
            if (AtEnd()) {
                break;
            }
            if (s_[i_] == ',') {
                ++i_;
                continue;
            }
            const std::size_t start = i_;
            std::optional<AddressListItem> item = Address();
            SkipCfws();
            if (!item || (!AtEnd() && s_[i_] != ',')) {
                result.badText = ElementText(start);
                result.items.clear();
                return result;
            }
            result.items.push_back(std::move(*item));
        }
        return result;
    }

private:
    bool AtEnd() const { return i_ >= s_.size(); }

    // One character's length at `at`: two for a Shift_JIS double-byte one.
    std::size_t CharLength(std::size_t at) const {
        return IsLead(static_cast<unsigned char>(s_[at])) && at + 1 < s_.size() ? 2 : 1;
    }

    // The text of the element that starts at `start`, up to the next comma
    // outside quotes, comments and brackets, without the blanks around it.
    std::string ElementText(std::size_t start) const {
        std::size_t j = start;
        int depth = 0;
        bool quoted = false;
        bool angle = false;
        while (j < s_.size()) {
            const char c = s_[j];
            if (quoted) {
                if (c == '\\') {
                    ++j;
                } else if (c == '"') {
                    quoted = false;
                }
            } else if (depth > 0) {
                if (c == '\\') {
                    ++j;
                } else if (c == '(') {
                    ++depth;
                } else if (c == ')') {
                    --depth;
                }
            } else if (c == '"') {
                quoted = true;
            } else if (c == '(') {
                depth = 1;
            } else if (c == '<') {
                angle = true;
            } else if (c == '>') {
                angle = false;
            } else if (c == ',' && !angle) {
                break;
            }
            j += j < s_.size() ? CharLength(j) : 1;
        }
        std::string_view text = s_.substr(start, std::min(j, s_.size()) - start);
        while (!text.empty() && IsBlank(text.back())) {
            text.remove_suffix(1);
        }
        return std::string(text);
    }

    // Blanks, line breaks and comments (nested, with quoted pairs).
    void SkipCfws() {
        while (!AtEnd()) {
            if (IsBlank(s_[i_])) {
                ++i_;
            } else if (s_[i_] == '(') {
                if (!Comment()) {
                    return;
                }
            } else {
                return;
            }
        }
    }

    bool Comment() {
        const std::size_t start = i_;
        int depth = 0;
        while (!AtEnd()) {
            const char c = s_[i_];
            if (c == '\\') {
                i_ += 1 + (i_ + 1 < s_.size() ? CharLength(i_ + 1) : 0);
                continue;
            }
            if (c == '(') {
                ++depth;
            } else if (c == ')' && --depth == 0) {
                ++i_;
                return true;
            }
            i_ += CharLength(i_);
        }
        i_ = start; // unclosed: not a comment, and the element fails
        return false;
    }

    // A run of atext (and, in a display name, "."), double-byte characters whole.
    std::string Atom(bool dots) {
        std::string atom;
        while (!AtEnd() && (IsAtext(s_[i_]) || (dots && s_[i_] == '.'))) {
            const std::size_t n = CharLength(i_);
            atom.append(s_.substr(i_, n));
            i_ += n;
        }
        return atom;
    }

    // A quoted string from its opening quote; the content without quotes and
    // escapes. nullopt when it is not closed.
    std::optional<std::string> Quoted() {
        std::string text;
        ++i_;
        while (!AtEnd()) {
            const char c = s_[i_];
            if (c == '"') {
                ++i_;
                return text;
            }
            if (c == '\\' && i_ + 1 < s_.size()) {
                ++i_;
            }
            const std::size_t n = CharLength(i_);
            text.append(s_.substr(i_, n));
            i_ += n;
        }
        return std::nullopt;
    }

    // The words of a display name, joined by single blanks. Stops before the
    // first character that is not part of a phrase.
    std::optional<std::string> Phrase() {
        std::string phrase;
        for (;;) {
            SkipCfws();
            if (AtEnd()) {
                return phrase;
            }
            std::string word;
            if (s_[i_] == '"') {
                std::optional<std::string> q = Quoted();
                if (!q) {
                    return std::nullopt;
                }
                word = std::move(*q);
            } else if (IsAtext(s_[i_]) || s_[i_] == '.') {
                word = Atom(true);
            } else {
                return phrase;
            }
            if (!phrase.empty()) {
                phrase.push_back(' ');
            }
            phrase.append(word);
        }
    }

    // local-part "@" domain, blanks and comments allowed around the pieces.
    std::optional<std::string> AddrSpec() {
        std::string local;
        for (;;) {
            SkipCfws();
            if (AtEnd()) {
                return std::nullopt;
            }
            if (s_[i_] == '"') {
                const std::size_t start = i_;
                if (!Quoted()) {
                    return std::nullopt;
                }
                local.append(s_.substr(start, i_ - start));
            } else {
                std::string atom = Atom(false);
                if (atom.empty()) {
                    return std::nullopt;
                }
                local.append(atom);
            }
            SkipCfws();
            if (!AtEnd() && s_[i_] == '.') {
                local.push_back('.');
                ++i_;
                continue;
            }
            break;
        }
        if (AtEnd() || s_[i_] != '@') {
            return std::nullopt;
        }
        ++i_;
        SkipCfws();
        std::string domain;
        if (!AtEnd() && s_[i_] == '[') {
            const std::size_t close = s_.find(']', i_);
            if (close == std::string_view::npos) {
                return std::nullopt;
            }
            domain.assign(s_.substr(i_, close + 1 - i_));
            i_ = close + 1;
        } else {
            for (;;) {
                std::string atom = Atom(false);
                if (atom.empty()) {
                    return std::nullopt;
                }
                domain.append(atom);
                SkipCfws();
                if (!AtEnd() && s_[i_] == '.') {
                    domain.push_back('.');
                    ++i_;
                    SkipCfws();
                    continue;
                }
                break;
            }
        }
        std::string address = local + "@" + domain;
        for (const char c : address) {
            const auto u = static_cast<unsigned char>(c);
            if (u >= 0x80 || u < 0x20 || u == 0x7F) {
                return std::nullopt; // an address goes out as ASCII
            }
        }
        return address;
    }

    // "<" addr-spec ">", the position at the "<". An old source route
    // ("<@relay,@relay:a@b>") is read and dropped.
    std::optional<std::string> AngleAddr() {
        ++i_;
        SkipCfws();
        if (!AtEnd() && s_[i_] == '@') {
            const std::size_t colon = s_.find(':', i_);
            if (colon == std::string_view::npos) {
                return std::nullopt;
            }
            i_ = colon + 1;
        }
        std::optional<std::string> address = AddrSpec();
        SkipCfws();
        if (!address || AtEnd() || s_[i_] != '>') {
            return std::nullopt;
        }
        ++i_;
        return address;
    }

    std::optional<MailboxAddress> Mailbox() {
        SkipCfws();
        const std::size_t start = i_;
        std::optional<std::string> phrase = Phrase();
        if (phrase && !AtEnd() && s_[i_] == '<') {
            std::optional<std::string> address = AngleAddr();
            if (!address) {
                return std::nullopt;
            }
            return MailboxAddress{std::move(*phrase), std::move(*address)};
        }
        i_ = start;
        std::optional<std::string> address = AddrSpec();
        if (!address) {
            return std::nullopt;
        }
        return MailboxAddress{{}, std::move(*address)};
    }

    std::optional<AddressListItem> Address() {
        const std::size_t start = i_;
        std::optional<std::string> phrase = Phrase();
        if (phrase && !phrase->empty() && !AtEnd() && s_[i_] == ':') {
            ++i_;
            AddressListItem group;
            group.group = true;
            group.groupName = std::move(*phrase);
            for (;;) {
                SkipCfws();
                if (AtEnd()) {
                    return std::nullopt; // a group ends with ";"
                }
                if (s_[i_] == ';') {
                    ++i_;
                    return group;
                }
                if (s_[i_] == ',') {
                    ++i_;
                    continue;
                }
                std::optional<MailboxAddress> member = Mailbox();
                if (!member) {
                    return std::nullopt;
                }
                group.mailboxes.push_back(std::move(*member));
                SkipCfws();
                if (!AtEnd() && s_[i_] != ',' && s_[i_] != ';') {
                    return std::nullopt;
                }
            }
        }
        i_ = start;
        std::optional<MailboxAddress> mailbox = Mailbox();
        if (!mailbox) {
            return std::nullopt;
        }
        AddressListItem item;
        item.mailboxes.push_back(std::move(*mailbox));
        return item;
    }

    std::string_view s_;
    std::size_t i_ = 0;
};

} // namespace

AddressListParse ParseAddressList(std::string_view text) {
    return Parser(text).Run();
}

std::vector<std::string> ListAddresses(const AddressListParse& list) {
    std::vector<std::string> addresses;
    for (const AddressListItem& item : list.items) {
        for (const MailboxAddress& mailbox : item.mailboxes) {
            addresses.push_back(mailbox.address);
        }
    }
    return addresses;
}

RecipientTexts SplitRecipientText(std::string_view recipients) {
    constexpr std::string_view kCcBreak = "\r\nCc: ";
    RecipientTexts texts;
    const std::size_t at = recipients.find(kCcBreak);
    std::string_view to = recipients.substr(0, at);
    if (at != std::string_view::npos) {
        texts.cc.assign(recipients.substr(at + kCcBreak.size()));
        // The comma that ends the To line before the Cc line is no recipient.
        while (!to.empty() && (IsBlank(to.back()) || to.back() == ',')) {
            to.remove_suffix(1);
        }
    }
    texts.to.assign(to);
    return texts;
}

} // namespace tegalo
