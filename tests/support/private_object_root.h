// Gives each test an object root of its own, removed afterwards.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>

namespace crvmon::testing {

class PrivateObjectRoot : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* previous = std::getenv("CRVMON_OBJECT_ROOT")) previous_ = previous;
        char pattern[] = "/tmp/crvmon-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        setenv("CRVMON_OBJECT_ROOT", root_.c_str(), 1);
    }

    void TearDown() override {
        if (previous_) setenv("CRVMON_OBJECT_ROOT", previous_->c_str(), 1);
        if (!previous_) unsetenv("CRVMON_OBJECT_ROOT");
        std::error_code ignored;
        if (!root_.empty()) std::filesystem::remove_all(root_, ignored);
    }

    std::string root_;

  private:
    std::optional<std::string> previous_;
};

}  // namespace crvmon::testing
