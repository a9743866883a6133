// The SMTP send session (RFC 5321) as a state machine that is fed events and
// answers with what to do, like the receive session. It never touches a
// socket, a clock or a file: the socket adapter hands it the connection's
// events and carries out each SmtpOutput, the SendStore gives the messages
// and takes the sent copies, the Clock gives the time of sending.
//
// A session: greeting, EHLO, then for each message one transaction of MAIL
// FROM, one RCPT TO per recipient, DATA and the message text, then QUIT. An
// accepted message ("250" to its text) is first noted as sent, so that it
// is never sent again, then filed in the sent folder; it leaves the waiting
// folder when the session ends. A failure to store either stops the session
// at once (QUIT, no further message) and ends it as failed. A refused one (MAIL FROM, any RCPT TO,
// DATA or the text refused) stays where it was; before the next message the
// session sends RSET, because after a refusal part of the transaction may
// still stand on the server. After an accepted message the server has
// already reset the transaction, so the next MAIL FROM follows at once.
// Failures of the connection itself (greeting, EHLO, a closed or silent
// connection, "421") end the session; the messages not yet accepted stay.
//
// TLS and login: with STARTTLS (RFC 3207) the session sends STARTTLS when the
// EHLO answer offers it, has the adapter run the TLS handshake and sends
// EHLO again; with SMTPS the connection is encrypted from the start. A login
// (SMTP AUTH, RFC 4954) follows the last EHLO, with a mechanism from its
// answer. A session that was to be encrypted never logs in, and sends no
// message, before it is.
//
// A server whose EHLO answer offers PIPELINING (RFC 2920) gets MAIL FROM, the
// RCPT TO commands and DATA as one group, at most kWindow of them in flight;
// the replies are matched to them in turn. After a refused MAIL FROM or RCPT
// TO no more of the group goes out; should DATA still be answered 354, the
// connection is closed without the message text, so that the server drops
// the transaction and nothing reaches only some recipients. Every other
// server gets one command at a time.
//
// Every address and header value is checked before the connection is made:
// a message that cannot be sent safely is refused with a notice and never
// reaches the server.
#pragma once

#include "config/AccountSettings.h"
#include "transfer/SaslClient.h"
#include "transfer/SessionConnection.h"
#include "transfer/MailDate.h"
#include "transfer/SendStore.h"
#include "transfer/SessionEnd.h"
#include "transfer/SmtpReader.h"

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace tegalo {

struct SmtpAccount {
    std::string serverName;  // the POP3 server; the SMTP server too when serverName2 is empty
    std::string serverName2; // the SMTP server
    int smtpPort = 25;
    std::string mailAccount; // the user's address
    std::string displayName; // the user's name, Shift_JIS
    Security security = Security::None;
    SmtpLogin login = SmtpLogin::None;
    std::string userName{};  // for the login
    std::string password{};
};

SmtpAccount SmtpAccountFrom(const AccountSettings& settings);

// The session states. The numbers are those Tegalo has always shown and
// used; 38 to 41 are states it did not have before.
enum class SmtpState : int {
    Idle = 0,            // no session has run yet
    Greeting = 31,       // connected, waiting for the server's greeting
    EhloSent = 32,       // EHLO sent, waiting for its answer
    MailOrRcptSent = 33, // MAIL FROM, or a RCPT TO that is not the last, sent
    LastRcptSent = 34,   // the last RCPT TO sent
    DataSent = 35,       // DATA sent, waiting for the go-ahead
    MessageSent = 36,    // the message text sent, waiting for its acceptance
    QuitSent = 37,       // QUIT sent, waiting for the goodbye
    RsetSent = 38,       // RSET sent after a refused message, before the next one
    StartTlsSent = 39,   // STARTTLS sent, waiting for the go-ahead
    TlsHandshake = 40,   // the adapter runs the TLS handshake
    AuthSent = 41,       // AUTH sent, exchanging challenges and responses
};

// What the adapter does after an event, in this order: connect, send,
// show the status texts (the last one stays in the status bar), show the
// notices, close.
struct [[nodiscard]] SmtpOutput {
    bool connect = false;                 // connect to `host` at `port`
    bool tls = false;                     // with connect: TLS from the start
    std::string host;
    int port = 0;
    bool startTls = false;                // after writing `send`: run the TLS handshake
    std::string send;                     // bytes to write to the connection, whole
    std::vector<std::string> statusTexts; // Shift_JIS, for the status bar
    // Shift_JIS reports, such as a message refused before sending. They
    // must not block the session: show them without a nested event loop,
    // or after it ended.
    std::vector<std::string> notices;
    bool close = false;                   // close the connection (after writing `send`)
    SessionEnd ended = SessionEnd::None;  // set by the event that ended the session or the request
};

// The status text of a reply that fails in `state`: the step number, a
// blank, the reply (cut and cleaned as ShownReply does) and, for steps 3 and
// 4, a suffix without a blank. Step 5 is a refused message text, step 6 a
// refused RSET.
std::string SmtpFailureText(SmtpState state, std::string_view reply);

// The status text of a login the server refused (535): the user name or
// password was not accepted; the reply follows.
std::string SmtpLoginRefusedText(std::string_view reply);

// What a refusal on port 25 probably means when the provider blocks that
// port for mail from home lines: it wants the submission port 587 with a
// login. Appended to the status text of such a refusal.
std::string SubmissionPortHint();

// The last status text of a waiting-folder session that went through every
// message: "<n> Messages Sent", and ", <m> Refused" when any was refused.
std::string SentSummaryText(int sent, int refused);

// The last status text of a session the user stopped, with `sent` messages accepted.
std::string SendStoppedText(int sent);

// The server a session connects to: serverName2, or serverName when it is empty.
std::string SmtpServerName(const SmtpAccount& account);

// The domain of the EHLO command: the domain of the user's address; when
// that is no host name, an address literal for a server given as an IP
// address ("[127.0.0.1]"); failing both, serverName2 after its first "."
// (all of it without a ".", or when nothing follows the "."), or
// serverName as it is when serverName2 is empty.
std::string EhloDomain(const SmtpAccount& account);

// The address of a recipient entry: what stands between its first "<" and
// the next ">" (or the end), else the whole entry; blanks and tabs around it
// are dropped.
std::string RecipientAddress(std::string_view entry);

// Why `address` cannot go into "MAIL FROM:<...>" or "RCPT TO:<...>": empty,
// or holding CR, LF, NUL, another control byte, "<" or ">". Empty when it
// can; otherwise a Shift_JIS message naming `what` (a Shift_JIS word).
std::string AddressProblem(std::string_view address, std::string_view what);

// The text of DATA as it goes on the wire (RFC 5321 4.5.2): every line end
// CR LF, a "." doubled at the start of every line, a CR LF after a last
// line that lacks one, then the terminating ".\r\n".
std::string DataForWire(std::string_view message);

// The message as the send session keeps it while it goes out; the sent copy
// is made of these pieces.
struct SentMessage {
    std::string to;      // the recipients as typed
    std::string from;    // the sender piece of the sent copy: the recipients again
    std::string subject; // as typed
    std::string date;    // the date piece: SentCopyDate of the time of sending
    std::string header;  // the header lines, the MIME block and the empty line, as sent
    std::string body;    // the body as built, before dot-stuffing
};

class SmtpSession : public SessionConnection<SmtpSession, SmtpOutput> {
public:
    explicit SmtpSession(SendStore& store, Clock clock = SystemLocalTime);

    // Most commands of one group in flight with a server that offers PIPELINING.
    static constexpr int kWindow = 16;

    // Sends every message of the waiting folder. Reads and checks them all
    // first; when at least one can go, asks the adapter to connect. While a
    // session runs, a new one is refused with a status text.
    SmtpOutput SendWaiting(const SmtpAccount& account);

    // Sends one composed message (the compose dialog's send button): its
    // envelope, parts and recipients are ready, nothing is in the waiting
    // folder. Accepted, it is filed in the sent folder.
    SmtpOutput SendComposed(const SmtpAccount& account, OutgoingMessage message);

    // The connection asked for is open.
    SmtpOutput OnServerConnect();

    // The connection took some of the bytes to send: the server may well
    // stay silent while a long message goes out, so this counts as activity.
    SmtpOutput OnBytesWritten();
    // The user stops the session. A message whose text went out waits for
    // the server's answer: accepted, it is filed as sent; otherwise it stays
    // waiting. A transaction whose text did not go out is abandoned (QUIT,
    // or closing the connection once DATA was sent), and no further message
    // starts. A second stop, or one while QUIT waits for its answer, closes
    // at once; an unanswered message then stays waiting.
    SmtpOutput Stop();
    // Connection failures, arrivals, a closed or broken connection and the
    // one-second tick (no byte from the server, and none written, for
    // kReplyTimeoutTicks ends the session): see SessionConnection.

    SmtpState State() const { return sessionState; }
    // Messages accepted by the server, and messages refused (by the server
    // or before connecting), in the current or last session.
    int Sent() const { return sent_; }
    int Refused() const { return refused_; }
    // The waiting folder is being sent (not a single composed message).
    bool BatchSend() const { return batchSend; }
    // Messages of the session in all, and those not yet accepted or refused.
    int MessagesTotal() const { return messagesTotal; }
    int MessagesLeft() const { return messagesLeft; }
    // Recipients of the message in its transaction, and those whose RCPT TO
    // is still to be sent.
    int RecipientsTotal() const { return recipientsTotal; }
    int RecipientsLeft() const { return recipientsLeft; }
    // Replies the server owes: one for each command (and message text) sent
    // and not yet answered, and the greeting.
    std::size_t RepliesDue() const { return repliesDue_.size(); }
    // The last message that went out.
    const SentMessage& LastMessage() const { return CurrentMessage; }
    // The user asked the running session to stop.
    bool Stopping() const { return stopping_; }

private:
    friend class SessionConnection<SmtpSession, SmtpOutput>;
    bool QuitSent() const;

    struct Queued {
        OutgoingMessage message;
        std::string record; // the waiting record; empty for a composed message
    };

    bool CheckAccount(const SmtpAccount& account);
    std::string MessageProblem(const OutgoingMessage& message) const;
    void Connect();
    void ConnectFailed(std::string_view reason);
    void TlsStarted();
    void AfterEhlo(const SmtpReply& reply);
    void OnAuthReply(const SmtpReply& reply, const std::string& text);
    bool LooksLikePortBlocking(const SmtpReply& reply) const;
    void StepSession();
    bool InTurn();
    void OnReply(const SmtpReply& reply);
    void StartTransaction();
    void SendNextRecipient();
    void FillGroup();
    void OnGroupReply(const SmtpReply& reply, const std::string& text);
    void SendMessageText();
    void MessageAccepted();
    void StoreFailed(std::string notice, std::string_view what);
    void MessageRefused(std::string text);
    void NextOrFinish(bool afterRefusal);
    void SendCommand(std::string line);
    void Fail(std::string text);
    void Quit(SessionEnd outcome);
    void CloseSocket(SessionEnd outcome);

    SendStore& store_;
    Clock clock_;
    SmtpAccount account_;
    SmtpReader reader_;
    SaslClient sasl_;
    // For each command not yet answered, oldest first: how many bytes the
    // server had sent when it went out.
    std::deque<std::uint64_t> repliesDue_;

    SmtpState sessionState = SmtpState::Idle;
    std::string sendLine; // the last command sent, without its CR LF
    SentMessage CurrentMessage;
    bool batchSend = false;
    int messagesLeft = 0;
    int messagesTotal = 0;
    int recipientsLeft = 0;
    int recipientsTotal = 0;

    std::vector<Queued> queue_; // the messages that passed the checks, in order
    bool removalPending_ = false; // RemoveWaiting was called: RemoveSentWaiting at the end
    std::size_t current_ = 0;   // the one in its transaction
    int sent_ = 0;
    int refused_ = 0;
    bool stopping_ = false; // the user stopped the session

    bool pipelining_ = false;   // the last EHLO answer offered PIPELINING
    bool grouped_ = false;      // the current transaction went out as a group
    int groupAwaiting_ = 0;     // MAIL FROM and RCPT TO replies still to come
    int groupAnswered_ = 0;     // MAIL FROM and RCPT TO replies read
    bool dataInFlight_ = false; // DATA sent in the group, its reply to come
    std::string groupRefusal_;  // the status text of the first refusal in the group
};

} // namespace tegalo
