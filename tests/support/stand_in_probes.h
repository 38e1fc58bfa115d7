// Probes that open chosen node paths with chosen records, in place of the library's backends,
// and keep account of what was probed, opened and released.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "lib/registry/device_record.h"

namespace crvmon::testing {

class StandInProbes {
  public:
    // Installs itself as the library's probes until destroyed.
    StandInProbes();
    ~StandInProbes();
    StandInProbes(const StandInProbes&) = delete;
    StandInProbes& operator=(const StandInProbes&) = delete;

    // The probe of this path opens and returns this record (open set, and a fresh monitor key
    // for an Orvek path or a client for a Veltara path).
    void addDevice(const std::string& nodePath, DeviceRecord record);
    // The probe of this path throws.
    void addFaultyPath(const std::string& nodePath);

    std::vector<std::string> probedPaths;
    std::set<std::int32_t> liveMonitors;
    std::set<VeltaraClient*> liveClients;
    int unknownReleases = 0;  // releases of something never opened, or released twice

  private:
    static DeviceRecord probe(const std::string& nodePath);
    static void removeMonitor(std::int32_t key);
    static void closeClient(VeltaraClient* client);

    std::map<std::string, DeviceRecord> devices_;
    std::set<std::string> faulty_;
    std::int32_t nextKey_ = 100;
    std::vector<char> clientTokens_ = std::vector<char>(4096);
    std::size_t nextClient_ = 0;
};

// Records as the two families' probes would fill them.
DeviceRecord orvekCard(VersionInfo driverVersion = {1, 8, 0, 3});
DeviceRecord veltaraDevice(crvmonTargetDeviceType_t targetType,
                           VersionInfo driverVersion = {2, 1, 7, 1});

}  // namespace crvmon::testing
