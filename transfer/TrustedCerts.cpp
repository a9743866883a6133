#include "transfer/TrustedCerts.h"

#include "store/FileIo.h"
#include "store/Record.h"
#include "text/Lines.h"
#include "text/unicode.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

namespace tegalo {

using namespace literals;

std::string CertServerKey(std::string_view host, int port) {
    std::string key(host);
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return key + ":" + std::to_string(port);
}

bool IsValidFingerprint(std::string_view fingerprint) {
    return fingerprint.size() == 64 && std::all_of(fingerprint.begin(), fingerprint.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

std::vector<TrustedCert> ParseTrustedCerts(std::string_view text) {
    std::vector<TrustedCert> pins;
    ForEachLine(text, [&pins](std::string_view line) {
        const std::size_t blank = line.find(' ');
        if (blank == std::string_view::npos || blank == 0) {
            return;
        }
        const std::string_view server = line.substr(0, blank);
        const std::string_view fingerprint = line.substr(blank + 1);
        if (server.find(':') == std::string_view::npos || !IsValidFingerprint(fingerprint)) {
            return;
        }
        pins.push_back({std::string(server), std::string(fingerprint)});
    });
    return pins;
}

std::string FormatTrustedCerts(const std::vector<TrustedCert>& pins) {
    std::string text;
    for (const TrustedCert& pin : pins) {
        text.append(pin.server).append(" ").append(pin.fingerprint).append(kCrLf);
    }
    return text;
}

CertTrust CheckPinned(const std::vector<TrustedCert>& pins, std::string_view host, int port,
                      std::string_view fingerprint) {
    const std::string server = CertServerKey(host, port);
    CertTrust trust = CertTrust::Unknown;
    for (const TrustedCert& pin : pins) {
        if (pin.server == server) {
            if (pin.fingerprint == fingerprint && IsValidFingerprint(fingerprint)) {
                return CertTrust::Pinned;
            }
            trust = CertTrust::Changed;
        }
    }
    return trust;
}

std::vector<TrustedCert> WithPin(std::vector<TrustedCert> pins, std::string_view host, int port,
                                 std::string_view fingerprint) {
    const std::string server = CertServerKey(host, port);
    std::erase_if(pins, [&](const TrustedCert& pin) { return pin.server == server; });
    pins.push_back({server, std::string(fingerprint)});
    return pins;
}

std::string UntrustedCertificateText(std::string_view host, int port, std::string_view fingerprint, CertTrust trust) {
    const std::string what =
        trust == CertTrust::Changed ? "証明書が信頼したものから変わっています"_sjis : "証明書を信頼できません"_sjis;
    return what + ": " + CertServerKey(host, port) + " SHA-256 " + std::string(fingerprint);
}

std::vector<TrustedCert> TrustedCertsFile::Load() const {
    std::string text;
    if (ReadWholeFile(dir_ + std::string(kFileName), text) != 0) {
        return {};
    }
    return ParseTrustedCerts(text);
}

std::string TrustedCertsFile::Trust(std::string_view host, int port, std::string_view fingerprint) const {
    if (!IsValidFingerprint(fingerprint) || host.empty() || host.find_first_of(" \r\n") != std::string_view::npos) {
        return "not a certificate that can be trusted";
    }
    // A file that is there but cannot be read is not rewritten: its other
    // pins would be lost.
    std::string text;
    if (const int readError = ReadWholeFile(dir_ + std::string(kFileName), text);
        readError != 0 && readError != ENOENT) {
        return "cannot read " + dir_ + std::string(kFileName) + ": " + std::strerror(readError);
    }
    const std::vector<TrustedCert> pins = WithPin(ParseTrustedCerts(text), host, port, fingerprint);
    AtomicFile file;
    int error = file.Open(dir_, kFileName, 0600);
    if (error == 0) {
        error = file.Write(FormatTrustedCerts(pins));
    }
    if (error == 0) {
        error = file.Commit();
    }
    if (error != 0) {
        return "cannot write " + dir_ + std::string(kFileName) + ": " + std::strerror(error);
    }
    return {};
}

} // namespace tegalo
