// A private certificate authority for the TLS tests, made with the openssl
// command in a temporary directory: a CA and server certificates it signed
// for 127.0.0.1 and localhost. The system's authorities know nothing of it.
// The destructor removes the directory.
#pragma once

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace tegalo::tls_test {

struct ServerCert {
    std::string certPath;    // PEM
    std::string keyPath;     // PEM, unencrypted
    std::string fingerprint; // SHA-256 of the DER certificate, 64 lowercase hex
};

class TestCa {
public:
    TestCa() = default;
    TestCa(const TestCa&) = delete;
    TestCa& operator=(const TestCa&) = delete;
    ~TestCa() {
        if (!dir_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(dir_, ignored);
        }
    }

    // Makes the CA. Returns an empty string on success, else what went wrong.
    std::string Start() {
        char pattern[] = "/tmp/tegalo-ca-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) {
            return std::string("mkdtemp: ") + std::strerror(errno);
        }
        dir_ = pattern;
        return Run("openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj '/CN=Tegalo Test CA' -keyout '" + dir_ +
                   "/ca.key' -out '" + CaPath() + "'");
    }

    std::string CaPath() const { return dir_ + "/ca.pem"; }

    // A new server certificate named `name` (a new key each time), signed by
    // the CA or, when `selfSigned`, by itself.
    std::string MakeServer(const std::string& name, ServerCert& cert, bool selfSigned = false) {
        cert.certPath = dir_ + "/" + name + ".pem";
        cert.keyPath = dir_ + "/" + name + ".key";
        const std::string ext = dir_ + "/" + name + ".ext";
        std::ofstream(ext) << "subjectAltName = IP:127.0.0.1, DNS:localhost\n"
                           << "basicConstraints = CA:FALSE\nkeyUsage = digitalSignature, keyEncipherment\n"
                           << "extendedKeyUsage = serverAuth\n";
        std::string error = Run("openssl req -newkey rsa:2048 -nodes -subj '/CN=localhost' -keyout '" + cert.keyPath +
                                "' -out '" + dir_ + "/" + name + ".csr'");
        if (error.empty()) {
            error = selfSigned ? Run("openssl x509 -req -days 30 -in '" + dir_ + "/" + name + ".csr' -signkey '" +
                                     cert.keyPath + "' -extfile '" + ext + "' -out '" + cert.certPath + "'")
                               : Run("openssl x509 -req -days 30 -in '" + dir_ + "/" + name + ".csr' -CA '" + CaPath() +
                                     "' -CAkey '" + dir_ + "/ca.key' -CAcreateserial -extfile '" + ext + "' -out '" +
                                     cert.certPath + "'");
        }
        if (!error.empty()) {
            return error;
        }
        const std::string out = dir_ + "/" + name + ".fp";
        error = Run("openssl x509 -in '" + cert.certPath + "' -noout -fingerprint -sha256 > '" + out + "'");
        if (!error.empty()) {
            return error;
        }
        // "sha256 Fingerprint=AB:CD:..." (the label's case varies with the version)
        std::string line;
        std::getline(std::ifstream(out) >> std::ws, line);
        cert.fingerprint.clear();
        for (const char c : line.substr(line.find('=') + 1)) {
            if (std::isxdigit(static_cast<unsigned char>(c))) {
                cert.fingerprint.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
            }
        }
        return cert.fingerprint.size() == 64 ? std::string() : "cannot read the fingerprint: " + line;
    }

private:
    std::string Run(const std::string& command) const {
        const std::string log = dir_ + "/openssl.log";
        if (std::system((command + " 2>'" + log + "'").c_str()) != 0) {
            std::stringstream text;
            text << std::ifstream(log).rdbuf();
            return command + ": " + text.str();
        }
        return {};
    }

    std::string dir_;
};

} // namespace tegalo::tls_test
