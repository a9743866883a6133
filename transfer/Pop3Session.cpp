#include "transfer/Pop3Session.h"

#include "store/FileIo.h"
#include "store/Record.h"

#include "text/jis.h"
#include "text/unicode.h"
#include "transfer/ShownText.h"

#include <nettle/md5.h>
#include <nettle/sha2.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>
#include <utility>

namespace tegalo {
namespace {

using namespace tegalo::literals;

bool IsOk(std::string_view reply) {
    return reply.starts_with("+OK");
}

// "+OK <digits>[ ...]": the count, or -1.
long ParseStatCount(std::string_view reply) {
    if (!reply.starts_with("+OK ")) {
        return -1;
    }
    const std::string_view rest = reply.substr(4);
    const std::string_view digits = rest.substr(0, rest.find(' '));
    if (digits.empty() || digits.size() > 7) {
        return -1;
    }
    long count = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return -1;
        }
        count = count * 10 + (c - '0');
    }
    return count <= Pop3Session::kMaxMessageCount ? count : -1;
}

// The lines "<number> <id>" of a UIDL listing by message number, or an empty
// map when any line is malformed (the ids are then not to be trusted).
std::map<long, std::string> ParseUidlListing(std::string_view listing, long messageCount, bool& ok) {
    std::map<long, std::string> ids;
    ok = true;
    while (!listing.empty()) {
        const std::size_t end = listing.find(kCrLf);
        const std::string_view line = listing.substr(0, end);
        listing.remove_prefix(end == std::string_view::npos ? listing.size() : end + 2);
        const std::size_t blank = line.find(' ');
        const std::string_view number = line.substr(0, blank);
        const std::string_view id = blank == std::string_view::npos ? std::string_view() : line.substr(blank + 1);
        long n = 0;
        bool digits = !number.empty() && number.size() <= 7;
        for (const char c : number) {
            digits = digits && c >= '0' && c <= '9';
            if (!digits) {
                break; // nor is a longer number read on: it could overflow
            }
            n = n * 10 + (c - '0');
        }
        if (!digits || n < 1 || n > messageCount || !IsValidUidl(id) || ids.count(n) != 0) {
            ok = false;
            return {};
        }
        ids.emplace(n, std::string(id));
    }
    return ids;
}

// The stored list belongs to the account `key` ("user@host"): lists written
// before the key left out the port ("user@host:port") count as well, so that
// moving the same account to another port or to TLS fetches nothing twice.
bool SameAccount(std::string_view stored, std::string_view key) {
    if (stored == key) {
        return true;
    }
    if (!stored.starts_with(key) || stored.size() < key.size() + 2 || stored[key.size()] != ':') {
        return false;
    }
    const std::string_view port = stored.substr(key.size() + 1);
    return std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

Pop3Account Pop3AccountFrom(const AccountSettings& settings) {
    return Pop3Account{settings.serverName,   settings.pop3Port,     settings.userName, settings.password,
                       settings.keepOnServer, settings.pop3Security, settings.pop3Login};
}

std::string ApopDigest(std::string_view timestamp, std::string_view password) {
    const std::string input = std::string(timestamp) + std::string(password);
    md5_ctx context;
    md5_init(&context);
    md5_update(&context, input.size(), reinterpret_cast<const std::uint8_t*>(input.data()));
    std::uint8_t digest[MD5_DIGEST_SIZE];
    md5_digest(&context, MD5_DIGEST_SIZE, digest);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (const std::uint8_t byte : digest) {
        hex.push_back(kHex[byte >> 4]);
        hex.push_back(kHex[byte & 15]);
    }
    return hex;
}

std::string ApopTimestamp(std::string_view greeting) {
    const std::size_t open = greeting.find('<');
    if (open == std::string_view::npos) {
        return {};
    }
    const std::size_t close = greeting.find('>', open);
    if (close == std::string_view::npos) {
        return {};
    }
    const std::string_view stamp = greeting.substr(open, close - open + 1);
    // RFC 1939 calls it a msg-id: printable, without blanks, with an "@".
    if (stamp.find('@') == std::string_view::npos ||
        !std::all_of(stamp.begin(), stamp.end(), [](char c) { return c > 0x20 && c < 0x7F; })) {
        return {};
    }
    return std::string(stamp);
}

std::string LoginRefusedText(std::string_view reply) {
    return "ユーザ名またはパスワードが拒否されました"_sjis + " (" + ShownReply(reply) + ")";
}

std::string Pop3FailureText(Pop3State state, std::string_view reply) {
    int step = 0;
    std::string suffix;
    switch (state) {
    case Pop3State::Greeting:
        step = 1;
        suffix = " ＩＤエラー"_sjis;
        break;
    case Pop3State::UserSent:
        step = 2;
        suffix = " パスワードエラー"_sjis;
        break;
    case Pop3State::PassSent:
        step = 3;
        break;
    case Pop3State::StatSent:
        step = 4;
        break;
    case Pop3State::RetrSent:
        step = 5;
        break;
    case Pop3State::DeleSent:
        step = 1; // a refused DELE has always shown as step 1
        break;
    case Pop3State::QuitSent:
        step = 6; // the server did not confirm the deletions
        break;
    default:
        step = 0;
        break;
    }
    return std::to_string(step) + " " + ShownReply(reply) + suffix;
}

std::string MessagesReceivedText(int count) {
    return std::to_string(count) + " Messages Recieved";
}

std::string MessagesReceivedDeletedText(int count) {
    return std::to_string(count) + " Messages Received! Server messages Deleted";
}

std::string EarlierMessagesDeletedText(int count) {
    return "No New Message! " + std::to_string(count) + " Stored Messages Deleted from Server";
}

std::string ReceiveStoppedText(int count) {
    return "受信を中止しました（"_sjis + std::to_string(count) + "件受信）"_sjis;
}

Pop3Session::Pop3Session(ReceiveStore& store, UidlStore* uidl) : store_(store), uidlStore_(uidl) {}

Pop3Output Pop3Session::StartReceive(const Pop3Account& account) {
    if (phase_ != Phase::Idle) {
        Status("Session Running: Request Ignored");
        return std::exchange(out_, {});
    }
    if (account.serverName.empty() || account.pop3Port <= 0 || account.pop3Port > 65535) {
        out_.notices.push_back("サーバ名またはポートNoを設定して下さい"_sjis);
        return std::exchange(out_, {});
    }
    account_ = account;
    phase_ = Phase::Connecting;
    idleTicks_ = 0;
    stopping_ = false;
    out_.connect = true;
    out_.tls = account.security == Security::Implicit;
    return std::exchange(out_, {});
}

Pop3Output Pop3Session::OnServerConnect() {
    if (phase_ != Phase::Connecting) {
        return std::exchange(out_, {});
    }
    phase_ = Phase::Running;
    ConnectionOpened(account_.security == Security::Implicit);
    idleTicks_ = 0;
    sessionState = Pop3State::Greeting;
    sasl_.Reset();
    timestamp_.clear();
    capaAnswered_ = offersStls_ = pipelining_ = false;
    saslMechanisms_.clear();
    retrieveLeft = nextRetrieve = deleteLeft = nextDelete = 0;
    reader_.Clear();
    CurrentMessage = {};
    messageCount_ = 0;
    retrievePlan_.clear();
    retrieveIndex_ = 0;
    retrieveAll_ = false;
    uidOf_.clear();
    deletePlan_.clear();
    deleteIndex_ = 0;
    stopRetrieving_ = false;
    commandRefused_ = false;
    discardInFlight_ = false;
    retrInFlight_.clear();
    deleInFlight_ = 0;
    deleRefused_.clear();
    deletionsSent_ = false;
    stopping_ = false;
    pendingEnd_ = SessionEnd::None;
    received_ = 0;
    earlierStored_ = 0;
    replaced_ = 0;
    kept_ = 0;
    keptReasons_.clear();

    useDigests_ = false;
    digestsChanged_ = false;
    plannedAll_ = false;
    retrievedAll_ = false;
    digests_ = {};
    digestOf_.clear();
    seenDigests_.clear();
    if (digestStore_ != nullptr) {
        UidlLoad loaded = digestStore_->Load();
        if (loaded.ok) {
            useDigests_ = true;
            digests_.account = AccountKey();
            if (SameAccount(loaded.list.account, digests_.account)) {
                digests_.marks = std::move(loaded.list.marks);
            }
        } else {
            out_.notices.push_back(loaded.error);
        }
    }
    useUidl_ = false;
    uidlChanged_ = false;
    uidl_ = {};
    if (uidlStore_ != nullptr) {
        UidlLoad loaded = uidlStore_->Load();
        if (loaded.ok) {
            useUidl_ = true;
            uidl_.account = AccountKey();
            if (SameAccount(loaded.list.account, uidl_.account)) {
                uidl_.marks = std::move(loaded.list.marks);
            }
        } else {
            // Without the list every message is fetched again; the file is
            // left alone so that nothing in it is lost.
            out_.notices.push_back(loaded.error);
        }
    }
    Status("Server Connection OK");
    return std::exchange(out_, {});
}

void Pop3Session::ConnectFailed(std::string_view reason) {
    EndConnectFailed(reason);
}

void Pop3Session::TlsStarted() {
    // What the server offered in the clear may have been changed on the way.
    capaAnswered_ = offersStls_ = pipelining_ = false;
    saslMechanisms_.clear();
    if (account_.login == Pop3Login::Automatic) {
        SendCommand("CAPA");
        sessionState = Pop3State::CapaSent;
        return;
    }
    Login();
}

// CAPA was answered (or refused): STLS when it is due, else the login.
void Pop3Session::AfterCapabilities() {
    if (account_.security == Security::StartTls && !encrypted_) {
        // A server that answered CAPA without STLS does not have it; one that
        // has no CAPA may still have STLS.
        if (capaAnswered_ && !offersStls_) {
            Status("STLS Not Offered by the Server: Nothing Sent");
            return Quit(SessionEnd::Failed);
        }
        SendCommand("STLS");
        sessionState = Pop3State::StlsSent;
        return;
    }
    Login();
}

void Pop3Session::Login() {
    if (account_.security != Security::None && !encrypted_) {
        // Never reached: the password waits for the handshake.
        Status("TLS Not Established: Nothing Sent");
        return Quit(SessionEnd::Failed);
    }
    Pop3Login login = account_.login;
    std::string mechanism;
    if (login == Pop3Login::Automatic) {
        mechanism = StrongestSaslMechanism(saslMechanisms_);
        login = !mechanism.empty() ? Pop3Login::Automatic
                : !timestamp_.empty() ? Pop3Login::Apop
                                      : Pop3Login::UserPass;
    }
    switch (login) {
    case Pop3Login::UserPass:
        SendCommand("USER " + account_.userName);
        sessionState = Pop3State::UserSent;
        return;
    case Pop3Login::Apop:
        if (timestamp_.empty()) {
            Status("APOP Not Offered by the Server: Nothing Sent");
            return Quit(SessionEnd::Failed);
        }
        SendCommand("APOP " + account_.userName + " " + ApopDigest(timestamp_, account_.password));
        sessionState = Pop3State::ApopSent;
        return;
    case Pop3Login::Automatic:
        break;
    }
    if (std::string error = sasl_.Start(mechanism, account_.userName, account_.password); !error.empty()) {
        Status("SASL: " + error);
        return Quit(SessionEnd::Failed);
    }
    sessionState = Pop3State::AuthSent;
    if (!sasl_.ClientFirst()) {
        return SendCommand("AUTH " + mechanism);
    }
    std::string response;
    if (sasl_.Step("", response) == SaslClient::Result::Failed) {
        Status("SASL: " + response);
        return Quit(SessionEnd::Failed);
    }
    SendCommand("AUTH " + mechanism + " " + (response.empty() ? std::string("=") : response));
}

void Pop3Session::OnAuthLine(const std::string& line) {
    if (IsOk(line)) {
        sasl_.Reset();
        SendCommand("STAT");
        sessionState = Pop3State::StatSent;
        return;
    }
    if (!line.starts_with("+ ") && line != "+") {
        sasl_.Reset();
        Status(LoginRefusedText(line));
        return Quit(SessionEnd::Failed);
    }
    std::string response;
    if (sasl_.Step(line.size() > 2 ? std::string_view(line).substr(2) : std::string_view(), response) ==
        SaslClient::Result::Failed) {
        sasl_.Reset();
        SendCommand("*"); // cancels the exchange (RFC 5034)
        Status("SASL: " + response);
        pendingEnd_ = SessionEnd::Failed;
        sessionState = Pop3State::QuitSent; // the answer to "*" ends it; QUIT follows
        SendCommand("QUIT");
        return;
    }
    SendCommand(response);
}

void Pop3Session::OnCapaListing(const std::string& listing) {
    capaAnswered_ = true;
    std::string_view rest = listing;
    while (!rest.empty()) {
        const std::size_t end = rest.find(kCrLf);
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 2);
        std::string upper(line.substr(0, line.find(' ')));
        std::transform(upper.begin(), upper.end(), upper.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        if (upper == "STLS") {
            offersStls_ = true;
        } else if (upper == "SASL") {
            saslMechanisms_ = SaslWords(line);
        } else if (upper == "PIPELINING") {
            pipelining_ = true;
        }
    }
    AfterCapabilities();
}

void Pop3Session::StepSession() {
    while (phase_ == Phase::Running) {
        if (sessionState == Pop3State::TlsHandshake) {
            return;
        }
        if (sessionState == Pop3State::MessageText || sessionState == Pop3State::UidlListing ||
            sessionState == Pop3State::CapaListing) {
            std::string block;
            bool truncated = false;
            if (reader_.TakeBlock(block, &truncated) != Pop3Reader::Result::Complete) {
                return;
            }
            if (sessionState == Pop3State::MessageText) {
                OnMessageText(block, truncated);
            } else if (sessionState == Pop3State::CapaListing) {
                OnCapaListing(block);
            } else {
                OnUidlListing(block, truncated);
            }
            continue;
        }
        std::string line;
        switch (reader_.TakeLine(line)) {
        case Pop3Reader::Result::NeedMore:
            return;
        case Pop3Reader::Result::TooLong:
            reader_.Clear();
            if (sessionState == Pop3State::QuitSent) {
                return CloseSocket(pendingEnd_); // QUIT goes out once, whatever follows
            }
            Fail("(reply longer than " + std::to_string(Pop3Reader::kMaxStatusLine) + " bytes)");
            return;
        case Pop3Reader::Result::Complete:
            OnStatusLine(line);
            break;
        }
    }
}

namespace {

// The name under which a status line in `state` is a phase for crash tests.
std::string_view Pop3PhaseName(Pop3State state) {
    switch (state) {
    case Pop3State::Greeting:
        return "pop3-greeting";
    case Pop3State::UidlSent:
        return "pop3-uidl";
    case Pop3State::RetrSent:
        return "pop3-retr";
    case Pop3State::DeleSent:
        return "pop3-dele";
    case Pop3State::QuitSent:
        return "pop3-quit";
    default:
        return {};
    }
}

} // namespace

void Pop3Session::OnStatusLine(const std::string& line) {
    if (const std::string_view phase = Pop3PhaseName(sessionState); !phase.empty()) {
        ReachedPhase(phase);
    }
    switch (sessionState) {
    case Pop3State::Greeting:
        if (!IsOk(line)) {
            return Fail(line);
        }
        timestamp_ = ApopTimestamp(line);
        if (account_.security == Security::StartTls ||
            (account_.login == Pop3Login::Automatic && account_.security == Security::None)) {
            SendCommand("CAPA");
            sessionState = Pop3State::CapaSent;
            return;
        }
        if (account_.login == Pop3Login::Automatic) {
            return TlsStarted(); // TLS from the start: the capabilities are asked now
        }
        return Login();
    case Pop3State::CapaSent:
        if (IsOk(line)) {
            sessionState = Pop3State::CapaListing;
            return;
        }
        return AfterCapabilities(); // no CAPA: nothing is known of the server
    case Pop3State::StlsSent:
        if (!IsOk(line)) {
            Status("STLS Refused: " + ShownReply(line));
            return Quit(SessionEnd::Failed);
        }
        sessionState = Pop3State::TlsHandshake;
        return BeginTls();
    case Pop3State::ApopSent:
        if (!IsOk(line)) {
            Status(LoginRefusedText(line));
            return Quit(SessionEnd::Failed);
        }
        SendCommand("STAT");
        sessionState = Pop3State::StatSent;
        return;
    case Pop3State::AuthSent:
        return OnAuthLine(line);
    case Pop3State::UserSent:
        if (!IsOk(line)) {
            return Fail(line);
        }
        SendCommand("PASS " + account_.password);
        sessionState = Pop3State::PassSent;
        return;
    case Pop3State::PassSent:
        if (!IsOk(line)) {
            return Fail(line);
        }
        SendCommand("STAT");
        sessionState = Pop3State::StatSent;
        return;
    case Pop3State::StatSent: {
        const long count = ParseStatCount(line);
        if (count < 0) {
            return Fail(line);
        }
        if (count == 0) {
            Status("No New Message");
            return Quit(SessionEnd::Normal);
        }
        messageCount_ = static_cast<int>(count);
        if (useUidl_) {
            SendCommand("UIDL");
            sessionState = Pop3State::UidlSent;
            return;
        }
        PlanAll();
        return RetrieveNextOrFinish();
    }
    case Pop3State::UidlSent:
        if (IsOk(line)) {
            sessionState = Pop3State::UidlListing;
            return;
        }
        // A server without UIDL: every message is fetched.
        PlanAll();
        return RetrieveNextOrFinish();
    case Pop3State::RetrSent:
        if (!IsOk(line)) {
            // The RETRs still in flight are answered before QUIT is sent.
            if (!commandRefused_) {
                Status(Pop3FailureText(Pop3State::RetrSent, line));
            }
            commandRefused_ = true;
            stopRetrieving_ = true;
            discardInFlight_ = true;
            retrInFlight_.pop_front();
            return RetrieveNextOrFinish();
        }
        sessionState = Pop3State::MessageText;
        return;
    case Pop3State::DeleSent:
        --deleInFlight_;
        if (!IsOk(line)) {
            if (!commandRefused_) {
                Status(Pop3FailureText(Pop3State::DeleSent, line));
            }
            commandRefused_ = true;
            // The refused message stays on the server: its id must stay too.
            deleRefused_.insert(deletePlan_[deleteIndex_ - static_cast<std::size_t>(deleInFlight_) - 1]);
        }
        return DeleteNextOrFinish();
    case Pop3State::QuitSent:
        if (deletionsSent_) {
            if (!IsOk(line)) {
                Status(Pop3FailureText(Pop3State::QuitSent, line));
                return CloseSocket(SessionEnd::Failed);
            }
            // Deleted for good: their ids can go, the server may use them again.
            for (std::size_t i = 0; i < deleteIndex_; ++i) {
                const int number = deletePlan_[i];
                const auto id = uidOf_.find(number);
                if (id != uidOf_.end() && deleRefused_.count(number) == 0) {
                    uidlChanged_ = uidl_.marks.erase(id->second) > 0 || uidlChanged_;
                }
            }
            ForgetDeletedDigests();
        }
        return CloseSocket(pendingEnd_);
    default:
        return;
    }
}

void Pop3Session::OnUidlListing(const std::string& listing, bool truncated) {
    bool ok = false;
    const std::map<long, std::string> ids = ParseUidlListing(listing, messageCount_, ok);
    // A listing that leaves messages out cannot be trusted either; nothing
    // is sized by the count STAT claimed, only by the ids that came.
    if (!ok || truncated || ids.size() != static_cast<std::size_t>(messageCount_)) {
        PlanAll();
        return RetrieveNextOrFinish();
    }
    uidOf_.clear();
    std::map<std::string, UidlMark, std::less<>> stillThere;
    for (const auto& [listed, uid] : ids) {
        const int number = static_cast<int>(listed);
        const auto id = uidOf_.emplace(number, uid).first;
        const auto known = uidl_.marks.find(id->second);
        if (known == uidl_.marks.end()) {
            retrievePlan_.push_back(number);
            continue;
        }
        stillThere.insert(*known);
        if (known->second == UidlMark::Stored && !account_.keepOnServer) {
            deletePlan_.push_back(number); // stored whole by an earlier session
            ++earlierStored_;
        }
    }
    // Ids the server no longer lists are forgotten.
    if (stillThere.size() != uidl_.marks.size()) {
        uidl_.marks = std::move(stillThere);
        uidlChanged_ = true;
    }
    RetrieveNextOrFinish();
}

void Pop3Session::OnMessageText(const std::string& text, bool truncated) {
    const int number = retrInFlight_.front();
    retrInFlight_.pop_front();
    if (discardInFlight_) {
        // Sent before the store stopped or a RETR was refused: left on the
        // server, unmarked, for the next session.
        return RetrieveNextOrFinish();
    }
    std::optional<KeptReason> reason;
    bool stored = false;
    if (truncated) {
        CurrentMessage = {};
        reason = KeptReason::TooLarge;
    } else if (KnownByDigest(number, text)) {
        // Stored or kept by an earlier session (a server without UIDL).
        return RetrieveNextOrFinish();
    } else {
        CurrentMessage = SplitReceivedMessage(text);
        if (CurrentMessage.jisError) {
            out_.notices.push_back("JIS code Error");
        }
        // A store that keeps the message itself stores it whole whatever
        // its record has to leave out.
        const bool originals = store_.KeepsOriginals();
        if (!CurrentMessage.DropAttachmentsToFit() && !(originals && CurrentMessage.CutTextToFit())) {
            reason = KeptReason::TooLarge;
        } else {
            const StoreResult result =
                originals ? store_.AddReceivedWithOriginal(CurrentMessage.Sizes(), CurrentMessage.RecordText(), text)
                          : store_.AddReceived(CurrentMessage.Sizes(), CurrentMessage.RecordText());
            switch (result) {
            case StoreResult::Stored:
                stored = true;
                break;
            case StoreResult::TooLarge:
                reason = KeptReason::TooLarge;
                break;
            case StoreResult::FolderFull:
                reason = KeptReason::FolderFull;
                stopRetrieving_ = discardInFlight_ = true;
                break;
            case StoreResult::WriteFailed:
                reason = KeptReason::NotWritten;
                stopRetrieving_ = discardInFlight_ = true;
                break;
            }
        }
        if (stored && store_.KeepsOriginals()) {
            // Nothing was lost: the original holds what the record left out.
        } else if (stored && CurrentMessage.partsLeftOut > 0) {
            reason = KeptReason::PartsLeftOut;
        } else if (stored && CurrentMessage.nulRemoved) {
            reason = KeptReason::NulRemoved;
        }
    }
    if (stored) {
        ++received_;
        replaced_ += CurrentMessage.replaced;
    }
    if (reason) {
        ++kept_;
        keptReasons_.insert(*reason);
    } else if (!account_.keepOnServer) {
        deletePlan_.push_back(number);
    }
    // Remembered unless the store could not write: that may pass, so such a
    // message is tried again by the next session.
    const bool transient = reason == KeptReason::NotWritten || reason == KeptReason::FolderFull;
    const auto id = uidOf_.find(number);
    if (useUidl_ && id != uidOf_.end() && !transient) {
        uidl_.marks[id->second] = reason ? UidlMark::Kept : UidlMark::Stored;
        uidlChanged_ = true;
    }
    if (!transient) {
        RememberDigest(number, reason ? UidlMark::Kept : UidlMark::Stored);
    }
    ReachedPhase("pop3-store");
    RetrieveNextOrFinish();
}

bool Pop3Session::KnownByDigest(int number, const std::string& text) {
    const bool hasId = useUidl_ && uidOf_.count(number) > 0;
    if (!useDigests_ || hasId) {
        return false;
    }
    sha256_ctx context;
    sha256_init(&context);
    sha256_update(&context, text.size(), reinterpret_cast<const std::uint8_t*>(text.data()));
    std::uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&context, sizeof digest, digest);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (const std::uint8_t byte : digest) {
        hex += kHex[byte >> 4];
        hex += kHex[byte & 0x0f];
    }
    if (digestOf_.size() <= static_cast<std::size_t>(number)) {
        digestOf_.resize(static_cast<std::size_t>(number) + 1);
    }
    digestOf_[static_cast<std::size_t>(number)] = hex;
    seenDigests_.insert(hex);
    const auto known = digests_.marks.find(hex);
    if (known == digests_.marks.end()) {
        return false;
    }
    if (known->second == UidlMark::Stored && !account_.keepOnServer) {
        deletePlan_.push_back(number);
        ++earlierStored_;
    }
    return true;
}

void Pop3Session::RememberDigest(int number, UidlMark mark) {
    if (useDigests_ && static_cast<std::size_t>(number) < digestOf_.size() && !digestOf_[number].empty()) {
        digests_.marks[digestOf_[number]] = mark;
        digestsChanged_ = true;
    }
}

void Pop3Session::ForgetDeletedDigests() {
    for (std::size_t i = 0; i < deleteIndex_; ++i) {
        const auto number = static_cast<std::size_t>(deletePlan_[i]);
        if (number < digestOf_.size() && !digestOf_[number].empty() && deleRefused_.count(deletePlan_[i]) == 0) {
            digestsChanged_ = digests_.marks.erase(digestOf_[number]) > 0 || digestsChanged_;
        }
    }
}

void Pop3Session::PlanAll() {
    // Every number up to the count, one after the other: a server that
    // claims millions is answered by RETR, not by reserving room for them.
    plannedAll_ = true;
    retrievePlan_.clear();
    retrieveIndex_ = 0;
    retrieveAll_ = true;
}

void Pop3Session::RetrieveNextOrFinish() {
    const std::size_t window = pipelining_ ? kWindow : 1;
    const std::size_t planned = retrieveAll_ ? static_cast<std::size_t>(messageCount_) : retrievePlan_.size();
    while (retrInFlight_.size() < window && retrieveIndex_ < planned && !stopRetrieving_) {
        nextRetrieve = retrieveAll_ ? static_cast<int>(retrieveIndex_) + 1 : retrievePlan_[retrieveIndex_];
        ++retrieveIndex_;
        retrieveLeft = static_cast<int>(planned - retrieveIndex_);
        retrInFlight_.push_back(nextRetrieve);
        SendCommand("RETR " + std::to_string(nextRetrieve));
    }
    if (!retrInFlight_.empty()) {
        sessionState = Pop3State::RetrSent;
        return;
    }
    retrieveLeft = 0;
    if (commandRefused_) {
        return Quit(SessionEnd::Failed);
    }
    retrievedAll_ = plannedAll_ && !stopRetrieving_;
    // What was stored must be on the disk before anything is deleted, and
    // the ids of the batch with it, at the same moment: a session stopped
    // anywhere after (the server then deletes nothing) leaves the next one
    // to delete these messages, not to store them again.
    if (!CommitBatchAndIds()) {
        Status("Messages Not Saved to Disk: Nothing Deleted from the Server");
        return Quit(SessionEnd::Failed);
    }
    SaveUidl();
    if (account_.keepOnServer || deletePlan_.empty()) {
        Status(FinalText(false));
        return Quit(EndOutcome());
    }
    std::sort(deletePlan_.begin(), deletePlan_.end());
    deleteIndex_ = 0;
    DeleteNextOrFinish();
}

void Pop3Session::DeleteNextOrFinish() {
    const std::size_t window = pipelining_ ? kWindow : 1;
    while (deleInFlight_ < window && deleteIndex_ < deletePlan_.size() && !commandRefused_) {
        nextDelete = deletePlan_[deleteIndex_++];
        deleteLeft = static_cast<int>(deletePlan_.size() - deleteIndex_);
        deletionsSent_ = true;
        ++deleInFlight_;
        SendCommand("DELE " + std::to_string(nextDelete));
    }
    if (deleInFlight_ > 0) {
        sessionState = Pop3State::DeleSent;
        return;
    }
    deleteLeft = 0;
    if (commandRefused_) {
        return Quit(SessionEnd::Failed);
    }
    Status(FinalText(true));
    Quit(EndOutcome());
}

SessionEnd Pop3Session::EndOutcome() const {
    // Messages the store could not take are still on the server, but the
    // session did not do its work: the caller must learn it.
    const bool storeFailed =
        keptReasons_.count(KeptReason::NotWritten) > 0 || keptReasons_.count(KeptReason::FolderFull) > 0;
    return storeFailed ? SessionEnd::Failed : SessionEnd::Normal;
}

bool Pop3Session::CommitBatchAndIds() {
    PruneDigests();
    // The ids and the digests of the batch go in place with it; a list that
    // cannot be staged is saved after the commit, as a store without
    // companions has it.
    std::vector<std::string> staged;
    auto stage = [&](bool wanted, UidlStore* list, const UidlList& marks, bool changed) {
        if (!wanted || !changed || list == nullptr || !store_.TakesCompanion() || list->StagedName().empty()) {
            return false;
        }
        if (std::string error = list->Stage(marks); !error.empty()) {
            out_.notices.push_back(std::move(error));
            return false;
        }
        staged.push_back(list->StagedName());
        return true;
    };
    const bool idsStaged = stage(useUidl_, uidlStore_, uidl_, uidlChanged_);
    const bool digestsStaged = stage(useDigests_, digestStore_, digests_, digestsChanged_);
    if (staged.empty()) {
        return store_.Commit();
    }
    if (!store_.CommitWith(staged)) {
        return false;
    }
    uidlChanged_ = uidlChanged_ && !idsStaged;
    digestsChanged_ = digestsChanged_ && !digestsStaged;
    return true;
}

void Pop3Session::PruneDigests() {
    if (useDigests_ && retrievedAll_) {
        // Every message on the server was seen: digests of the others name
        // messages no longer there.
        for (auto it = digests_.marks.begin(); it != digests_.marks.end();) {
            if (seenDigests_.count(it->first) == 0) {
                it = digests_.marks.erase(it);
                digestsChanged_ = true;
            } else {
                ++it;
            }
        }
    }
}

void Pop3Session::SaveUidl() {
    PruneDigests();
    if (useDigests_ && digestsChanged_) {
        if (std::string error = digestStore_->Save(digests_); !error.empty()) {
            out_.notices.push_back(std::move(error));
        }
        digestsChanged_ = false;
    }
    if (useUidl_ && uidlChanged_ && uidlStore_ != nullptr) {
        if (std::string error = uidlStore_->Save(uidl_); !error.empty()) {
            out_.notices.push_back(std::move(error));
        }
        uidlChanged_ = false;
    }
}

std::string Pop3Session::FinalText(bool deleted) const {
    if (received_ == 0 && kept_ == 0) {
        if (deleted && earlierStored_ > 0) {
            return EarlierMessagesDeletedText(earlierStored_);
        }
        return "No New Message";
    }
    std::string text = deleted ? MessagesReceivedDeletedText(received_) : MessagesReceivedText(received_);
    if (kept_ > 0) {
        text += ", " + std::to_string(kept_) + " Kept on Server (";
        bool first = true;
        for (const KeptReason reason : keptReasons_) {
            text += first ? "" : ", ";
            first = false;
            switch (reason) {
            case KeptReason::TooLarge:
                text += "too large to store";
                break;
            case KeptReason::PartsLeftOut:
                text += "attachments left out";
                break;
            case KeptReason::NulRemoved:
                text += "NUL bytes removed";
                break;
            case KeptReason::FolderFull:
                text += "received folder full";
                break;
            case KeptReason::NotWritten:
                text += "received folder not written";
                break;
            }
        }
        text += ")";
    }
    if (replaced_ > 0) {
        text += ", " + std::to_string(replaced_) + " Characters Shown as " + "〓"_sjis;
    }
    return text;
}

std::string Pop3Session::AccountKey() const {
    return account_.userName + "@" + account_.serverName;
}

void Pop3Session::SendCommand(std::string line) {
    sendLine = std::move(line);
    out_.send += sendLine;
    out_.send += kCrLf;
}

bool Pop3Session::QuitSent() const {
    return sessionState == Pop3State::QuitSent;
}

void Pop3Session::Fail(std::string_view reply) {
    Status(Pop3FailureText(sessionState, reply));
    Quit(SessionEnd::Failed);
}

void Pop3Session::Quit(SessionEnd outcome) {
    SendCommand("QUIT");
    sessionState = Pop3State::QuitSent;
    if (stopping_ && outcome == SessionEnd::Normal) {
        Status(ReceiveStoppedText(received_));
        outcome = SessionEnd::Stopped;
    }
    pendingEnd_ = outcome;
}

void Pop3Session::CloseSocket(SessionEnd outcome) {
    phase_ = Phase::Idle;
    // A session that ends early (stopped, failed) commits its batch here,
    // the ids of the batch with it.
    if (!CommitBatchAndIds()) {
        out_.notices.push_back("Messages Not Saved to Disk");
        outcome = SessionEnd::Failed;
    }
    reader_.Clear();
    out_.close = true;
    out_.ended = outcome;
    SaveUidl();
}

} // namespace tegalo
