// CUSBHardWare: one member function per board command, each holding the exchange lock from its
// announce report to its last answer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "board/hiddata.h"
#include "platform/critical_section.h"

namespace board {
class BoardOpener;
}

class CUSBHardWare : public hiddata {
 public:
  // Returned by the long transfers instead of a status byte when the count does not fit the
  // 16 bits the parameter report carries. Nothing has been sent then.
  static constexpr int kCountRefused = -1;

  // A link with no opener: OpenBoard finds no board. For a link whose device is put in place
  // directly, or one that must open nothing.
  CUSBHardWare();
  // A link that opens its board through `opener`; the caller keeps the opener alive as long as
  // the link.
  explicit CUSBHardWare(board::BoardOpener& opener);
  ~CUSBHardWare() override;

  // I2C master (0x1C, 0x1A, 0x1B).
  // Returns the speed code the board reports back (bits 2 and 3 of answer byte 1).
  int SetI2CSpeed(std::uint16_t nSpeed);
  // Both return the board's status byte (0..255), or kCountRefused for a count above 65535.
  // `pbXferData` must hold `bBytesCnts` bytes.
  int ReadI2CLongBytes(std::uint8_t bSlaveAddr, std::uint8_t* pbXferData, std::uint32_t bBytesCnts,
                       bool fGenStart, bool fGenStop);
  int WriteI2CLongBytes(std::uint8_t bSlaveAddr, const std::uint8_t* pbXferData,
                        std::uint32_t bBytesCnts, bool fGenStart, bool fGenStop);

  // A write with START and no STOP, then a read with a repeated START and STOP: the register
  // read of most I2C devices. Both transfers run under one hold of the board, so no other
  // link's transfer comes between them; the read is made whatever the write's outcome, so the
  // bus always ends with a STOP. Nothing is sent when a count is above 65535.
  struct WriteReadResult {
    int write_status = kCountRefused;
    int read_status = kCountRefused;
    bool answered = false;  // both transfers wrote all their reports and got every answer
  };
  WriteReadResult WriteReadI2C(std::uint8_t slave_addr, const std::uint8_t* write_data,
                               std::uint32_t write_count, std::uint8_t* read_data,
                               std::uint32_t read_count);

  // EEPROM pages (0x22, 0x23): the low 16 bits of nAddr are sent; cnt above 64 is taken as 64.
  // The write pauses 10 ms after its data report, still holding the exchange lock.
  void WriteEEPROMPage(std::int32_t nAddr, const std::uint8_t* pbData, std::uint8_t cnt);
  void ReadEEPROMPage(std::int32_t nAddr, std::uint8_t* pbData, std::uint8_t cnt);

  // Line-state record (0x24, 0x25), expander channel (0x50), board reset (0xFD).
  void ReadLineState(std::uint8_t (&record)[board::kLineRecordSize]);
  void WriteLineState(const std::uint8_t (&record)[board::kLineRecordSize]);
  void SelectExpandChannel(std::uint8_t nAddress, std::uint8_t nChannel);
  void SendHardwareReset();

  // Raw sensor block (0x30).
  void ReadSensorBlock(std::uint8_t (&raw)[board::kSensorBlockSize]);

  // Opens the board `selector` names (by default the first) among the HID devices through the
  // link's board::BoardOpener, closing a held handle; stores 0 when none is found. `*path`
  // (when given) receives the opened board's device path, empty when none was opened. Returns
  // TRUE (nonzero) when no board was opened, as the control's scripts expect. Runs under the
  // exchange lock.
  int OpenBoard(const std::string& selector = std::string(), std::string* path = nullptr);

  // Attaches `sink` (nullptr: detaches), under the exchange lock, so that no command is in
  // flight meanwhile. The caller keeps the sink alive while it is attached.
  void AttachTrace(board::TraceSink* sink);

  // The exchange lock: held by every command and by OpenBoard. Callers that must keep other
  // commands out across several exchanges take it (after the board-state lock) themselves.
  platform::CriticalSection m_csExchange;

 protected:
  // What every command holds from its announce report to its last answer: the exchange lock,
  // then the lock of the board itself, which keeps out the other links that have it open.
  struct Exchange {
    explicit Exchange(CUSBHardWare& link) : exchange(link.m_csExchange), board(link), link_(link) {}
    ~Exchange() { link_.EndCommand(); }  // both locks are still held here
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;
    platform::CsLock exchange;
    BoardLock board;

   private:
    CUSBHardWare& link_;
  };

  // Sends the announce report of `code` (with the two argument bytes of 0x30 and 0x50).
  void SendAnnounce(std::uint8_t code, std::uint8_t arg1 = 0, std::uint8_t arg2 = 0);
  void SendI2cParameters(std::uint8_t bSlaveAddr, std::uint32_t count, bool fGenStart,
                         bool fGenStop);
  void SendEepromParameters(std::int32_t nAddr, std::uint8_t cnt);

 private:
  // An I2C read or write (`code`): the announce and parameter reports, `each(offset, bytes)`
  // for every data report (which carries `bytes` bytes of the transfer from `offset`), then
  // the status report. Returns the status byte, or kCountRefused with nothing sent.
  template <class EachDataReport>
  int TransferI2C(std::uint8_t code, std::uint8_t bSlaveAddr, std::uint32_t count, bool fGenStart,
                  bool fGenStop, EachDataReport each);
  board::BoardOpener* m_pOpener = nullptr;  // nullptr: the link opens no board
};
