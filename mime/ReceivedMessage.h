// A received message cut into the pieces of a received-folder record.
#pragma once

#include "mime/RecordLayout.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tegalo {

// The pieces of a received message, all Shift_JIS.
struct ReceivedMessage {
    std::string subject;     // after "Subject:", unfolded, leading blank kept
    std::string from;        // after "From:" to the line end, leading blank kept
    std::string date;        // after "Date:" to the line end, leading blank kept
    std::string header;      // the header block without its last line end
    std::string contentType; // the Content-Type field's value as found (undecoded)
    std::string boundary;    // the multipart boundary used, empty for a single part
    // Single part: the text after the blank line. Multipart: the text part's
    // record (part header with blank name and encoding, then the text).
    std::string body;
    std::vector<std::string> attachments; // attachment part records, at most three
    int partCount = 0;     // part records in the record (text part included), 0 for a single part

    // What did not make it into the record whole:
    int partsLeftOut = 0;  // leaves of the MIME tree that found no slot
    bool nulRemoved = false; // NUL bytes were taken out (a record holds none)
    bool jisError = false; // some ISO-2022-JP text was malformed (a run left open)
    int replaced = 0;      // characters shown as 〓: no Shift_JIS form, or not valid in their charset

    // Entry 5 (the read mark) is 0.
    PartSizes Sizes() const;
    // subject + from + date + header + body + attachments, without separators.
    std::string RecordText() const;
    // True when every size fits its six-character field.
    bool FitsRecord() const;
    // Leaves out attachments, the last first, until the record fits; each
    // one left out counts in partsLeftOut. Returns FitsRecord().
    bool DropAttachmentsToFit();
    // For a store that keeps the message itself beside the record: after
    // DropAttachmentsToFit, cuts the text (then the header block) at a
    // character boundary until the record fits, and sets textCut. Returns
    // FitsRecord().
    bool CutTextToFit();
    bool textCut = false; // the text or header block was cut to fit
};

// Splits the text of a message as the server sent it (dot-unstuffed, without
// the CR LF of its last line) into the record's pieces:
// - header fields are found at the start of a header line, their names
//   compared without regard to case, and each value is decoded to Shift_JIS
//   on its own (mime/HeaderDecode.h);
// - a single-part text message keeps its text, decoded by its transfer
//   encoding and charset (mime/BodyDecode.h); a message without a
//   Content-Type field keeps the blank line's CR LF CR LF in front;
// - a single-part HTML message gets its readable text in the text slot and
//   its HTML as the attachment "HTML形式.html"; any other single-part type is
//   one attachment beside an empty text;
// - a multipart message is split on the delimiter lines of its boundary
//   parameter, nested multiparts included: the first text/plain leaf (that is
//   no attachment) fills the text slot, failing that the text of the first
//   HTML one; the other leaves fill the three attachment slots in order,
//   except that the HTML form of a message with a text/plain text only takes
//   a slot that no other leaf needs. A multipart without a usable boundary is
//   stored like a single part.
// Never fails; what could not be kept is flagged in the result.
ReceivedMessage SplitReceivedMessage(std::string_view text);

// One attachment of a received message, decoded.
struct ReceivedAttachment {
    std::string name;  // as the record would name it (mime/PartName.h), Shift_JIS
    std::string type;  // media type, lower case
    std::string bytes; // the content decoded by its transfer encoding
};

// Every attachment of a message (its text as the server sent it), in the
// order SplitReceivedMessage fills its slots but without their limit: every
// leaf of the MIME tree except the text, and the HTML form of the text only
// when the message has no text/plain text. The bytes are what the sender
// attached (base64 and quoted-printable decoded, nothing converted).
std::vector<ReceivedAttachment> ListReceivedAttachments(std::string_view text);

} // namespace tegalo
