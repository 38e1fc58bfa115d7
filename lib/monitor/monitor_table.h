// The monitors of the registered Orvek cards, by the key their device handles keep.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "lib/monitor/orvek_monitor.h"

namespace crvmon {

class MonitorTable {
  public:
    // Takes the monitor; an entry already under the key stays and the new monitor is dropped.
    void insert(std::int32_t key, std::unique_ptr<OrvekMonitor> monitor);
    // Null when no monitor is entered under the key.
    OrvekMonitor* lookup(std::int32_t key) const;
    // Closes and destroys the monitor under the key; an unknown key changes nothing.
    void remove(std::int32_t key);
    std::size_t size() const { return monitors_.size(); }

  private:
    std::map<std::int32_t, std::unique_ptr<OrvekMonitor>> monitors_;
};

// The library's one table.
MonitorTable& monitorTable();

}  // namespace crvmon
