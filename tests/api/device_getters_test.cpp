// The device-record getters: the lookup's statuses in their fixed order, and the absent pattern.
// The stored values themselves are read through the simulated devices (orvek_simulated_test.cpp,
// veltara_simulated_test.cpp).
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "tests/support/registry_fixture.h"
#include "tests/support/status_check.h"

namespace crvmon::testing {
namespace {

// Every device-record getter, its result shown as text so that one table covers them all.
struct Getter {
    const char* name;
    std::function<std::string(crvmonTargetDeviceType_t, int, crvmonStatusCode_t&)> call;
    std::string errorValue;
};

template <class Fn>
Getter numeric(const char* name, Fn fn, std::string errorValue = "-1") {
    return {name,
            [fn](crvmonTargetDeviceType_t t, int i, crvmonStatusCode_t& s) {
                return std::to_string(static_cast<long long>(fn(t, i, s)));
            },
            std::move(errorValue)};
}

std::vector<Getter> allGetters() {
    return {
        numeric("DeviceId", corvanta::crvmonGetDeviceId),
        numeric("DriverType", corvanta::crvmonGetDriverType, "0"),
        numeric("FirmwareCRC", corvanta::crvmonGetFirmwareCRC),
        numeric("FirmwareRevision", corvanta::crvmonGetFirmwareRevision),
        numeric("MemoryTotal", corvanta::crvmonGetMemoryTotal),
        {"NodeName", corvanta::crvmonGetNodeName, ""},
        numeric("OnDeviceDriverRevision", corvanta::crvmonGetOnDeviceDriverRevision),
        numeric("PcieClassCode", corvanta::crvmonGetPcieClassCode),
        numeric("PcieGen", corvanta::crvmonGetPcieGen),
        numeric("PcieLanes", corvanta::crvmonGetPcieLanes),
        numeric("PcieRev", corvanta::crvmonGetPcieRev),
        numeric("SignalType", corvanta::crvmonGetSignalType),
        numeric("SubDeviceId", corvanta::crvmonGetSubDeviceId),
        numeric("SubVendorId", corvanta::crvmonGetSubVendorId),
        numeric("VendorId", corvanta::crvmonGetVendorId),
    };
}

// Every getter (or those named) fails at this device with its error value and this status.
void expectGettersFail(crvmonTargetDeviceType_t type, int index, crvmonStatusCode_t expected,
                       std::set<std::string> only = {}) {
    std::size_t checked = 0;
    for (const Getter& getter : allGetters()) {
        if (!only.empty() && only.count(getter.name) == 0) continue;
        crvmonStatusCode_t status = kNoStatus;
        EXPECT_EQ(getter.call(type, index, status), getter.errorValue)
            << getter.name << " at " << type << "/" << index;
        EXPECT_EQ(status, expected) << getter.name << " at " << type << "/" << index;
        ++checked;
    }
    EXPECT_EQ(checked, only.empty() ? allGetters().size() : only.size()) << "a name is no getter";
}

using DeviceGettersTest = StandInLibraryTest;

TEST_F(DeviceGettersTest, AnUnknownTypeIsReportedBeforeABadIndex) {
    probes.addDevice("/dev/orvek0", orvekCard());
    ASSERT_EQ(corvanta::crvmonInit(), CRVMON_STATUS_OK);

    for (int type : {0, 1, 2, 5, 7, -5, 12345, 0x7fffffff}) {
        for (int index : {0, -1, INT_MAX}) {
            expectGettersFail(static_cast<crvmonTargetDeviceType_t>(type), index,
                              CRVMON_STATUS_TARGET_NOT_FOUND);
        }
    }
    for (int index : {-1, 1, INT_MAX, INT_MIN}) {
        expectGettersFail(CRVMON_TARGET_ORVEK_PCIE, index, CRVMON_STATUS_INVALID_ARGUMENT);
    }
}

TEST_F(DeviceGettersTest, AValueTheDeviceDidNotReportIsMinusOneWithNotSupported) {
    DeviceRecord sparse = orvekCard();
    sparse.vendorId = -1;
    sparse.pcieGen = -1;
    sparse.firmwareVersion.revision = -1;
    sparse.memoryTotal = -1;  // all 64 bits set: absent
    probes.addDevice("/dev/orvek0", sparse);
    DeviceRecord unsized = orvekCard();
    unsized.memoryTotal = 0;  // never set by its backend
    probes.addDevice("/dev/orvek1", unsized);
    DeviceRecord large = orvekCard();
    large.memoryTotal = 0xFFFFFFFFLL;  // only the low 32 bits set: a real size
    probes.addDevice("/dev/orvek2", large);
    probes.addDevice("/dev/veltara-usb0", veltaraDevice(CRVMON_TARGET_VELTARA_USB_KIND0));
    ASSERT_EQ(corvanta::crvmonInit(), CRVMON_STATUS_OK);

    const auto card = CRVMON_TARGET_ORVEK_PCIE;
    expectGettersFail(card, 0, CRVMON_STATUS_NOT_SUPPORTED,
                      {"VendorId", "PcieGen", "FirmwareRevision", "MemoryTotal"});
    EXPECT_GIVES(0, CRVMON_STATUS_OK, corvanta::crvmonGetMemoryTotal, card, 1);
    EXPECT_GIVES(0xFFFFFFFFLL, CRVMON_STATUS_OK, corvanta::crvmonGetMemoryTotal, card, 2);
    // A Veltara device has no PCI Express identity and no firmware; an Orvek card no on-device
    // driver.
    expectGettersFail(
        CRVMON_TARGET_VELTARA_USB_KIND0, 0, CRVMON_STATUS_NOT_SUPPORTED,
        {"VendorId", "DeviceId", "PcieGen", "PcieClassCode", "FirmwareCRC", "FirmwareRevision"});
    expectGettersFail(card, 1, CRVMON_STATUS_NOT_SUPPORTED, {"OnDeviceDriverRevision"});
}

}  // namespace
}  // namespace crvmon::testing
