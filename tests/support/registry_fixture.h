// A test whose library runs on stand-in probes, shut down again after each test.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "crvmon.h"
#include "tests/support/stand_in_probes.h"

namespace crvmon::testing {

class StandInLibraryTest : public ::testing::Test {
  protected:
    void TearDown() override { corvanta::crvmonShutdown(); }

    static int targetCount(crvmonTargetDeviceType_t type) {
        crvmonStatusCode_t status = CRVMON_STATUS_NOT_SUPPORTED;
        int count = corvanta::crvmonGetTargetDeviceCount(type, status);
        EXPECT_EQ(status, CRVMON_STATUS_OK);
        return count;
    }

    static std::string nodeName(crvmonTargetDeviceType_t type, int index) {
        crvmonStatusCode_t status = CRVMON_STATUS_NOT_SUPPORTED;
        std::string name = corvanta::crvmonGetNodeName(type, index, status);
        EXPECT_EQ(status, CRVMON_STATUS_OK) << "at " << type << "/" << index;
        return name;
    }

    StandInProbes probes;
};

}  // namespace crvmon::testing
