// The POP3 receive session (RFC 1939) as a state machine that is fed events
// and answers with what to do. It never touches a socket, a clock or a file:
// the program's socket adapter hands it the connection's events and carries
// out each Pop3Output, the ReceiveStore takes the messages, and the
// UidlStore keeps the ids of what was received.
//
// A session: the login, STAT; UIDL when the server has it, to leave out
// what was received before; RETR of each new message, each stored as it
// completes; DELE of what was stored whole (unless the account keeps its mail
// on the server); QUIT.
//
// The login: USER and PASS, APOP (RFC 1939) with the greeting's timestamp,
// or SASL (AUTH, RFC 5034) with a mechanism the server lists in its CAPA
// answer (RFC 2449). With STLS (RFC 2595) the session asks CAPA, sends STLS
// when the server offers it, has the adapter run the TLS handshake, and asks
// CAPA again. A session that was to be encrypted never sends a password
// before it is; one whose server offers no STLS ends before the login.
//
// A server that lists PIPELINING in its CAPA answer (RFC 2449) gets the RETR
// commands, and later the DELE commands, in groups of up to kWindow in
// flight; its replies are still read strictly in turn. Every other server
// gets one command at a time. Nothing is deleted before the store committed
// what it took.
#pragma once

#include "transfer/SessionConnection.h"
#include "config/AccountSettings.h"
#include "transfer/Pop3Reader.h"
#include "transfer/SaslClient.h"
#include "transfer/ReceiveStore.h"
#include "mime/ReceivedMessage.h"
#include "transfer/SessionEnd.h"
#include "transfer/UidlFile.h"

#include <deque>
#include <set>
#include <string>
#include <string_view>
#include <map>
#include <vector>

namespace tegalo {

struct Pop3Account {
    std::string serverName;
    int pop3Port = 0;
    std::string userName;
    std::string password;
    bool keepOnServer = false;
    Security security = Security::None;
    Pop3Login login = Pop3Login::UserPass;
};

Pop3Account Pop3AccountFrom(const AccountSettings& settings);

// The session states. The numbers are those Tegalo has always shown and
// used; 14 to 19 and 25 to 27 are states it did not have before.
enum class Pop3State : int {
    Idle = 0,         // no session has run yet
    Greeting = 11,    // connected, waiting for the server's greeting
    UserSent = 12,    // USER sent, waiting for its answer
    PassSent = 13,    // PASS sent, waiting for its answer
    StlsSent = 14,    // STLS sent, waiting for the go-ahead
    TlsHandshake = 15, // the adapter runs the TLS handshake
    CapaSent = 16,    // CAPA sent, waiting for its status line
    CapaListing = 17, // collecting the capability list
    ApopSent = 18,    // APOP sent, waiting for its answer
    AuthSent = 19,    // AUTH sent, exchanging challenges and responses
    StatSent = 21,    // STAT sent, waiting for the message count
    RetrSent = 22,    // RETR sent, waiting for its status line
    MessageText = 23, // collecting the text of the message being received
    DeleSent = 24,    // DELE sent, waiting for its answer
    UidlSent = 25,    // UIDL sent, waiting for its status line
    UidlListing = 26, // collecting the UIDL listing
    QuitSent = 27,    // QUIT sent, waiting for the goodbye
};

// What the adapter does after an event, in this order: connect, send,
// show the status texts (the last one stays in the status bar), show the
// notices, close.
struct [[nodiscard]] Pop3Output {
    bool connect = false;                 // connect to the account's server and port
    bool tls = false;                     // with connect: TLS from the start
    bool startTls = false;                // after writing `send`: run the TLS handshake
    std::string send;                     // bytes to write to the connection, whole
    std::vector<std::string> statusTexts; // Shift_JIS, for the status bar
    // Shift_JIS reports such as "JIS code Error". They must not block the
    // session: show them without a nested event loop, or after it ended.
    std::vector<std::string> notices;
    bool close = false;                   // close the connection (after writing `send`)
    SessionEnd ended = SessionEnd::None;  // set by the event that ended the session
};

// The status text of a server reply that ends the session in `state`: the
// step number, a blank, the reply and, for the first two steps, a suffix. A
// reply longer than 200 bytes is cut, and control bytes in it show as "?".
std::string Pop3FailureText(Pop3State state, std::string_view reply);

// The APOP digest (RFC 1939 7): the MD5 of the greeting's timestamp and the
// password, as 32 lowercase hex digits.
std::string ApopDigest(std::string_view timestamp, std::string_view password);

// The timestamp of an APOP greeting: "<...@...>" in the line, or empty.
std::string ApopTimestamp(std::string_view greeting);

// The status text of a login the server refused, with its reply.
std::string LoginRefusedText(std::string_view reply);

// The status texts of a session that ends well, for `count` messages.
std::string MessagesReceivedText(int count);        // "<n> Messages Recieved"
std::string MessagesReceivedDeletedText(int count); // "<n> Messages Received! Server messages Deleted"
// Nothing new, but messages stored by an earlier session were deleted.
std::string EarlierMessagesDeletedText(int count); // "No New Message! <n> Stored Messages Deleted from Server"
// The last status text of a session the user stopped, for `count` messages stored.
std::string ReceiveStoppedText(int count);

class Pop3Session : public SessionConnection<Pop3Session, Pop3Output> {
public:
    // Largest message count taken from STAT.
    static constexpr long kMaxMessageCount = 9'999'999;
    // Most commands in flight with a server that offers PIPELINING.
    static constexpr std::size_t kWindow = 64;

    // `uidl` may be null; the session then fetches every message, as it
    // does from a server without UIDL.
    Pop3Session(ReceiveStore& store, UidlStore* uidl);

    // Where the digests of messages without an id (a server without UIDL)
    // are kept, so that a message left on such a server is recognised and
    // not stored again. May be null (the default): then such messages are
    // stored at every session.
    void SetDigestStore(UidlStore* digests) { digestStore_ = digests; }

    // Starts a session: checks the server and port and asks the adapter to
    // connect. While a session runs, a new one is refused with a status text.
    Pop3Output StartReceive(const Pop3Account& account);

    // The connection asked for by StartReceive is open.
    Pop3Output OnServerConnect();
    // The user stops the session. Before any message is fetched it sends
    // QUIT; while one arrives it finishes that one, stores it, deletes what
    // was stored whole (unless mail is kept on the server) and sends QUIT.
    // A second stop, or one while QUIT waits for its answer, closes at once:
    // without QUIT the server deletes nothing. What was stored and the ids
    // of what was fetched are kept in every case.
    Pop3Output Stop();
    // Connection failures, arrivals, a closed or broken connection and the
    // one-second tick: see SessionConnection.

    Pop3State State() const { return sessionState; }
    // The last message received, as it was cut for the store.
    const ReceivedMessage& LastMessage() const { return CurrentMessage; }
    // Messages stored by the current or last session.
    int Received() const { return received_; }

    // The POP3 counters: RETR commands still to send and the number the next
    // one uses; the same for DELE. A number is 0 when none is left.
    int RetrieveLeft() const { return retrieveLeft; }
    int NextRetrieve() const { return nextRetrieve; }
    int DeleteLeft() const { return deleteLeft; }
    int NextDelete() const { return nextDelete; }
    // Progress: the messages this session fetches and the place of the one
    // under way (0 before the first); the same for the deletions.
    int RetrieveTotal() const { return static_cast<int>(retrievePlan_.size()); }
    int RetrieveCurrent() const { return static_cast<int>(retrieveIndex_); }
    int DeleteTotal() const { return static_cast<int>(deletePlan_.size()); }
    int DeleteCurrent() const { return static_cast<int>(deleteIndex_); }
    // The user asked the running session to stop.
    bool Stopping() const { return stopping_; }

private:
    friend class SessionConnection<Pop3Session, Pop3Output>;
    bool QuitSent() const;
    enum class KeptReason { TooLarge, PartsLeftOut, NulRemoved, FolderFull, NotWritten };

    void ConnectFailed(std::string_view reason);
    void TlsStarted();
    void AfterCapabilities();
    void Login();
    void OnAuthLine(const std::string& line);
    void StepSession();
    void OnStatusLine(const std::string& line);
    void OnMessageText(const std::string& text, bool truncated);
    void OnUidlListing(const std::string& listing, bool truncated);
    void OnCapaListing(const std::string& listing);
    void SendCommand(std::string line);
    void Fail(std::string_view reply);
    void Quit(SessionEnd outcome);
    void CloseSocket(SessionEnd outcome);
    void PlanAll();
    void RetrieveNextOrFinish();
    void DeleteNextOrFinish();
    std::string FinalText(bool deleted) const;
    SessionEnd EndOutcome() const;
    void SaveUidl();
    bool CommitBatchAndIds();
    void PruneDigests();
    std::string AccountKey() const;

    ReceiveStore& store_;
    UidlStore* uidlStore_;
    Pop3Account account_;
    Pop3Reader reader_;
    SaslClient sasl_;
    std::string timestamp_;            // the greeting's APOP timestamp, or empty
    bool capaAnswered_ = false;        // the server answered CAPA with a list
    bool offersStls_ = false;
    bool pipelining_ = false;          // the server listed PIPELINING
    std::vector<std::string> saslMechanisms_; // from CAPA's SASL line

    Pop3State sessionState = Pop3State::Idle;
    std::string sendLine;           // the last command sent, without its CR LF
    ReceivedMessage CurrentMessage;
    int retrieveLeft = 0;
    int nextRetrieve = 0;
    int deleteLeft = 0;
    int nextDelete = 0;

    int messageCount_ = 0;               // from STAT
    std::vector<int> retrievePlan_;      // message numbers to fetch, in order
    std::size_t retrieveIndex_ = 0;
    bool retrieveAll_ = false;           // every number up to messageCount_, not retrievePlan_
    std::map<int, std::string> uidOf_;   // by message number; only those listed
    std::vector<int> deletePlan_;        // message numbers to delete
    std::size_t deleteIndex_ = 0;
    bool stopRetrieving_ = false;        // the store cannot take more this session
    bool discardInFlight_ = false;       // messages still in flight are read, not stored
    bool commandRefused_ = false;        // a RETR or DELE was refused: QUIT once the rest is answered
    std::deque<int> retrInFlight_;       // RETRs sent and not yet answered whole, in order
    std::size_t deleInFlight_ = 0;       // DELEs sent and not yet answered
    std::set<int> deleRefused_;          // messages whose DELE the server refused
    bool deletionsSent_ = false;
    bool stopping_ = false;              // the user stopped the session

    bool useUidl_ = false;     // the list was read and the server is asked
    bool uidlChanged_ = false; // the list needs saving
    UidlList uidl_;

    UidlStore* digestStore_ = nullptr;
    bool useDigests_ = false;
    bool digestsChanged_ = false;
    bool plannedAll_ = false;            // every message was to be fetched
    bool retrievedAll_ = false;          // and every one was
    UidlList digests_;
    std::vector<std::string> digestOf_;  // by message number, when one was taken
    std::set<std::string> seenDigests_;
    bool KnownByDigest(int number, const std::string& text);
    void RememberDigest(int number, UidlMark mark);
    void ForgetDeletedDigests();

    int received_ = 0;
    int earlierStored_ = 0; // stored by an earlier session, to delete now
    int replaced_ = 0; // characters of the stored messages shown as 〓
    int kept_ = 0;
    std::set<KeptReason> keptReasons_;
};

} // namespace tegalo
