#include "tools/exporter/tls_server.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <string>

#include "tools/exporter/basic_auth.h"

namespace crvmon::exporter {
namespace {

// OpenSSL's words for its last error, after what we were doing.
std::string sslError(const std::string& doing) {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return doing;
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return doing + " (" + text + ")";
}

// Request and RequireAny take any certificate the client shows: its chain is not checked.
extern "C" int acceptAnyCertificate(int, X509_STORE_CTX*) {
    return 1;
}

bool setUp(SSL_CTX& ctx, const TlsSettings& tls, std::string& why) {
    if (SSL_CTX_use_certificate_chain_file(&ctx, tls.certFile.c_str()) != 1) {
        why = sslError("cert_file " + tls.certFile + " does not hold a PEM certificate");
        return false;
    }
    // OpenSSL checks the key against the certificate as it loads it.
    const bool loaded =
        SSL_CTX_use_PrivateKey_file(&ctx, tls.keyFile.c_str(), SSL_FILETYPE_PEM) == 1;
    if (!loaded && ERR_GET_REASON(ERR_peek_last_error()) != X509_R_KEY_VALUES_MISMATCH) {
        why = sslError("key_file " + tls.keyFile + " does not hold a PEM private key");
        return false;
    }
    if (!loaded || SSL_CTX_check_private_key(&ctx) != 1) {
        why = sslError("the certificate of cert_file does not match the key of key_file");
        return false;
    }
    // TLS 1.2 at least unless the file says otherwise, as the other exporters default to.
    SSL_CTX_set_min_proto_version(&ctx, tls.minVersion != 0 ? tls.minVersion : TLS1_2_VERSION);
    if (tls.maxVersion != 0) SSL_CTX_set_max_proto_version(&ctx, tls.maxVersion);
    if (!tls.clientCaFile.empty()) {
        STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(tls.clientCaFile.c_str());
        if (names == nullptr ||
            SSL_CTX_load_verify_locations(&ctx, tls.clientCaFile.c_str(), nullptr) != 1) {
            if (names != nullptr) sk_X509_NAME_pop_free(names, X509_NAME_free);
            why =
                sslError("client_ca_file " + tls.clientCaFile + " does not hold PEM certificates");
            return false;
        }
        SSL_CTX_set_client_CA_list(&ctx, names);
    }
    switch (tls.clientAuth) {
        case ClientAuth::None: SSL_CTX_set_verify(&ctx, SSL_VERIFY_NONE, nullptr); break;
        case ClientAuth::Request:
            SSL_CTX_set_verify(&ctx, SSL_VERIFY_PEER, acceptAnyCertificate);
            break;
        case ClientAuth::RequireAny:
            SSL_CTX_set_verify(&ctx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT,
                               acceptAnyCertificate);
            break;
        case ClientAuth::VerifyIfGiven: SSL_CTX_set_verify(&ctx, SSL_VERIFY_PEER, nullptr); break;
        case ClientAuth::RequireAndVerify:
            SSL_CTX_set_verify(&ctx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
            break;
    }
    return true;
}

}  // namespace

std::unique_ptr<httplib::Server> makeServer(const WebConfig& config, const std::string& path) {
    std::unique_ptr<httplib::Server> server;
    if (config.tls) {
        std::string why;
        auto tls = std::make_unique<httplib::SSLServer>(
            [&](SSL_CTX& ctx) { return setUp(ctx, *config.tls, why); });
        if (!tls->is_valid()) {
            throw WebConfigError("--web.config.file " + path + ": " +
                                 (why.empty() ? sslError("no TLS context could be made") : why));
        }
        server = std::move(tls);
    } else {
        server = std::make_unique<httplib::Server>();
    }
    if (!config.users.empty()) {
        auto auth = std::make_shared<const BasicAuth>(config.users);
        server->set_pre_routing_handler(
            [auth](const httplib::Request& request, httplib::Response& response) {
                // Probes ask whether the exporter runs, without a password.
                if (request.path == "/healthz") return httplib::Server::HandlerResponse::Unhandled;
                if (auth->allows(request.get_header_value("Authorization"))) {
                    return httplib::Server::HandlerResponse::Unhandled;
                }
                response.status = 401;
                response.set_header("WWW-Authenticate",
                                    "Basic realm=\"crvmon-exporter\", charset=\"UTF-8\"");
                response.set_content("401 unauthorized\n", "text/plain");
                return httplib::Server::HandlerResponse::Handled;
            });
    }
    return server;
}

}  // namespace crvmon::exporter
