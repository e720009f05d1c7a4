#pragma once
#include <cstdint>

// Framing of the device-list exchange on port 27101 (see docs/device-list-protocol.md); shared by the
// library and the simulator.
namespace DeviceList {

inline constexpr unsigned char Magic[4] = {'Z', 'D', 'L', '1'};
inline constexpr unsigned char CommandList = 0x01;
inline constexpr int RequestSize = 8; // magic, command, three zero bytes
inline constexpr int ReplyHeaderSize = 12; // magic, status, three zero bytes, 32-bit LE length
inline constexpr unsigned char StatusOk = 0x00;
inline constexpr unsigned char StatusUnavailable = 0x01;
inline constexpr uint32_t MaxText = 8192;
inline constexpr int DefaultTimeoutMs = 5000;

} // namespace DeviceList
