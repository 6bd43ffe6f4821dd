// The bus-reset monitor: one thread per process that waits for the driver's bus-reset
// notification and calls the application's callback on every reset.
#pragma once

#include <cstdint>

#include "ucap/ucap.h"

namespace ucap::device {

// Thread body; its argument is the camera table (it uses the first record's device path).
uint32_t bus_reset_monitor(void* table);

// The application's callback for every later reset, with its user value (null: none).
void set_bus_reset_callback(UcapBusResetCallback callback, uint64_t user);

}  // namespace ucap::device
