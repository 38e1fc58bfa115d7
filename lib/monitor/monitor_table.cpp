#include "lib/monitor/monitor_table.h"

namespace crvmon {

void MonitorTable::insert(std::int32_t key, std::unique_ptr<OrvekMonitor> monitor) {
    if (monitor) monitors_.try_emplace(key, std::move(monitor));
}

OrvekMonitor* MonitorTable::lookup(std::int32_t key) const {
    auto entry = monitors_.find(key);
    return entry == monitors_.end() ? nullptr : entry->second.get();
}

void MonitorTable::remove(std::int32_t key) {
    auto entry = monitors_.find(key);
    if (entry == monitors_.end()) return;
    std::unique_ptr<OrvekMonitor> monitor = std::move(entry->second);
    monitors_.erase(entry);
    if (monitor) monitor->close();
}

}  // namespace crvmon
