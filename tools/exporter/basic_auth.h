// HTTP basic auth against the bcrypt hashes of --web.config.file.
#pragma once

#include <map>
#include <mutex>
#include <set>
#include <string>

namespace crvmon::exporter {

class BasicAuth {
  public:
    explicit BasicAuth(std::map<std::string, std::string> users);

    // Whether an Authorization header's "Basic ..." names a user with the right password. A
    // bcrypt check takes tens of milliseconds, so a pair found right is remembered (as a digest,
    // never as text) and a scrape every few seconds costs it once.
    bool allows(const std::string& authorization) const;

  private:
    bool checks(const std::string& user, const std::string& password) const;

    std::map<std::string, std::string> users_;
    mutable std::mutex mutex_;
    mutable std::set<std::string> known_;  // SHA-256 of the header of pairs found right
};

}  // namespace crvmon::exporter
