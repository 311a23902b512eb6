#ifndef BRANTLE_CONTROLCODE_H
#define BRANTLE_CONTROLCODE_H

#include <cstdint>

// I/O-control codes of the generic driver's interface. All of them are of
// device type 0x22 with any access; every request passes its buffers through
// the driver's own copy except DirectTransfer, whose output is the caller's
// data buffer itself.
namespace ControlCode {
constexpr uint32_t DriverVersion = 0x220000;       // -> 4 bytes
constexpr uint32_t UsbInterfaceVersion = 0x220004; // -> 4 bytes
constexpr uint32_t CurrentAltSetting = 0x220008;   // -> 1 byte
constexpr uint32_t SelectAltSetting = 0x22000C;    // 1 byte (setting) -> 1 byte
constexpr uint32_t DeviceAddress = 0x220010;       // -> 1 byte
constexpr uint32_t ControlTransfer = 0x220020;     // request block -> the same block
constexpr uint32_t BufferedTransfer = 0x220024;    // request block with data -> the same block
constexpr uint32_t DeviceName = 0x22003C;          // -> 256 bytes of text
constexpr uint32_t FriendlyName = 0x220040;        // -> 256 bytes of text
constexpr uint32_t AbortEndpoint = 0x220044;       // 1 byte (endpoint address) -> nothing
constexpr uint32_t DirectTransfer = 0x22004B;      // 38-byte block -> the caller's data buffer
constexpr uint32_t BusSpeed = 0x22004C;            // -> 4 bytes, 2 = high speed

constexpr uint32_t NameLength = 256;
} // namespace ControlCode

#endif
