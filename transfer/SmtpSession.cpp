#include "transfer/SmtpSession.h"

#include "config/AccountSettings.h"
#include "mime/Outgoing.h"
#include "mime/WireMessage.h"
#include "store/FileIo.h"
#include "store/Record.h"
#include "text/unicode.h"
#include "transfer/ShownText.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace tegalo {
namespace {

using namespace tegalo::literals;

constexpr int kServiceClosing = 421; // the server is about to close the connection (RFC 5321 3.8)

bool IsHostByte(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u != 0x7F;
}

// The decimal count in envelope entry 0 plus one, or -1 unless it is digits
// and the envelope holds that many recipient entries.
int RecipientCount(const std::vector<std::string>& envelope) {
    if (envelope.size() <= kEnvelopeFirstRecipient || envelope[kEnvelopeCommas].empty() ||
        envelope[kEnvelopeCommas].size() > 3) {
        return -1;
    }
    int commas = 0;
    for (const char c : envelope[kEnvelopeCommas]) {
        if (c < '0' || c > '9') {
            return -1;
        }
        commas = commas * 10 + (c - '0');
    }
    const std::size_t count = static_cast<std::size_t>(commas) + 1;
    return envelope.size() >= 3 + count ? static_cast<int>(count) : -1;
}

// The recipient text with the one line break the compose path puts in it,
// the one that starts the Cc line, taken out; any other break is an attempt
// to add header lines.
std::string WithoutCcBreak(std::string_view recipients) {
    std::string text;
    std::size_t at = 0;
    for (std::size_t found = recipients.find("\r\nCc: "); found != std::string_view::npos;
         found = recipients.find("\r\nCc: ", at)) {
        text.append(recipients.substr(at, found - at)).append(" ");
        at = found + 2;
    }
    text.append(recipients.substr(at));
    return text;
}

std::string SubjectOf(const OutgoingMessage& message) {
    return message.sendEnvelope.size() > kEnvelopeSubject ? message.sendEnvelope[kEnvelopeSubject] : std::string();
}

// "[192.0.2.1]" or "[IPv6:2001:db8::1]" for a server given as an IP
// address; "" for a host name.
std::string AddressLiteral(std::string_view server) {
    if (server.find(':') != std::string_view::npos) {
        for (const char c : server) {
            if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.') {
                return {};
            }
        }
        return "[IPv6:" + std::string(server) + "]";
    }
    int dots = 0;
    for (const char c : server) {
        if (c == '.') {
            ++dots;
        } else if (c < '0' || c > '9') {
            return {};
        }
    }
    return dots == 3 ? "[" + std::string(server) + "]" : std::string();
}

// The capability words of an EHLO answer ("STARTTLS", "AUTH PLAIN LOGIN"):
// every line but the first, without its code, upper-cased.
std::vector<std::string> EhloKeywords(const SmtpReply& reply) {
    std::vector<std::string> lines;
    for (std::size_t i = 1; i < reply.lines.size(); ++i) {
        std::string line = reply.lines[i].size() > 4 ? reply.lines[i].substr(4) : std::string();
        std::transform(line.begin(), line.end(), line.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        lines.push_back(std::move(line));
    }
    return lines;
}

bool Contains(std::string_view text, std::string_view word) {
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper.find(word) != std::string::npos;
}

std::string_view MechanismName(SmtpLogin login) {
    switch (login) {
    case SmtpLogin::Plain: return kSaslPlain;
    case SmtpLogin::Login: return kSaslLogin;
    case SmtpLogin::CramMd5: return kSaslCramMd5;
    case SmtpLogin::None:
    case SmtpLogin::Automatic: break;
    }
    return {};
}

} // namespace

std::string SendStoppedText(int sent) {
    return "送信を中止しました（"_sjis + std::to_string(sent) + "件送信）"_sjis;
}

SmtpAccount SmtpAccountFrom(const AccountSettings& settings) {
    return {settings.serverName,     settings.serverName2,       settings.smtpPort,
            settings.mailAccount,    settings.displayName,       settings.smtpSecurity,
            settings.smtpLogin,      SmtpUserNameOf(settings),   SmtpPasswordOf(settings)};
}

std::string SmtpLoginRefusedText(std::string_view reply) {
    return "SMTP認証エラー：ユーザ名またはパスワードが拒否されました"_sjis + " (" + ShownReply(reply) + ")";
}

std::string SubmissionPortHint() {
    return "（25番ポートが塞がれているようです。プロバイダの送信サーバの587番ポート（サブミッションポート）を"
           "SMTP認証付きで設定してください）"_sjis;
}

std::string SmtpFailureText(SmtpState state, std::string_view reply) {
    int step = 0;
    std::string suffix;
    switch (state) {
    case SmtpState::Greeting:
        step = 1;
        break;
    case SmtpState::EhloSent:
        step = 2;
        break;
    case SmtpState::MailOrRcptSent:
        step = 3;
        suffix = "ＩＤエラー"_sjis;
        break;
    case SmtpState::LastRcptSent:
        step = 4;
        suffix = "宛先エラー"_sjis;
        break;
    case SmtpState::DataSent:
        step = 4;
        break;
    case SmtpState::MessageSent:
        step = 5;
        break;
    case SmtpState::RsetSent:
        step = 6;
        break;
    default:
        step = 0;
        break;
    }
    return std::to_string(step) + " " + ShownReply(reply) + suffix;
}

std::string SentSummaryText(int sent, int refused) {
    std::string text = std::to_string(sent) + " Messages Sent";
    if (refused > 0) {
        text += ", " + std::to_string(refused) + " Refused";
    }
    return text;
}

std::string SmtpServerName(const SmtpAccount& account) {
    return account.serverName2.empty() ? account.serverName : account.serverName2;
}

std::string EhloDomain(const SmtpAccount& account) {
    if (std::string domain = AddressDomain(account.mailAccount); !domain.empty()) {
        return domain;
    }
    const std::string server = SmtpServerName(account);
    if (std::string literal = AddressLiteral(server); !literal.empty()) {
        return literal;
    }
    if (account.serverName2.empty()) {
        return account.serverName;
    }
    const std::size_t dot = account.serverName2.find('.');
    if (dot == std::string::npos || dot + 1 == account.serverName2.size()) {
        return account.serverName2;
    }
    return account.serverName2.substr(dot + 1);
}

std::string RecipientAddress(std::string_view entry) {
    std::string_view address = entry;
    if (const std::size_t open = entry.find('<'); open != std::string_view::npos) {
        address = entry.substr(open + 1);
        address = address.substr(0, address.find('>'));
    }
    const std::size_t first = address.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = address.find_last_not_of(" \t");
    return std::string(address.substr(first, last - first + 1));
}

std::string AddressProblem(std::string_view address, std::string_view what) {
    if (address.empty()) {
        return std::string(what) + "のアドレスがありません"_sjis;
    }
    for (const char c : address) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || c == '<' || c == '>') {
            return std::string(what) + "のアドレス「"_sjis + ShownReply(address) +
                   "」に使えない文字（改行、制御文字、<、>）があります"_sjis;
        }
    }
    return {};
}

std::string DataForWire(std::string_view message) {
    std::string data;
    data.reserve(message.size() + message.size() / 32 + 8);
    bool lineStart = true;
    for (std::size_t i = 0; i < message.size(); ++i) {
        const char c = message[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < message.size() && message[i + 1] == '\n') {
                ++i;
            }
            data.append(kCrLf);
            lineStart = true;
            continue;
        }
        if (lineStart && c == '.') {
            data.push_back('.');
        }
        data.push_back(c);
        lineStart = false;
    }
    if (!lineStart) {
        data.append(kCrLf);
    }
    data.append(".\r\n");
    return data;
}

SmtpSession::SmtpSession(SendStore& store, Clock clock) : store_(store), clock_(std::move(clock)) {}

bool SmtpSession::CheckAccount(const SmtpAccount& account) {
    const std::string server = SmtpServerName(account);
    bool serverOk = !server.empty() && account.smtpPort > 0 && account.smtpPort <= 65535;
    for (const char c : server) {
        serverOk = serverOk && IsHostByte(c);
    }
    if (!serverOk) {
        out_.notices.push_back("サーバ名またはポートNoを設定して下さい"_sjis);
        return false;
    }
    std::string problem = AddressProblem(account.mailAccount, "差出人"_sjis);
    if (problem.empty()) {
        problem = HeaderValueProblem(account.displayName, "差出人の名前"_sjis);
    }
    if (!problem.empty()) {
        out_.notices.push_back(std::move(problem));
        return false;
    }
    return true;
}

std::string SmtpSession::MessageProblem(const OutgoingMessage& message) const {
    const int count = RecipientCount(message.sendEnvelope);
    if (count < 1) {
        return "宛先がありません"_sjis;
    }
    for (int i = 0; i < count; ++i) {
        const std::string address = RecipientAddress(message.sendEnvelope[kEnvelopeFirstRecipient + static_cast<std::size_t>(i)]);
        if (std::string problem = AddressProblem(address, "宛先"_sjis); !problem.empty()) {
            return problem;
        }
    }
    if (std::string problem = HeaderValueProblem(SubjectOf(message), "件名"_sjis); !problem.empty()) {
        return problem;
    }
    return HeaderValueProblem(WithoutCcBreak(message.recipientText), "宛先"_sjis);
}

SmtpOutput SmtpSession::SendWaiting(const SmtpAccount& account) {
    if (phase_ != Phase::Idle) {
        Status("Session Running: Request Ignored");
        return std::exchange(out_, {});
    }
    queue_.clear();
    sent_ = refused_ = 0;
    batchSend = true;
    messagesTotal = messagesLeft = 0;
    if (!CheckAccount(account)) {
        out_.ended = SessionEnd::Failed;
        return std::exchange(out_, {});
    }
    const int count = store_.CountWaiting();
    if (count < 0) {
        out_.ended = SessionEnd::Failed; // the store told the user why
        return std::exchange(out_, {});
    }
    if (count == 0) {
        Status("No Waiting Message");
        out_.ended = SessionEnd::Normal;
        return std::exchange(out_, {});
    }
    messagesTotal = messagesLeft = count;
    for (int index = 0; index < count; ++index) {
        WaitingMessage waiting;
        if (store_.PrepareWaiting(index, waiting) != StoreStatus::kOk) {
            out_.notices.push_back("送信待ちの"_sjis + std::to_string(index + 1) +
                                   "件目のメッセージを読み込めないため送信しません"_sjis);
            ++refused_;
            --messagesLeft;
            continue;
        }
        if (std::string problem = MessageProblem(waiting.message); !problem.empty()) {
            out_.notices.push_back("「"_sjis + ShownReply(SubjectOf(waiting.message)) + "」は送信しません："_sjis +
                                   problem);
            ++refused_;
            --messagesLeft;
            continue;
        }
        queue_.push_back({std::move(waiting.message), std::move(waiting.record)});
    }
    if (queue_.empty()) {
        Status(SentSummaryText(sent_, refused_));
        out_.ended = SessionEnd::Failed;
        return std::exchange(out_, {});
    }
    account_ = account;
    Connect();
    return std::exchange(out_, {});
}

SmtpOutput SmtpSession::SendComposed(const SmtpAccount& account, OutgoingMessage message) {
    if (phase_ != Phase::Idle) {
        Status("Session Running: Request Ignored");
        return std::exchange(out_, {});
    }
    queue_.clear();
    sent_ = refused_ = 0;
    batchSend = false;
    messagesTotal = messagesLeft = 0;
    if (!CheckAccount(account)) {
        out_.ended = SessionEnd::Failed;
        return std::exchange(out_, {});
    }
    if (std::string problem = MessageProblem(message); !problem.empty()) {
        out_.notices.push_back("送信できません："_sjis + problem);
        refused_ = 1;
        out_.ended = SessionEnd::Failed;
        return std::exchange(out_, {});
    }
    messagesTotal = messagesLeft = 1;
    queue_.push_back({std::move(message), {}});
    account_ = account;
    Connect();
    return std::exchange(out_, {});
}

void SmtpSession::Connect() {
    stopping_ = false;
    phase_ = Phase::Connecting;
    idleTicks_ = 0;
    current_ = 0;
    out_.connect = true;
    out_.tls = account_.security == Security::Implicit;
    out_.host = SmtpServerName(account_);
    out_.port = account_.smtpPort;
}

SmtpOutput SmtpSession::OnServerConnect() {
    if (phase_ != Phase::Connecting) {
        return std::exchange(out_, {});
    }
    phase_ = Phase::Running;
    ConnectionOpened(account_.security == Security::Implicit);
    idleTicks_ = 0;
    reader_.Clear();
    repliesDue_.clear();
    repliesDue_.push_back(reader_.Fed()); // the greeting
    sasl_.Reset();
    sessionState = SmtpState::Greeting;
    recipientsLeft = recipientsTotal = 0;
    pipelining_ = grouped_ = dataInFlight_ = false;
    groupAwaiting_ = groupAnswered_ = 0;
    groupRefusal_.clear();
    pendingEnd_ = SessionEnd::None;
    Status("Server Connection OK");
    return std::exchange(out_, {});
}

void SmtpSession::ConnectFailed(std::string_view reason) {
    queue_.clear();
    // A home line whose provider blocks port 25 sees the connection refused
    // or falling silent; a server name that is not found is another matter.
    if (account_.smtpPort == 25 && account_.login == SmtpLogin::None &&
        (Contains(reason, "REFUSED") || Contains(reason, "TIME") || Contains(reason, "NO ANSWER"))) {
        EndConnectFailed(std::string(reason) + " " + SubmissionPortHint());
        return;
    }
    EndConnectFailed(reason);
}

void SmtpSession::TlsStarted() {
    // What the server offered in the clear may have been changed on the way:
    // it is asked again.
    SendCommand("EHLO " + EhloDomain(account_));
    sessionState = SmtpState::EhloSent;
}

void SmtpSession::AfterEhlo(const SmtpReply& reply) {
    const std::vector<std::string> keywords = EhloKeywords(reply);
    pipelining_ = std::find(keywords.begin(), keywords.end(), "PIPELINING") != keywords.end();
    if (account_.security == Security::StartTls && !encrypted_) {
        if (std::find(keywords.begin(), keywords.end(), "STARTTLS") == keywords.end()) {
            return Fail("STARTTLS Not Offered by the Server: Nothing Sent");
        }
        SendCommand("STARTTLS");
        sessionState = SmtpState::StartTlsSent;
        return;
    }
    if (account_.security != Security::None && !encrypted_) {
        return Fail("TLS Not Established: Nothing Sent"); // never reached: the handshake comes first
    }
    if (account_.login == SmtpLogin::None) {
        return StartTransaction();
    }
    std::vector<std::string> offered;
    for (const std::string& keyword : keywords) {
        if (keyword.starts_with("AUTH ") || keyword.starts_with("AUTH=")) {
            const std::vector<std::string> words = SaslWords(keyword);
            offered.insert(offered.end(), words.begin(), words.end());
        }
    }
    std::string mechanism;
    if (account_.login == SmtpLogin::Automatic) {
        mechanism = StrongestSaslMechanism(offered);
        if (mechanism.empty()) {
            // A server that wants no login (or none Tegalo knows) takes the
            // mail as it is; one that wants one refuses MAIL FROM.
            return StartTransaction();
        }
    } else {
        mechanism = std::string(MechanismName(account_.login));
        if (!OffersSaslMechanism(offered, mechanism)) {
            return Fail("SMTP AUTH " + mechanism + " Not Offered by the Server: Nothing Sent");
        }
    }
    if (std::string error = sasl_.Start(mechanism, account_.userName, account_.password); !error.empty()) {
        return Fail("SASL: " + error);
    }
    sessionState = SmtpState::AuthSent;
    if (!sasl_.ClientFirst()) {
        return SendCommand("AUTH " + mechanism);
    }
    std::string response;
    if (sasl_.Step("", response) == SaslClient::Result::Failed) {
        return Fail("SASL: " + response);
    }
    SendCommand("AUTH " + mechanism + " " + (response.empty() ? std::string("=") : response));
}

void SmtpSession::OnAuthReply(const SmtpReply& reply, const std::string& text) {
    if (reply.code == 235) {
        sasl_.Reset();
        return StartTransaction();
    }
    if (reply.code == 334) {
        const std::string& last = reply.lines.back();
        const std::string challenge = last.size() > 4 ? last.substr(4) : std::string();
        std::string response;
        if (sasl_.Step(challenge, response) == SaslClient::Result::Failed) {
            sasl_.Reset();
            SendCommand("*"); // cancels the exchange (RFC 4954); the server answers 501
            Status("SASL: " + response);
            pendingEnd_ = SessionEnd::Failed;
            sessionState = SmtpState::QuitSent;
            SendCommand("QUIT");
            return;
        }
        return SendCommand(response);
    }
    sasl_.Reset();
    if (reply.code == 535) {
        return Fail(SmtpLoginRefusedText(text));
    }
    Fail("SMTP AUTH: " + ShownReply(text));
}

bool SmtpSession::LooksLikePortBlocking(const SmtpReply& reply) const {
    if (account_.smtpPort != 25 || account_.login != SmtpLogin::None) {
        return false;
    }
    const std::string text = reply.Text();
    return reply.code == 530 ||
           ((reply.code == 550 || reply.code == 553 || reply.code == 554) &&
            (Contains(text, "RELAY") || Contains(text, "AUTH") || Contains(text, "OP25B")));
}

SmtpOutput SmtpSession::OnBytesWritten() {
    idleTicks_ = 0;
    Progressed();
    return std::exchange(out_, {});
}

void SmtpSession::StepSession() {
    while (phase_ == Phase::Running) {
        SmtpReply reply;
        switch (reader_.TakeReply(reply)) {
        case SmtpReader::Result::NeedMore:
            return;
        case SmtpReader::Result::TooLong:
            reader_.Clear();
            if (sessionState == SmtpState::QuitSent) {
                return CloseSocket(pendingEnd_);
            }
            Fail(SmtpFailureText(sessionState, "(reply longer than " + std::to_string(SmtpReader::kMaxReply) +
                                                   " bytes)"));
            return;
        case SmtpReader::Result::Complete:
            if (!InTurn() && sessionState != SmtpState::QuitSent && reply.code != kServiceClosing) {
                // Taken as the answer to the next command, it would put every
                // later answer one step off.
                Fail(SmtpFailureText(sessionState, "(reply out of turn) " + reply.Text()));
                return;
            }
            OnReply(reply);
            break;
        }
    }
}

namespace {

// The name under which a reply in `state` is a phase for crash tests.
std::string_view SmtpPhaseName(SmtpState state) {
    switch (state) {
    case SmtpState::Greeting:
        return "smtp-greeting";
    case SmtpState::DataSent:
        return "smtp-data"; // the go-ahead, before the message text goes out
    case SmtpState::MessageSent:
        return "smtp-250"; // the answer to the message text, before any bookkeeping
    case SmtpState::QuitSent:
        return "smtp-quit";
    default:
        return {};
    }
}

} // namespace

bool SmtpSession::InTurn() {
    // A reply answers the oldest command not yet answered, and only when it
    // began after that command went out: bytes the server sent before it
    // cannot be its answer.
    if (repliesDue_.empty() || reader_.LastReplyStart() < repliesDue_.front()) {
        return false;
    }
    repliesDue_.pop_front();
    return true;
}

void SmtpSession::OnReply(const SmtpReply& reply) {
    if (const std::string_view phase = SmtpPhaseName(sessionState); !phase.empty()) {
        ReachedPhase(phase);
    }
    if (sessionState == SmtpState::QuitSent) {
        return CloseSocket(pendingEnd_);
    }
    const std::string text = reply.Text();
    if (reply.code == kServiceClosing) {
        Status(SmtpFailureText(sessionState, text));
        return CloseSocket(SessionEnd::Failed);
    }
    if (grouped_) {
        return OnGroupReply(reply, text);
    }
    switch (sessionState) {
    case SmtpState::Greeting:
        if (reply.code != 220) {
            return Fail(SmtpFailureText(sessionState, text));
        }
        SendCommand("EHLO " + EhloDomain(account_));
        sessionState = SmtpState::EhloSent;
        return;
    case SmtpState::EhloSent:
        if (reply.code != 250) {
            return Fail(SmtpFailureText(sessionState, text));
        }
        return AfterEhlo(reply);
    case SmtpState::StartTlsSent:
        if (reply.code != 220) {
            return Fail("STARTTLS Refused: " + ShownReply(text));
        }
        sessionState = SmtpState::TlsHandshake;
        return BeginTls();
    case SmtpState::AuthSent:
        return OnAuthReply(reply, text);
    case SmtpState::MailOrRcptSent:
    case SmtpState::LastRcptSent:
        // A RCPT TO may also be answered 251 (the server forwards the mail);
        // MAIL FROM only 250. Before the first RCPT TO no recipient is sent.
        if (reply.code != 250 && !(reply.code == 251 && recipientsLeft < recipientsTotal)) {
            if (LooksLikePortBlocking(reply)) {
                return MessageRefused(SmtpFailureText(sessionState, text) + " " + SubmissionPortHint());
            }
            return MessageRefused(SmtpFailureText(sessionState, text));
        }
        if (sessionState == SmtpState::LastRcptSent) {
            SendCommand("DATA");
            sessionState = SmtpState::DataSent;
            return;
        }
        return SendNextRecipient();
    case SmtpState::DataSent:
        if (reply.code != 354) {
            return MessageRefused(SmtpFailureText(sessionState, text));
        }
        return SendMessageText();
    case SmtpState::MessageSent:
        if (reply.code != 250) {
            return MessageRefused(SmtpFailureText(sessionState, text));
        }
        return MessageAccepted();
    case SmtpState::RsetSent:
        if (reply.code != 250) {
            return Fail(SmtpFailureText(sessionState, text));
        }
        return StartTransaction();
    default:
        return;
    }
}

void SmtpSession::StartTransaction() {
    const OutgoingMessage& message = queue_[current_].message;
    recipientsTotal = recipientsLeft = RecipientCount(message.sendEnvelope);
    CurrentMessage = {};
    CurrentMessage.to = message.recipientText;
    SendCommand("MAIL FROM:<" + account_.mailAccount + ">");
    sessionState = SmtpState::MailOrRcptSent;
    if (pipelining_) {
        grouped_ = true;
        groupAwaiting_ = 1;
        groupAnswered_ = 0;
        dataInFlight_ = false;
        groupRefusal_.clear();
        FillGroup();
    }
}

// Sends the group's next RCPT TO commands and then DATA, while fewer than
// kWindow are in flight and nothing was refused.
void SmtpSession::FillGroup() {
    while (groupRefusal_.empty() && recipientsLeft > 0 && groupAwaiting_ < kWindow) {
        const OutgoingMessage& message = queue_[current_].message;
        const std::size_t entry =
            static_cast<std::size_t>(recipientsTotal - recipientsLeft) + kEnvelopeFirstRecipient;
        --recipientsLeft;
        ++groupAwaiting_;
        SendCommand("RCPT TO:<" + RecipientAddress(message.sendEnvelope[entry]) + ">");
    }
    if (groupRefusal_.empty() && recipientsLeft == 0 && !dataInFlight_ && groupAwaiting_ < kWindow) {
        dataInFlight_ = true;
        SendCommand("DATA");
    }
}

// A reply to the oldest command of the group in flight.
void SmtpSession::OnGroupReply(const SmtpReply& reply, const std::string& text) {
    if (groupAwaiting_ > 0) {
        const bool mail = groupAnswered_ == 0;
        const bool lastRcpt = groupAnswered_ == recipientsTotal;
        ++groupAnswered_;
        --groupAwaiting_;
        // A RCPT TO may also be answered 251 (the server forwards the mail).
        if (reply.code != 250 && !(reply.code == 251 && !mail) && groupRefusal_.empty()) {
            const SmtpState command = lastRcpt ? SmtpState::LastRcptSent : SmtpState::MailOrRcptSent;
            groupRefusal_ = SmtpFailureText(command, text);
            if (LooksLikePortBlocking(reply)) {
                groupRefusal_ += " " + SubmissionPortHint();
            }
        }
        FillGroup();
        if (groupAwaiting_ > 0) {
            sessionState = groupAnswered_ == recipientsTotal ? SmtpState::LastRcptSent : SmtpState::MailOrRcptSent;
            return;
        }
        sessionState = SmtpState::DataSent;
        if (dataInFlight_) {
            return;
        }
        // Refused before DATA went out: the rest of the group was answered.
        grouped_ = false;
        return MessageRefused(std::exchange(groupRefusal_, {}));
    }
    grouped_ = false;
    dataInFlight_ = false;
    if (!groupRefusal_.empty()) {
        std::string refusal = std::exchange(groupRefusal_, {});
        if (reply.code == 354) {
            // The server waits for a text that must reach no one: closing
            // the connection unfinished makes it drop the transaction.
            ++refused_;
            --messagesLeft;
            Status(std::move(refusal));
            return CloseSocket(SessionEnd::Failed);
        }
        return MessageRefused(std::move(refusal));
    }
    if (reply.code != 354) {
        return MessageRefused(SmtpFailureText(SmtpState::DataSent, text));
    }
    SendMessageText();
}

void SmtpSession::SendNextRecipient() {
    const OutgoingMessage& message = queue_[current_].message;
    const std::size_t entry = static_cast<std::size_t>(recipientsTotal - recipientsLeft) + kEnvelopeFirstRecipient;
    --recipientsLeft;
    SendCommand("RCPT TO:<" + RecipientAddress(message.sendEnvelope[entry]) + ">");
    sessionState = recipientsLeft == 0 ? SmtpState::LastRcptSent : SmtpState::MailOrRcptSent;
}

void SmtpSession::SendMessageText() {
    const OutgoingMessage& message = queue_[current_].message;
    const LocalTime now = clock_();
    WireMessage wire = BuildWireMessage(message.bodyParts, SubjectOf(message), message.recipientText,
                                        account_.displayName, account_.mailAccount, WireDate(now));
    CurrentMessage.date = SentCopyDate(now);
    CurrentMessage.from = message.recipientText;
    CurrentMessage.subject = SubjectOf(message);
    CurrentMessage.header = std::move(wire.header);
    CurrentMessage.body = std::move(wire.body);
    out_.send += DataForWire(CurrentMessage.header + CurrentMessage.body);
    repliesDue_.push_back(reader_.Fed());
    sessionState = SmtpState::MessageSent;
}

void SmtpSession::MessageAccepted() {
    ++sent_;
    --messagesLeft;
    Status("Message was sent");
    const Queued& queued = queue_[current_];
    const std::string shownSubject = ShownReply(CurrentMessage.subject);
    std::string_view waitingRecord = queued.record;

    if (!waitingRecord.empty()) {
        // What the server accepted is noted first: from here on a failure
        // or a crash finishes the bookkeeping instead of sending it again.
        const StoreStatus noted = store_.RemoveWaiting(waitingRecord);
        if (noted == StoreStatus::kBadIndex) {
            waitingRecord = {}; // no longer waiting (moved by the user meanwhile)
        } else if (noted != StoreStatus::kOk) {
            return StoreFailed(
                "「"_sjis + shownSubject +
                    "」は送信しましたが、送信したことを記録できませんでした（送信待ちに残っているため、次の送信でもう一度送られます）"_sjis,
                "Sent Message Not Recorded on Disk");
        } else {
            removalPending_ = true;
        }
        ReachedPhase("smtp-noted");
    }

    PartSizes sizes{};
    sizes[kSubjectLength] = static_cast<int>(CurrentMessage.subject.size());
    sizes[kSenderLength] = static_cast<int>(CurrentMessage.from.size());
    sizes[kDateLength] = static_cast<int>(CurrentMessage.date.size());
    sizes[kHeaderLength] = static_cast<int>(CurrentMessage.header.size());
    const std::string header = CurrentMessage.subject + CurrentMessage.from + CurrentMessage.date + CurrentMessage.header;
    if (store_.FileSent(sizes, header, queued.message.bodyParts, waitingRecord) != StoreStatus::kOk) {
        return StoreFailed("「"_sjis + shownSubject + "」は送信しましたが、送信済に保存できませんでした"_sjis +
                               (waitingRecord.empty() ? std::string() : "（送信待ちから送信済に移します）"_sjis),
                           "Sent Copy Not Saved to Disk");
    }
    ReachedPhase("smtp-filed");
    NextOrFinish(false);
}

void SmtpSession::StoreFailed(std::string notice, std::string_view what) {
    // As a receive does, the session stops at the first failure to store:
    // another message sent now could not be recorded either.
    out_.notices.push_back(std::move(notice));
    std::string text = batchSend ? SentSummaryText(sent_, refused_) + ", " : std::string();
    Status(text + "Stopped: " + std::string(what));
    Quit(SessionEnd::Failed);
}

void SmtpSession::MessageRefused(std::string text) {
    ++refused_;
    --messagesLeft;
    Status(std::move(text));
    NextOrFinish(true);
}

void SmtpSession::NextOrFinish(bool afterRefusal) {
    recipientsLeft = recipientsTotal = 0;
    if (++current_ < queue_.size() && !stopping_) {
        if (afterRefusal) {
            SendCommand("RSET");
            sessionState = SmtpState::RsetSent;
            return;
        }
        return StartTransaction();
    }
    if (batchSend) {
        Status(SentSummaryText(sent_, refused_));
    }
    if (stopping_) {
        Status(SendStoppedText(sent_));
        return Quit(SessionEnd::Stopped);
    }
    Quit(refused_ == 0 ? SessionEnd::Normal : SessionEnd::Failed);
}

void SmtpSession::SendCommand(std::string line) {
    sendLine = std::move(line);
    repliesDue_.push_back(reader_.Fed());
    out_.send += sendLine;
    out_.send += kCrLf;
}

bool SmtpSession::QuitSent() const {
    return sessionState == SmtpState::QuitSent;
}

void SmtpSession::Fail(std::string text) {
    Status(std::move(text));
    Quit(SessionEnd::Failed);
}

void SmtpSession::Quit(SessionEnd outcome) {
    SendCommand("QUIT");
    sessionState = SmtpState::QuitSent;
    pendingEnd_ = outcome;
}

void SmtpSession::CloseSocket(SessionEnd outcome) {
    if (std::exchange(removalPending_, false) && store_.RemoveSentWaiting() != StoreStatus::kOk) {
        // They are noted as sent: the next start takes them out, and no
        // session sends them before.
        out_.notices.push_back("送信したメッセージを送信待ちから削除できませんでした（次の起動時に削除します）"_sjis);
        Status("Sent Messages Not Removed from the Waiting Folder");
        outcome = SessionEnd::Failed;
    }
    phase_ = Phase::Idle;
    grouped_ = dataInFlight_ = false;
    reader_.Clear();
    repliesDue_.clear();
    queue_.clear();
    out_.close = true;
    out_.ended = outcome;
}

} // namespace tegalo
