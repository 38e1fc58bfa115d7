#include "tests/support/stand_in_probes.h"

#include <stdexcept>

#include "lib/registry/backend_probes.h"

namespace crvmon::testing {

namespace {
StandInProbes* active = nullptr;
}

StandInProbes::StandInProbes() {
    active = this;
    installBackendProbes(BackendProbes{&probe, &probe, &removeMonitor, &closeClient});
}

StandInProbes::~StandInProbes() {
    restoreBackendProbes();
    active = nullptr;
}

void StandInProbes::addDevice(const std::string& nodePath, DeviceRecord record) {
    devices_[nodePath] = std::move(record);
}

void StandInProbes::addFaultyPath(const std::string& nodePath) {
    faulty_.insert(nodePath);
}

DeviceRecord StandInProbes::probe(const std::string& nodePath) {
    StandInProbes& self = *active;
    self.probedPaths.push_back(nodePath);
    if (self.faulty_.count(nodePath) != 0) throw std::runtime_error("probe failed: " + nodePath);
    auto found = self.devices_.find(nodePath);
    if (found == self.devices_.end()) return DeviceRecord{};

    DeviceRecord record = found->second;
    record.open = true;
    if (nodePath.find("orvek") != std::string::npos) {
        record.monitorKey = self.nextKey_++;
        self.liveMonitors.insert(record.monitorKey);
    } else {
        // Any distinct address serves as a client: the library only passes it back to close.
        record.client =
            reinterpret_cast<VeltaraClient*>(&self.clientTokens_.at(self.nextClient_++));
        self.liveClients.insert(record.client);
    }
    return record;
}

void StandInProbes::removeMonitor(std::int32_t key) {
    if (active->liveMonitors.erase(key) == 0) ++active->unknownReleases;
}

void StandInProbes::closeClient(VeltaraClient* client) {
    if (active->liveClients.erase(client) == 0) ++active->unknownReleases;
}

DeviceRecord orvekCard(VersionInfo driverVersion) {
    DeviceRecord r;
    r.targetType = CRVMON_TARGET_ORVEK_PCIE;
    r.driverVersion = driverVersion;
    r.firmwareVersion = {1, 2, 4, 9};
    r.firmwareCrc = 0x1234;
    r.signalType = 0;
    r.vendorId = 0x1e52;
    r.deviceId = 0x0100;
    r.subVendorId = 0x1e52;
    r.subDeviceId = 0x0031;
    r.pcieGen = 4;
    r.pcieLanes = 8;
    r.pcieRev = 1;
    r.pcieClassCode = 0x120000;
    r.pcieSlot = "0000:03:00.0";
    r.memoryTotal = 8LL << 30;
    return r;
}

DeviceRecord veltaraDevice(crvmonTargetDeviceType_t targetType, VersionInfo driverVersion) {
    DeviceRecord r;
    r.targetType = targetType;
    r.driverVersion = driverVersion;
    r.onDeviceDriverVersion = {2, 1, 7, 1};
    r.signalType = 2;
    r.memoryTotal = 4096LL * 1024;
    return r;
}

}  // namespace crvmon::testing
