// Certificates the user chose to trust although the system's authorities do
// not vouch for them: the mailbox file "trusted-certs", one line per server,
// "HOST:PORT FINGERPRINT" (the SHA-256 of the server's certificate as 64
// lowercase hex digits), each ending in CR LF. A pin holds for that host and
// port only; a server that shows another certificate is refused again.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tegalo {

struct TrustedCert {
    std::string server;      // "host:port", the host in lower case
    std::string fingerprint; // 64 lowercase hex digits

    bool operator==(const TrustedCert&) const = default;
};

// "host:port" as the file names a server.
std::string CertServerKey(std::string_view host, int port);

// 64 lowercase hex digits.
bool IsValidFingerprint(std::string_view fingerprint);

// Reads the file text; lines it does not understand are skipped.
std::vector<TrustedCert> ParseTrustedCerts(std::string_view text);
std::string FormatTrustedCerts(const std::vector<TrustedCert>& pins);

enum class CertTrust {
    Pinned,  // the user trusts exactly this certificate for this server
    Unknown, // nothing is known about this server
    Changed, // the user trusted another certificate for this server
};

CertTrust CheckPinned(const std::vector<TrustedCert>& pins, std::string_view host, int port,
                      std::string_view fingerprint);

// `pins` with the pin of `host`:`port` set to `fingerprint` (replacing any
// older pin of that server).
std::vector<TrustedCert> WithPin(std::vector<TrustedCert> pins, std::string_view host, int port,
                                 std::string_view fingerprint);

// The status text (Shift_JIS) of a refused certificate, naming the server
// and its fingerprint.
std::string UntrustedCertificateText(std::string_view host, int port, std::string_view fingerprint, CertTrust trust);

// The file in a mailbox directory (`dir` ends with "/").
class TrustedCertsFile {
public:
    static constexpr std::string_view kFileName = "trusted-certs";

    explicit TrustedCertsFile(std::string dir) : dir_(std::move(dir)) {}

    // The pins; none when the file is missing or cannot be read.
    std::vector<TrustedCert> Load() const;
    // Adds (or replaces) the pin of one server, writing the file whole and
    // atomically, readable by its owner only. Returns an empty string on
    // success, else what went wrong; the old file then stays.
    [[nodiscard]] std::string Trust(std::string_view host, int port, std::string_view fingerprint) const;

private:
    std::string dir_;
};

} // namespace tegalo
