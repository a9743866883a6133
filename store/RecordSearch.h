// Finding messages in a folder: the folded text a filter searches (subject,
// sender and text of a record), the matcher that looks for a typed text in
// it, and the keys the list sorts its columns by. Pure functions over
// Shift_JIS bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tegalo {

class RecordList;

// Appends `sjis` to `out` folded for searching: ASCII letters in lower case;
// the full-width forms of ASCII characters (Ａ, ｂ, ３, ＠, ...) and the
// ideographic space as their ASCII characters; half-width katakana as
// full-width katakana, a following voiced or semi-voiced mark joined to it
// (ｶﾞ as ガ). Everything else is copied as it is. Line ends are kept.
void AppendFolded(std::string_view sjis, std::string& out);
std::string Folded(std::string_view sjis);

// The folded text the filter searches in a whole record: subject, sender and
// the message text (for a multipart record the text part without its part
// header; attachments and the header block are not searched), each followed
// by a line feed so that no match runs from one into the next. Empty for a
// record that cannot be cut into its pieces.
std::string RecordSearchText(std::string_view record);

// Looks for one typed text in folded texts, or in records as they are.
class TextMatcher {
public:
    // `sjisQuery` as typed; line ends in it are dropped.
    explicit TextMatcher(std::string_view sjisQuery);
    ~TextMatcher();
    TextMatcher(TextMatcher&&) noexcept;
    TextMatcher& operator=(TextMatcher&&) noexcept;

    // True when nothing was typed: everything matches.
    bool Empty() const { return query_.empty(); }
    const std::string& FoldedQuery() const { return query_; }

    // True when `foldedText` holds the query starting on a character
    // boundary (a match that begins on the second byte of a double-byte
    // character does not count).
    bool FoundIn(std::string_view foldedText) const;
    // The position of the first such match at or after `from`, or npos.
    std::size_t Find(std::string_view foldedText, std::size_t from = 0) const;

    // True when the search text of the whole `record` (see RecordSearchText)
    // holds the query, found without folding the record: the raw text is
    // scanned for the forms of the query's rarest character, and only the
    // few places found are folded and compared.
    bool FoundInRecord(std::string_view record) const;

private:
    struct RawPlan;
    bool FoundInPiece(std::string_view sjis) const;

    std::string query_;
    std::unique_ptr<const RawPlan> plan_; // null: fold each record whole instead
};

// The records of one folder that hold a typed text, and the folded subject
// and sender lines the list sorts by, made when a sort first needs them and
// kept while the records stay. The owner says when records change.
class FolderSearch {
public:
    // Forgets every line (the list was read anew or changed unseen).
    void Reset();
    // Record `index` left the list; the lines after it move up.
    void Erase(int index);

    // The indexes (ascending, from `first` on) of the records of `list`
    // whose search text holds the query.
    std::vector<int> Matching(const RecordList& list, const TextMatcher& matcher, int first = 0);

    // The folded subject (line 0) or sender (line 1) of record `index`.
    std::string_view FoldedLine(const RecordList& list, int index, int line);

private:
    void Complete(const RecordList& list);
    void Append(std::string_view record);
    std::string_view TextOf(std::size_t index) const;

    // The lines of all records one after another in one buffer, and where
    // each record's lines end.
    std::unique_ptr<char[]> text_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    std::vector<std::size_t> ends_;
};

// The key the date column sorts by: seconds since 1970 in UTC for a date as
// received ("Mon, 07 Dec 2026 10:00:00 +0900", day and month in either order,
// weekday, seconds and zone optional) or as Tegalo stores its own ("Mon, Dec
// 07, 2026"). Nullopt for a text without a day, a month name and a year.
std::optional<std::int64_t> DateSortKey(std::string_view date);

} // namespace tegalo
