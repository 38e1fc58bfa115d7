// --web.config.file: TLS and basic auth for the exporter's endpoint, from a file in the format
// the Prometheus exporters share, so that an operator gives crvmon-exporter the file they give
// their other exporters:
//
//   tls_server_config:
//     cert_file: server.crt          # relative paths are taken from the file's folder
//     key_file: server.key
//     client_ca_file: ca.crt         # optional, with client_auth_type
//     client_auth_type: RequireAndVerifyClientCert
//     min_version: TLS12             # optional: TLS10 ... TLS13
//   basic_auth_users:
//     prometheus: $2b$10$...         # bcrypt hashes only
#pragma once

#include <map>
#include <optional>
#include <stdexcept>
#include <string>

namespace crvmon::exporter {

// The file cannot be used; the message names the file and the problem.
class WebConfigError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

enum class ClientAuth {
    None,              // NoClientCert: no certificate asked for
    Request,           // RequestClientCert: asked for, not checked
    RequireAny,        // RequireAnyClientCert: required, not checked
    VerifyIfGiven,     // VerifyClientCertIfGiven: checked when given
    RequireAndVerify,  // RequireAndVerifyClientCert
};

struct TlsSettings {
    std::string certFile, keyFile;  // as the exporter opens them: absolute, or from its folder
    std::string clientCaFile;       // empty: none
    ClientAuth clientAuth = ClientAuth::None;
    int minVersion = 0;  // OpenSSL's protocol number (TLS1_2_VERSION); 0: the library's least
    int maxVersion = 0;  // 0: the newest
};

struct WebConfig {
    std::optional<TlsSettings> tls;
    std::map<std::string, std::string> users;  // name -> bcrypt hash; empty: no basic auth
};

// Reads and checks the file: YAML, known keys only, bcrypt hashes, readable files. Whether the
// certificate loads and matches its key is checked where the server is made.
WebConfig loadWebConfig(const std::string& path);

// The bytes of the file and of every file it names: a change in any of them (a certificate
// rotated in place) asks for the file to be read again.
std::string webConfigContents(const std::string& path, const WebConfig& config);

}  // namespace crvmon::exporter
