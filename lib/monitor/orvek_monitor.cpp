#include "lib/monitor/orvek_monitor.h"

namespace crvmon {

int OrvekMonitor::scanDevices() {
    // A card counts only if every lower index opens too; the failed open that ends the scan
    // also releases the channel.
    if (!open(0)) return 0;
    int count = 1;
    while (open(count)) ++count;
    return count;
}

}  // namespace crvmon
