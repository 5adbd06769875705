// The pcapng trace: interface 0 (LINKTYPE_USBPCAP) carries every HID report as an interrupt
// transfer, interface 1 (LINKTYPE_I2C_LINUX) every I2C transfer as it travelled on the bus.
// Field by field in docs/reference.md, "Tracing".
#pragma once

#include <cstdint>
#include <string>

#include "board/trace_recorder.h"

namespace board {

inline constexpr std::uint16_t kLinkTypeUsbPcap = 249;
inline constexpr std::uint16_t kLinkTypeI2cLinux = 209;
// The endpoints the reports are shown on (OUT 1, IN 0x81: bit 7 is the direction).
inline constexpr std::uint8_t kTraceEndpointOut = 0x01;
inline constexpr std::uint8_t kTraceEndpointIn = 0x81;
// USBD status codes of reports that did not travel.
inline constexpr std::uint32_t kUsbdStatusRequestFailed = 0x80000500;  // write failed
inline constexpr std::uint32_t kUsbdStatusDeviceGone = 0xC0007000;     // no board open
inline constexpr std::uint32_t kUsbdStatusCanceled = 0xC0010000;       // read given up

class PcapngTraceFormat : public TraceFormat {
 public:
  std::string Header(const TraceOrigin& origin, const std::string& program,
                     const std::string& board_path) override;
  std::string BoardRecord(const TraceOrigin& origin, const std::string& board_path,
                          TraceTime at) override;
  std::string CommandRecord(const TraceOrigin& origin, const TracedCommand& command,
                            const CommandDescription& what) override;
  std::string StopNote(const TraceOrigin& origin, TraceTime at) override;

 private:
  std::uint64_t irp_ = 0;  // USBPcap's IRP id: one per report
};

}  // namespace board
