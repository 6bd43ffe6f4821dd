// The bus-reset monitor: one thread per process that waits for the driver's bus-reset
// notification and calls the application's callback on every reset.
#pragma once

#include <cstdint>

namespace ucap::device {

// Thread body; its argument is the camera table (it uses the first record's device path).
uint32_t bus_reset_monitor(void* table);

}  // namespace ucap::device
