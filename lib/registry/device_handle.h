// The library's record of one device node: family, target and driver type, identity and versions
// read once when it opened, and the backend object that answers live queries.
#pragma once

#include <string>

#include "lib/registry/device_record.h"

namespace crvmon {

class DeviceHandle {
  public:
    // Runs the probe that the node path selects; a device that does not open gives a handle
    // whose open() is false.
    explicit DeviceHandle(const std::string& nodePath);
    ~DeviceHandle();

    DeviceHandle(const DeviceHandle&) = delete;
    DeviceHandle& operator=(const DeviceHandle&) = delete;
    DeviceHandle(DeviceHandle&& other) noexcept;
    DeviceHandle& operator=(DeviceHandle&& other) noexcept;

    bool open() const { return record_.open; }
    const DeviceRecord& record() const { return record_; }

  private:
    void teardown() noexcept;

    DeviceRecord record_;
};

}  // namespace crvmon
