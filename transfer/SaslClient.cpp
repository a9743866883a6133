#include "transfer/SaslClient.h"

#include <gsasl.h>

#include <algorithm>
#include <array>
#include <cctype>

namespace tegalo {
namespace {

constexpr std::array<std::string_view, 4> kStrongestFirst = {kSaslScramSha256, kSaslCramMd5, kSaslPlain, kSaslLogin};

std::string Upper(std::string_view text) {
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper;
}

} // namespace

struct SaslClient::Library {
    Gsasl* context = nullptr;
    Gsasl_session* session = nullptr;
    int initError = GSASL_OK;

    Library() { initError = gsasl_init(&context); }
    ~Library() {
        Finish();
        if (context != nullptr) {
            gsasl_done(context);
        }
    }
    void Finish() {
        if (session != nullptr) {
            gsasl_finish(session);
            session = nullptr;
        }
    }
};

bool OffersSaslMechanism(const std::vector<std::string>& offered, std::string_view mechanism) {
    const std::string wanted = Upper(mechanism);
    return std::any_of(offered.begin(), offered.end(), [&](const std::string& m) { return Upper(m) == wanted; });
}

std::string StrongestSaslMechanism(const std::vector<std::string>& offered) {
    Gsasl* context = nullptr;
    if (gsasl_init(&context) != GSASL_OK) {
        return {};
    }
    std::string chosen;
    for (const std::string_view mechanism : kStrongestFirst) {
        const std::string name(mechanism);
        if (OffersSaslMechanism(offered, mechanism) && gsasl_client_support_p(context, name.c_str())) {
            chosen = name;
            break;
        }
    }
    gsasl_done(context);
    return chosen;
}

std::vector<std::string> SaslWords(std::string_view line) {
    std::vector<std::string> words;
    bool first = true;
    while (!line.empty()) {
        const std::size_t start = line.find_first_not_of(" \t=");
        if (start == std::string_view::npos) {
            break;
        }
        line.remove_prefix(start);
        const std::size_t end = std::min(line.find_first_of(" \t="), line.size());
        if (!first) {
            words.push_back(Upper(line.substr(0, end)));
        }
        first = false;
        line.remove_prefix(end);
    }
    return words;
}

SaslClient::SaslClient() : lib_(std::make_unique<Library>()) {}

SaslClient::~SaslClient() = default;

std::string SaslClient::Start(std::string_view mechanism, const std::string& user, const std::string& password) {
    lib_->Finish();
    if (lib_->initError != GSASL_OK) {
        return std::string("GNU SASL: ") + gsasl_strerror(lib_->initError);
    }
    const std::string name = Upper(mechanism);
    if (!gsasl_client_support_p(lib_->context, name.c_str())) {
        return "GNU SASL has no " + name;
    }
    if (const int rc = gsasl_client_start(lib_->context, name.c_str(), &lib_->session); rc != GSASL_OK) {
        lib_->session = nullptr;
        return std::string("GNU SASL: ") + gsasl_strerror(rc);
    }
    if (gsasl_property_set(lib_->session, GSASL_AUTHID, user.c_str()) != GSASL_OK ||
        gsasl_property_set(lib_->session, GSASL_PASSWORD, password.c_str()) != GSASL_OK) {
        lib_->Finish();
        return "GNU SASL: out of memory";
    }
    clientFirst_ = name == kSaslPlain || name == kSaslScramSha256;
    return {};
}

SaslClient::Result SaslClient::Step(std::string_view challenge, std::string& response) {
    response.clear();
    if (lib_->session == nullptr) {
        response = "no login in progress";
        return Result::Failed;
    }
    const std::string in(challenge);
    char* out = nullptr;
    const int rc = gsasl_step64(lib_->session, in.c_str(), &out);
    if (out != nullptr) {
        response = out;
        gsasl_free(out);
    }
    if (rc == GSASL_OK) {
        return Result::Done;
    }
    if (rc == GSASL_NEEDS_MORE) {
        return Result::Continue;
    }
    response = gsasl_strerror(rc);
    return Result::Failed;
}

void SaslClient::Reset() {
    lib_->Finish();
    clientFirst_ = false;
}

} // namespace tegalo
