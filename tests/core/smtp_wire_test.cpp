// What Tegalo puts on the wire, read back by the readers its recipients
// use: Python's email package with its modern policy (which also reports
// every defect it finds) and Perl's MIME-tools. Messages go through the
// real send session to the SMTP sink.
#include "transfer/SmtpSession.h"

#include "store/Attachments.h"
#include "tests/support/ComposeWaiting.h"
#include "tests/support/MailSink.h"
#include "tests/support/SessionLoop.h"
#include "text/jis.h"
#include "text/transfer_encoding.h"
#include "text/unicode.h"
#include "transfer/DocSendStore.h"

#include "sink_fixture.h"
#include "store_test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

namespace tegalo {
namespace {

using namespace tegalo::literals;
using smtp_test::Draft;
using smtp_test::MailSink;

constexpr LocalTime kNow{2026, 12, 7, 10, 0, 0, 1, 540};
const std::string kClosing = "------=_NextPart_000_0017_01C3CBA8.DEA1DD40--\r\n";

std::string Sjis(std::string_view utf8) {
    return SjisLiteral(utf8);
}

// What a reader made of a message: file name -> content.
struct Reading {
    std::map<std::string, std::string> files;
    std::string operator[](const std::string& name) const {
        const auto it = files.find(name);
        return it == files.end() ? std::string() : it->second;
    }
};

class SmtpWire : public testing_support::SinkSuite {
protected:
    // Saves the draft as waiting, sends the waiting folder, returns the raw
    // message the sink got.
    std::string Send(const Draft& draft) {
        EXPECT_EQ(smtp_test::SaveWaiting(doc, account_.mailAccount, draft), StoreStatus::kOk) << ui.Shown();
        DocSendStore store(doc);
        SmtpSession session(store, [] { return kNow; });
        const session_test::SessionRun run =
            session_test::RunSession(session, session.SendWaiting(account_), "127.0.0.1", sink_->Port());
        EXPECT_EQ(run.ended, SessionEnd::Normal) << SjisToUtf8(run.LastStatus());
        const std::vector<smtp_test::SinkMessage> messages = sink_->Messages();
        return messages.empty() ? std::string() : messages.back().data;
    }

    // Runs `reader` (python3 or perl) with its script on the message.
    Reading Read(const std::string& data, const std::string& reader, const std::string& script) {
        const std::string message = dir / "wire.eml";
        const std::string out = dir / ("read-" + reader);
        testing_support::WriteFile(message, data);
        std::filesystem::remove_all(out);
        std::filesystem::create_directory(out);
        const std::string command = reader + " " + std::string(TEGALO_TEST_DATA) + "/../support/" + script + " " +
                                    message + " " + out + " 2>" + out + ".err";
        EXPECT_EQ(std::system(command.c_str()), 0) << command << "\n" << Slurp(out + ".err");
        Reading reading;
        for (const auto& entry : std::filesystem::directory_iterator(out)) {
            reading.files[entry.path().filename().string()] = Slurp(entry.path().string());
        }
        return reading;
    }
    Reading Python(const std::string& data) { return Read(data, "python3", "wire_check.py"); }
    Reading Perl(const std::string& data) { return Read(data, "perl", "wire_check.pl"); }

    static std::string Slurp(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::vector<std::string> SentSubjects() {
        RecordList list;
        EXPECT_EQ(ReadFolderFile(dir / "sent", kSent, list), 0);
        return testing_support::Subjects(list);
    }

    SmtpAccount account_{"pop.tegalo.test", "smtp.tegalo.test", 25, "taro@tegalo.test", "Taro"};
};


// The defects Python found, less the two it reports for the RFC 2047 form
// of an attachment name in name="..." (an encoded word between quotes),
// which Tegalo writes on purpose for readers that know no RFC 2231; those
// that do read filename*= first.
std::string Defects(const Reading& r) {
    std::stringstream all(r["defects"]);
    std::string kept;
    for (std::string line; std::getline(all, line);) {
        const bool nameWord = line.starts_with("Content-Type: InvalidHeaderDefect: ") &&
                              (line.ends_with("encoded word inside quoted string") ||
                               line.ends_with("missing trailing whitespace after encoded-word"));
        if (!nameWord) {
            kept += line + "\n";
        }
    }
    return kept;
}

// Lines of the message: none over 998 octets; header lines and encoded
// words within 78 and 75; every byte 7-bit.
void ExpectWireLimits(const std::string& data, std::size_t bodyLimit) {
    const std::size_t headerEnd = data.find("\r\n\r\n");
    std::size_t start = 0;
    while (start < data.size()) {
        std::size_t end = data.find("\r\n", start);
        ASSERT_NE(end, std::string::npos) << "every line ends with CR LF";
        const std::string line = data.substr(start, end - start);
        EXPECT_LE(line.size(), start < headerEnd ? 78u : bodyLimit) << line;
        start = end + 2;
    }
    for (const char c : data) {
        ASSERT_LT(static_cast<unsigned char>(c), 0x80) << "seven bits on the wire";
    }
    // Every encoded word "=?charset?B|Q?text?=" is at most 75 characters.
    for (std::size_t at = data.find("=?"); at != std::string::npos; at = data.find("=?", at + 2)) {
        const std::size_t q1 = data.find('?', at + 2);
        if (q1 == std::string::npos || q1 == at + 2 || q1 + 2 >= data.size() || data[q1 + 2] != '?' ||
            std::string_view("BbQq").find(data[q1 + 1]) == std::string_view::npos) {
            continue;
        }
        const std::size_t close = data.find("?=", q1 + 3);
        if (close == std::string::npos) {
            continue;
        }
        const std::string word = data.substr(at, close + 2 - at);
        EXPECT_LE(word.size(), 75u) << word;
        at = close;
    }
}

TEST_F(SmtpWire, CharactersBeyondIso2022JpGoOutAsUtf8AndNoneIsDropped) {
    account_.displayName = Sjis("德永 髙志");
    const std::string text = Sjis("髙橋様\r\n﨑山さんと德川さんに ⅰ ⅱ をお渡しください。\r\nﾊﾝｶｸ ｶﾀｶﾅ も ＯＫ。");
    const std::string data = Send({Sjis("髙橋様 ｶﾀｶﾅ の件"), Sjis("﨑山 <sakiyama@tegalo.test>"), "", text, {}});
    ExpectWireLimits(data, 76);
    EXPECT_NE(data.find("charset=UTF-8"), std::string::npos);
    const Reading r = Python(data);
    EXPECT_EQ(Defects(r), "") << data;
    EXPECT_EQ(r["subject"], "髙橋様 ｶﾀｶﾅ の件");
    EXPECT_EQ(r["from"], "德永 髙志|taro@tegalo.test\n");
    EXPECT_EQ(r["to"], "﨑山|sakiyama@tegalo.test\n");
    EXPECT_EQ(r["text"], "髙橋様\r\n﨑山さんと德川さんに ⅰ ⅱ をお渡しください。\r\nﾊﾝｶｸ ｶﾀｶﾅ も ＯＫ。");
    // The sent copy keeps the subject as typed.
    EXPECT_EQ(SentSubjects(), std::vector<std::string>{Sjis("髙橋様 ｶﾀｶﾅ の件")});
}

TEST_F(SmtpWire, JisTextStaysIso2022JpAndLongSubjectsFoldWithTheirBlanks) {
    const std::string subject =
        Sjis("来週の 定例会議 について（第三会議室 に変更、資料は 共有フォルダ にあります） ご確認ください");
    const std::string data =
        Send({subject, "hanako@tegalo.test", "", Sjis("会議は ① 十時 から です。\r\nよろしく。"), {}});
    ExpectWireLimits(data, 998);
    EXPECT_NE(data.find("charset=ISO-2022-JP"), std::string::npos);
    EXPECT_NE(data.find("\x1b$B-!\x1b(B"), std::string::npos) << "NEC row 13 as Japanese mailers send it";
    EXPECT_NE(data.find("\r\nSubject: =?ISO-2022-JP?B?"), std::string::npos);
    EXPECT_NE(data.find("?=\r\n =?ISO-2022-JP?B?"), std::string::npos) << "a subject this long is folded";
    EXPECT_NE(data.find("\r\nMessage-ID: <"), std::string::npos);
    const Reading r = Python(data);
    EXPECT_EQ(Defects(r), "") << data;
    EXPECT_EQ(r["subject"], SjisToUtf8(subject)) << "every blank between Japanese words survives";
    EXPECT_EQ(r["to"], "|hanako@tegalo.test\n");
}

TEST_F(SmtpWire, RecipientsAreAddressLists) {
    const std::string to =
        Sjis("\"Suzuki, Ichiro\" <suzuki@tegalo.test>, 営業部: a@tegalo.test, 表示 <b@tegalo.test>;");
    const std::string data = Send({"list", to, Sjis("c@tegalo.test (千葉)"), "text", {}});
    const std::vector<smtp_test::SinkMessage> messages = sink_->Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rcptTos,
              (std::vector<std::string>{"suzuki@tegalo.test", "a@tegalo.test", "b@tegalo.test", "c@tegalo.test"}));
    const Reading r = Python(data);
    EXPECT_EQ(Defects(r), "") << data;
    EXPECT_EQ(r["to"], "Suzuki, Ichiro|suzuki@tegalo.test\ngroup:営業部\n|a@tegalo.test\n表示|b@tegalo.test\n")
        << "the second byte of 表 is a backslash, and stays part of the name";
    EXPECT_EQ(r["cc"], "|c@tegalo.test\n");
    EXPECT_EQ(sink_->Commands().front(), "EHLO tegalo.test") << "the domain of the sender's address";
}

TEST_F(SmtpWire, AttachmentNamesAndTextCharsetsReadByTwoReaders) {
    const std::string sjisText = Sjis("報告書の本文です。\r\n");
    const std::string utf8Text = "UTF-8 の本文\r\n";
    const std::string longName = "髙橋さんへの見積書（最終版）ファイル名がとても長くて一行に収まらない場合.pdf";
    testing_support::WriteFile(dir / "報告 2026.txt", sjisText);
    testing_support::WriteFile(dir / "utf8.txt", utf8Text);
    testing_support::WriteFile(dir / longName, "%PDF-1.4");
    const std::string data =
        Send({"names", "a@tegalo.test", "", "three files", {dir / "報告 2026.txt", dir / "utf8.txt", dir / longName}});
    ExpectWireLimits(data, 998);
    EXPECT_TRUE(data.ends_with(kClosing)) << "the closing delimiter ends the body";
    const Reading py = Python(data);
    EXPECT_EQ(Defects(py), "") << data;
    EXPECT_EQ(py["text"], "three files");
    EXPECT_EQ(py["part1.name"], "報告 2026.txt");
    EXPECT_EQ(py["part1.type"], "text/plain; charset=Shift_JIS");
    EXPECT_EQ(py["part1.data"], sjisText);
    EXPECT_EQ(py["part2.type"], "text/plain; charset=UTF-8");
    EXPECT_EQ(py["part2.data"], utf8Text);
    EXPECT_EQ(py["part3.name"], longName);
    EXPECT_EQ(py["part3.data"], "%PDF-1.4");
    EXPECT_EQ(py["part4.name"], "") << "no empty part between attachments";

    const Reading perl = Perl(data);
    EXPECT_EQ(perl["part1.name"], "報告 2026.txt");
    EXPECT_EQ(perl["part1.data"], sjisText);
    EXPECT_EQ(perl["part3.name"], longName);
    EXPECT_EQ(perl["part4.name"], "");
}

TEST_F(SmtpWire, LongLinesGoOutEncodedAndComeBackWhole) {
    const std::string longLine(3000, 'x');
    const std::string html =
        "<html><body>\r\n<p>" + std::string(500, 'a') + "=" + Sjis("日本語") + "</p>\r\n</body></html>\r\n";
    testing_support::WriteFile(dir / "page.html", html);
    for (const std::string& extra : {std::string(), Sjis("髙")}) {
        sink_->Clear();
        const std::string text = Sjis("長い行:") + extra + "\r\n" + longLine + "\r\nend";
        const std::string data = Send({"long", "a@tegalo.test", "", text, {dir / "page.html"}});
        ExpectWireLimits(data, 76);
        const Reading r = Python(data);
        EXPECT_EQ(Defects(r), "") << data;
        // Python writes the line ends of a quoted-printable text as LF.
        std::string typed = SjisToUtf8(text);
        if (!extra.empty()) {
            for (std::size_t at; (at = typed.find("\r\n")) != std::string::npos;) {
                typed.erase(at, 1);
            }
        }
        EXPECT_EQ(r["text"], typed);
        EXPECT_EQ(r["part1.cte"], "quoted-printable");
        EXPECT_EQ(r["part1.type"], "text/html; charset=ISO-2022-JP");
        // Python writes the decoded quoted-printable lines with LF; the
        // file's last line end went to the delimiter when it was stored.
        std::string expected = SjisToJis(html.substr(0, html.size() - 2));
        for (std::size_t at; (at = expected.find("\r\n")) != std::string::npos;) {
            expected.erase(at, 1);
        }
        EXPECT_EQ(r["part1.data"], expected);
    }
}

// A forwarded attachment goes out under the transfer encoding it was stored
// with: a 7bit text, a quoted-printable file, a base64 HTML part.
TEST_F(SmtpWire, ForwardedAttachmentsKeepTheirEncoding) {
    const std::string sevenBit = "plain text\r\nline 2\r\n";
    const std::string qpFile = "caf=E9 =3D cr=E8me\r\n";
    const std::string html = "<p>\xe6\x97\xa5\xe6\x9c\xac</p>";
    BodyParts parts = NewBodyParts();
    ASSERT_EQ(doc.CSbodyMsgA(parts, "forwarded", "", 0, textPart), PartError::none);
    ASSERT_EQ(doc.CSbodyMsgA(parts, sevenBit, "notes.txt", 1, encodedContent, "7bit"), PartError::none);
    ASSERT_EQ(doc.CSbodyMsgA(parts, qpFile, "menu.dat", 2, encodedContent, "quoted-pr"), PartError::none);
    ASSERT_EQ(doc.CSbodyMsgA(parts, EncodeBase64Lines(html), "page.html", 3, encodedContent, "base64"),
              PartError::none);
    Envelope envelope = doc.SetRecipients("Fwd: x", smtp_test::kComposeDate, "a@tegalo.test");
    ASSERT_EQ(envelope.status, StoreStatus::kOk);
    DocSendStore store(doc);
    SmtpSession session(store, [] { return kNow; });
    const session_test::SessionRun run = session_test::RunSession(
        session, session.SendComposed(account_, {std::move(envelope.sendEnvelope), parts, "a@tegalo.test"}), "127.0.0.1",
        sink_->Port());
    ASSERT_EQ(run.ended, SessionEnd::Normal);
    const std::string data = sink_->Messages().at(0).data;
    const Reading r = Python(data);
    EXPECT_EQ(Defects(r), "") << data;
    EXPECT_EQ(r["part1.cte"], "7bit");
    EXPECT_EQ(r["part1.data"], "plain text\nline 2\n") << "Python writes the line ends of a text part as LF";
    EXPECT_EQ(r["part2.cte"], "quoted-printable");
    EXPECT_EQ(r["part2.data"], "caf\xE9 = cr\xE8me") << "the last line end is the delimiter's";
    EXPECT_EQ(r["part3.cte"], "base64");
    EXPECT_EQ(r["part3.type"], "text/html; charset=UTF-8");
    EXPECT_EQ(r["part3.data"], html);
}

// A 1 MB attachment does not fit a record: the message goes out whole, and
// the sent copy keeps the text with a note of what it could not keep.
TEST_F(SmtpWire, MessageTooLargeForARecordIsSentAndCopied) {
    std::mt19937 rng(9);
    std::string big(1'000'000, '\0');
    for (char& c : big) {
        c = static_cast<char>(rng());
    }
    testing_support::WriteFile(dir / "big.bin", big);
    BodyParts parts = NewBodyParts();
    ASSERT_EQ(doc.CSbodyMsgA(parts, Sjis("大きな添付"), "", 0, textPart), PartError::none);
    ASSERT_EQ(doc.CSbodyMsgA(parts, "", std::string(dir / "big.bin"), 1, base64File), PartError::none);
    Envelope envelope = doc.SetRecipients("big", smtp_test::kComposeDate, "a@tegalo.test");
    ASSERT_EQ(envelope.status, StoreStatus::kOk);
    DocSendStore store(doc);
    SmtpSession session(store, [] { return kNow; });
    const session_test::SessionRun run = session_test::RunSession(
        session, session.SendComposed(account_, {std::move(envelope.sendEnvelope), parts, "a@tegalo.test"}), "127.0.0.1",
        sink_->Port());
    ASSERT_EQ(run.ended, SessionEnd::Normal) << SjisToUtf8(run.LastStatus());
    EXPECT_TRUE(run.notices.empty()) << SjisToUtf8(run.notices.front());
    const Reading r = Python(sink_->Messages().at(0).data);
    EXPECT_EQ(r["part1.data"], big);

    RecordList sent;
    ASSERT_EQ(ReadFolderFile(dir / "sent", kSent, sent), 0);
    ASSERT_EQ(sent.Count(), 1);
    const std::optional<RecordPieces> pieces = SplitRecord(sent[0]);
    ASSERT_TRUE(pieces);
    EXPECT_EQ(pieces->subject, "big");
    EXPECT_EQ(pieces->date, "Mon, 07 Dec 2026") << "the sent copy's date piece";
    EXPECT_EQ(PartRecordName(pieces->attachments[0]), "big.bin");
    const std::string body = SjisToUtf8(PartRecordContent(pieces->body));
    EXPECT_TRUE(body.starts_with("大きな添付\r\n")) << body;
    EXPECT_NE(body.find("big.bin"), std::string::npos) << body;
}

TEST_F(SmtpWire, EhloNamesAnIpServerByItsAddressLiteral) {
    account_ = {"127.0.0.1", "", 25, "taro", "Taro"};
    static_cast<void>(Send({"ip", "a@tegalo.test", "", "text", {}}));
    EXPECT_EQ(sink_->Commands().front(), "EHLO [127.0.0.1]");
}

} // namespace
} // namespace tegalo
