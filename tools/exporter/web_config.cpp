#include "tools/exporter/web_config.h"

#include <openssl/ssl.h>
#include <yaml-cpp/yaml.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <utility>

namespace crvmon::exporter {
namespace {

std::optional<std::string> contentsOf(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) return std::nullopt;
    return bytes;
}

class Reader {
  public:
    explicit Reader(std::string path) : path_(std::move(path)) {}

    [[noreturn]] void fail(const std::string& problem) const {
        throw WebConfigError("--web.config.file " + path_ + ": " + problem);
    }
    [[noreturn]] void fail(const YAML::Node& node, const std::string& problem) const {
        const YAML::Mark mark = node.Mark();
        if (mark.is_null()) fail(problem);
        fail("line " + std::to_string(mark.line + 1) + ": " + problem);
    }

    // The keys of a mapping, each known, each once.
    void onlyKeys(const YAML::Node& map, const std::string& where,
                  const std::set<std::string>& known) const {
        if (!map.IsMap()) fail(map, where + " must be a mapping of keys to values");
        for (const auto& entry : map) {
            const std::string key = entry.first.Scalar();
            if (known.count(key) == 0) {
                std::string message = "unknown key '";
                message.append(key).append("' in ").append(where).append(" (allowed:");
                for (const std::string& name : known) message.append(" ").append(name);
                fail(entry.first, message + ")");
            }
        }
    }

    std::string text(const YAML::Node& node, const std::string& key) const {
        if (!node.IsScalar()) fail(node, "'" + key + "' must be a text");
        return node.Scalar();
    }

    // A file the exporter must read: relative to the configuration file's folder.
    std::string file(const YAML::Node& node, const std::string& key) const {
        std::filesystem::path named = text(node, key);
        if (named.empty()) fail(node, "'" + key + "' is empty");
        if (named.is_relative()) named = std::filesystem::path(path_).parent_path() / named;
        std::string resolved = named.string();
        if (!contentsOf(resolved)) fail(node, "'" + key + "': cannot read " + resolved);
        return resolved;
    }

  private:
    std::string path_;
};

ClientAuth clientAuthOf(const Reader& reader, const YAML::Node& node) {
    static const std::pair<const char*, ClientAuth> kTypes[] = {
        {"NoClientCert", ClientAuth::None},
        {"RequestClientCert", ClientAuth::Request},
        {"RequireAnyClientCert", ClientAuth::RequireAny},
        {"VerifyClientCertIfGiven", ClientAuth::VerifyIfGiven},
        {"RequireAndVerifyClientCert", ClientAuth::RequireAndVerify},
    };
    const std::string name = reader.text(node, "client_auth_type");
    std::string known;
    for (const auto& [text, type] : kTypes) {
        if (name == text) return type;
        known.append(known.empty() ? "" : ", ").append(text);
    }
    reader.fail(node, "client_auth_type '" + name + "' is none of " + known);
}

int versionOf(const Reader& reader, const YAML::Node& node, const std::string& key) {
    static const std::pair<const char*, int> kVersions[] = {
        {"TLS10", TLS1_VERSION},
        {"TLS11", TLS1_1_VERSION},
        {"TLS12", TLS1_2_VERSION},
        {"TLS13", TLS1_3_VERSION},
    };
    const std::string name = reader.text(node, key);
    for (const auto& [text, version] : kVersions) {
        if (name == text) return version;
    }
    reader.fail(node, key + " '" + name + "' is none of TLS10, TLS11, TLS12, TLS13");
}

TlsSettings tlsOf(const Reader& reader, const YAML::Node& node) {
    reader.onlyKeys(node, "tls_server_config",
                    {"cert_file", "key_file", "client_ca_file", "client_auth_type", "min_version",
                     "max_version"});
    if (!node["cert_file"] || !node["key_file"]) {
        reader.fail(node, "tls_server_config needs both cert_file and key_file");
    }
    TlsSettings tls;
    tls.certFile = reader.file(node["cert_file"], "cert_file");
    tls.keyFile = reader.file(node["key_file"], "key_file");
    if (node["client_ca_file"])
        tls.clientCaFile = reader.file(node["client_ca_file"], "client_ca_file");
    if (node["client_auth_type"]) tls.clientAuth = clientAuthOf(reader, node["client_auth_type"]);
    const bool verifies = tls.clientAuth == ClientAuth::VerifyIfGiven ||
                          tls.clientAuth == ClientAuth::RequireAndVerify;
    if (verifies && tls.clientCaFile.empty()) {
        reader.fail(node, "client_auth_type checks client certificates: it needs client_ca_file");
    }
    if (!tls.clientCaFile.empty() && !verifies) {
        reader.fail(node,
                    "client_ca_file is given, but client_auth_type does not check client "
                    "certificates against it (VerifyClientCertIfGiven or "
                    "RequireAndVerifyClientCert)");
    }
    if (node["min_version"]) tls.minVersion = versionOf(reader, node["min_version"], "min_version");
    if (node["max_version"]) tls.maxVersion = versionOf(reader, node["max_version"], "max_version");
    if (tls.minVersion != 0 && tls.maxVersion != 0 && tls.minVersion > tls.maxVersion) {
        reader.fail(node, "min_version is above max_version");
    }
    return tls;
}

// "$2b$10$" and 53 characters of bcrypt's base64: what crypt_r checks a password against.
bool isBcrypt(const std::string& hash) {
    if (hash.size() != 60 || hash[0] != '$' || hash[1] != '2' || hash[3] != '$' || hash[6] != '$')
        return false;
    if (hash[2] != 'a' && hash[2] != 'b' && hash[2] != 'y') return false;
    if (hash[4] < '0' || hash[4] > '3' || hash[5] < '0' || hash[5] > '9') return false;
    for (std::size_t i = 7; i < hash.size(); ++i) {
        const char c = hash[i];
        const bool base64 = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                            (c >= '0' && c <= '9') || c == '.' || c == '/';
        if (!base64) return false;
    }
    const int cost = (hash[4] - '0') * 10 + (hash[5] - '0');
    return cost >= 4 && cost <= 31;
}

}  // namespace

WebConfig loadWebConfig(const std::string& path) {
    const Reader reader(path);
    const std::optional<std::string> text = contentsOf(path);
    if (!text) reader.fail("cannot read the file");
    YAML::Node root;
    try {
        root = YAML::Load(*text);
    } catch (const YAML::Exception& e) {
        reader.fail("not YAML: " + e.msg + " (line " + std::to_string(e.mark.line + 1) + ")");
    }
    WebConfig config;
    if (root.IsNull())
        return config;  // an empty file: plain HTTP, no users, as the toolkit takes it
    reader.onlyKeys(root, "the file", {"tls_server_config", "basic_auth_users"});
    if (const YAML::Node tls = root["tls_server_config"]; tls && !tls.IsNull()) {
        config.tls = tlsOf(reader, tls);
    }
    if (const YAML::Node users = root["basic_auth_users"]; users && !users.IsNull()) {
        if (!users.IsMap()) reader.fail(users, "basic_auth_users must map user names to hashes");
        for (const auto& entry : users) {
            const std::string name = entry.first.Scalar();
            const std::string hash = reader.text(entry.second, name);
            if (name.empty() || name.find(':') != std::string::npos) {
                reader.fail(entry.first, "user name '" + name + "' is empty or holds a ':'");
            }
            if (!isBcrypt(hash)) {
                reader.fail(entry.second, "the password of '" + name +
                                              "' is not a bcrypt hash ($2a$, $2b$ or $2y$, "
                                              "60 characters)");
            }
            config.users.emplace(name, hash);
        }
    }
    return config;
}

std::string webConfigContents(const std::string& path, const WebConfig& config) {
    std::string all = contentsOf(path).value_or("");
    if (config.tls) {
        for (const std::string* file :
             {&config.tls->certFile, &config.tls->keyFile, &config.tls->clientCaFile}) {
            if (!file->empty()) all += '\0' + contentsOf(*file).value_or("");
        }
    }
    return all;
}

}  // namespace crvmon::exporter
