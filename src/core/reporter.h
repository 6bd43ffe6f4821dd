// The error reporter: one formatted line per report, shown to the user, suppressed
// by the process-wide message switch. Only the catalogue below is ever reported.
#pragma once

#include <cstdint>

namespace ucap {

namespace msg {
// "Couldn" 0xB4 "t": the acute accent of code page 1252, a single byte.
inline constexpr char kBusResetThread[] = "Couldn\xB4t create bus reset thread";
inline constexpr char kInitError[] = "(%d)Init error %d";
inline constexpr char kSetupError[] = "Setup error";
inline constexpr char kGetBufferError[] = "getbuffer error";
inline constexpr char kCleanupError[] = "cleanup error";
inline constexpr char kAcquisitionError[] = "(%d)UcapAcquisition error %d";
inline constexpr char kCreateThread[] = "(%d)Couldn\xB4t create thread";
inline constexpr char kGetFullFrameError[] = "(%d)getfullframe error %d";
inline constexpr char kBlackRefMemory[] = "(%d)Not enough memory in routine UcapCalculateBlackRef";
inline constexpr char kWhiteRefMemory[] = "(%d)Not enough memory in routine UcapCalculateWhiteRef";
inline constexpr char kStartFastError[] = "(%d)UcapStartFastAcquisition error %d";
inline constexpr char kFastReadyError[] = "(%d)UcapIsFastAcquisitionReady error %d";
inline constexpr char kFastReadyErrorNoIndex[] = "UcapIsFastAcquisitionReady error %d";
inline constexpr char kAssembleSingleMemory[] = "Not enough memory in routine AssembleSingle";
inline constexpr char kCalculateWhiteRefMemory[] = "Not enough memory in routine CalculateWhiteRef";
}  // namespace msg

// Formats `format` (a catalogue entry; %d conversions with 32-bit int arguments) and
// shows it, unless the message switch is 0.
void report(const char* format, ...);

// The process-wide message switch (1 from the start), stored unchanged.
void set_message_switch(int32_t on);
int32_t message_switch();

}  // namespace ucap
