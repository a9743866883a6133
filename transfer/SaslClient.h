// Client side of a SASL login (RFC 4422) for the POP3 AUTH and SMTP AUTH
// commands, on GNU SASL. Fed like the sessions: each server challenge in,
// the client's response out, both base64 as they travel on the wire. No
// socket, no Qt.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tegalo {

// The mechanisms Tegalo logs in with, strongest first.
inline constexpr std::string_view kSaslScramSha256 = "SCRAM-SHA-256";
inline constexpr std::string_view kSaslCramMd5 = "CRAM-MD5";
inline constexpr std::string_view kSaslPlain = "PLAIN";
inline constexpr std::string_view kSaslLogin = "LOGIN";

// The strongest of our mechanisms that `offered` (the server's list, any
// case) names and GNU SASL supports here; empty when there is none.
std::string StrongestSaslMechanism(const std::vector<std::string>& offered);

// Whether `offered` names `mechanism` (any case).
bool OffersSaslMechanism(const std::vector<std::string>& offered, std::string_view mechanism);

// The words of a capability value such as "AUTH PLAIN LOGIN" or the POP3
// "SASL PLAIN LOGIN": everything after the first word, upper-cased.
std::vector<std::string> SaslWords(std::string_view line);

class SaslClient {
public:
    SaslClient();
    ~SaslClient();
    SaslClient(const SaslClient&) = delete;
    SaslClient& operator=(const SaslClient&) = delete;

    // Begins a login with `mechanism` as `user` with `password`. Returns an
    // empty string, or why it cannot (the library or the mechanism missing).
    [[nodiscard]] std::string Start(std::string_view mechanism, const std::string& user, const std::string& password);

    // Whether the mechanism speaks first (PLAIN, SCRAM): its first response
    // goes with the AUTH command as the initial response.
    bool ClientFirst() const { return clientFirst_; }

    enum class Result {
        Continue, // send `response` and wait for the server
        Done,     // send `response` (may be empty); the server has been answered in full
        Failed,   // the challenge could not be answered; `response` holds why
    };

    // Answers `challenge` (base64; empty for the initial response). The
    // response is base64 (empty for an empty answer).
    Result Step(std::string_view challenge, std::string& response);

    // Forgets the login in progress.
    void Reset();

private:
    struct Library;
    std::unique_ptr<Library> lib_;
    bool clientFirst_ = false;
};

} // namespace tegalo
