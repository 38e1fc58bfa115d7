// Every getter of the flat API on every device the library lists, with the promises its header
// makes to callers checked on each answer: known statuses only, a value slot or buffer left as
// the header says on failure, texts terminated within the buffer, record counts within the
// array, and no value that is not a number.
#pragma once

namespace crvmon::fuzz {

// The library must be initialised (or the calls fail with their status, which is checked too).
void readEveryValue();
// Every value of one device; the device need not exist.
void readDeviceValues(int type, int index);

}  // namespace crvmon::fuzz
