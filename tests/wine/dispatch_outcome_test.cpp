// What a script learns of the wire: the verdict of every kind of command on a board that
// answers, one that is silent, one that was pulled out and no board at all; the status byte of
// every I2C method; and the exceptions RaiseErrors turns them into.
#include <gtest/gtest.h>

#include <string>

#include "control/identity.h"
#include "dispatch_support.h"

namespace dispatch_test {
namespace {

constexpr std::uint8_t kMemory = 0x50;  // the emulated serial memory
constexpr std::uint8_t kNobody = 0x23;  // no slave answers there

std::uint8_t g_buffer[64];  // for the by-reference methods

// One method call of each kind: `answered` says whether the board sends an answer to it (the
// EEPROM page write, the reset and the expander selection get none).
struct Command {
  const char* name;
  DISPID dispid;
  std::vector<ole::Variant> (*args)(std::uint8_t slave);
  bool answered;
};

const Command kCommands[] = {
    {"I2Cm_Speed", QVX_DISPID_I2CM_SPEED, [](std::uint8_t) { return ArgList(I4(400)); }, true},
    {"I2Cm_fReadLongBytes", QVX_DISPID_I2CM_FREADLONGBYTES,
     [](std::uint8_t a) {
       return ArgList(U1(a), ByteRef(g_buffer), I4(4), Bool(true), Bool(true));
     },
     true},
    {"I2Cm_fWriteLongBytes", QVX_DISPID_I2CM_FWRITELONGBYTES,
     [](std::uint8_t a) {
       return ArgList(U1(a), ByteRef(g_buffer), I4(2), Bool(true), Bool(true));
     },
     true},
    {"HardwareReset", QVX_DISPID_HARDWARERESET, [](std::uint8_t) { return ArgList(); }, false},
    {"EEPROM_WriteByte", QVX_DISPID_EEPROM_WRITEBYTE,
     [](std::uint8_t) { return ArgList(I4(0x700), ByteRef(g_buffer), U1(4)); }, false},
    {"EEPROM_ReadByte", QVX_DISPID_EEPROM_READBYTE,
     [](std::uint8_t) { return ArgList(I4(0x700), ByteRef(g_buffer), U1(4)); }, true},
    {"Set_I2Cm_Power", QVX_DISPID_SET_I2CM_POWER, [](std::uint8_t) { return ArgList(Bool(true)); },
     true},
    {"Get_I2Cm_LED_Fail", QVX_DISPID_GET_I2CM_LED_FAIL, [](std::uint8_t) { return ArgList(); },
     true},
    {"Get_Key2", QVX_DISPID_GET_KEY2, [](std::uint8_t) { return ArgList(); }, true},
    {"SetExpandChannel", QVX_DISPID_SETEXPANDCHANNEL,
     [](std::uint8_t) { return ArgList(U1(0x70), U1(2)); }, false},
    {"GetSensorRawDataEx", QVX_DISPID_GETSENSORRAWDATAEX,
     [](std::uint8_t) { return ArgList(Bool(true), U1(2)); }, true},
    {"GetSensorRawData", QVX_DISPID_GETSENSORRAWDATA,
     [](std::uint8_t) { return ArgList(Bool(false), U1(0), ByteRef(g_buffer)); }, true},
    {"EEPROM_ReadByteEx", QVX_DISPID_EEPROM_READBYTEEX,
     [](std::uint8_t) { return ArgList(I4(0x700), I4(8)); }, true},
    {"EEPROM_WriteByteEx", QVX_DISPID_EEPROM_WRITEBYTEEX,
     [](std::uint8_t) {
       return ArgList(I4(0x700), ByteArray({1, 2}));
     },
     false},
    {"I2Cm_fReadLongBytesEx", QVX_DISPID_I2CM_FREADLONGBYTESEX,
     [](std::uint8_t a) { return ArgList(U1(a), I4(3)); }, true},
    {"I2Cm_fWriteLongBytesEx", QVX_DISPID_I2CM_FWRITELONGBYTESEX,
     [](std::uint8_t a) {
       return ArgList(U1(a), ByteArray({0x07, 0x00}));
     },
     true},
    {"I2Cm_fReadBytesEx", QVX_DISPID_I2CM_FREADBYTESEX,
     [](std::uint8_t a) { return ArgList(U1(a), I4(2), Bool(true), Bool(true)); }, true},
    {"I2Cm_fWriteBytesEx", QVX_DISPID_I2CM_FWRITEBYTESEX,
     [](std::uint8_t a) {
       return ArgList(U1(a), ByteArray({0x07, 0x00}), Bool(true), Bool(false));
     },
     true},
    {"I2Cm_fWriteReadEx", QVX_DISPID_I2CM_FWRITEREADEX,
     [](std::uint8_t a) {
       return ArgList(U1(a), ByteArray({0x07, 0x00}), I4(2));
     },
     true},
    {"GetSensorValuesEx", QVX_DISPID_GETSENSORVALUESEX,
     [](std::uint8_t) { return ArgList(Bool(false), U1(0)); }, true},
};

// The I2C methods, which have a status byte.
bool IsTransfer(const Command& c) {
  return std::string(c.name).rfind("I2Cm_f", 0) == 0;
}

std::wstring Wide(const char* text) {
  return std::wstring(text, text + std::char_traits<char>::length(text));
}

class Outcome : public ::testing::Test {
 protected:
  void SetUp() override {
    ocx_.Plug();
    ocx_.SetSilent(FALSE);
    ctl_ = ocx_.CreateControl();
    ASSERT_TRUE(ctl_);
  }
  void TearDown() override {
    ocx_.SetSilent(FALSE);
    ctl_.Reset();
    ocx_.SetPlugged(TRUE);
  }
  void Open() {
    ASSERT_EQ(V_BOOL(Call(ctl_.Get(), QVX_DISPID_OPENUSBHIDDEVICE).value.Get()), VARIANT_FALSE);
  }
  void RaiseErrors(bool on) {
    std::vector<ole::Variant> args = ArgList(Bool(on));
    ASSERT_EQ(Call(ctl_.Get(), QVX_DISPID_SET_RAISEERRORS, args).hr, S_OK);
  }
  CallResult Run(const Command& c, std::uint8_t slave = kMemory) {
    std::vector<ole::Variant> args = c.args(slave);
    return Call(ctl_.Get(), c.dispid, args);
  }
  bool LastAnswered() {
    CallResult r = Call(ctl_.Get(), QVX_DISPID_GET_LASTANSWERED);
    EXPECT_EQ(r.value.Type(), VT_BOOL);
    return V_BOOL(r.value.Get()) != VARIANT_FALSE;
  }
  std::uint8_t LastStatus() {
    CallResult r = Call(ctl_.Get(), QVX_DISPID_GET_LASTSTATUS);
    EXPECT_EQ(r.value.Type(), VT_UI1);
    return V_UI1(r.value.Get());
  }
  // The call failed with the control's own exception: `scode` and a description that starts
  // with the method's name followed by `what`.
  static void ExpectRaised(const CallResult& r, const Command& c, HRESULT scode,
                           const std::wstring& what) {
    ASSERT_EQ(r.hr, DISP_E_EXCEPTION) << c.name;
    EXPECT_EQ(r.excep.scode, scode) << c.name;
    ASSERT_NE(r.excep.bstrDescription, nullptr);
    EXPECT_EQ(std::wstring(r.excep.bstrDescription), Wide(c.name) + L": " + what);
  }

  EmulatedOcx& ocx_ = EmulatedOcx::Get();
  ole::ComPtr<IDispatch> ctl_;
};

TEST_F(Outcome, EveryKindOfCommandIsAnsweredByABoardThatAnswers) {
  Open();
  RaiseErrors(true);
  for (const Command& c : kCommands) {
    CallResult r = Run(c);
    EXPECT_EQ(r.hr, S_OK) << c.name;
    EXPECT_TRUE(LastAnswered()) << c.name;
    if (IsTransfer(c)) {
      EXPECT_EQ(LastStatus(), 0) << c.name;
    }
  }
}

TEST_F(Outcome, ASilentBoardLeavesEveryAnsweredKindUnansweredAndRaisesOnRequest) {
  Open();
  ocx_.SetSilent(TRUE);
  RaiseErrors(true);
  for (const Command& c : kCommands) {
    CallResult r = Run(c);
    EXPECT_EQ(LastAnswered(), !c.answered) << c.name;
    if (c.answered) {
      ExpectRaised(r, c, static_cast<HRESULT>(QVX_E_NO_ANSWER), L"the board did not answer");
    } else {
      EXPECT_EQ(r.hr, S_OK) << c.name << ": every write went through";
    }
  }
  // Off, nothing is raised and the verdict is the same.
  RaiseErrors(false);
  for (const Command& c : {kCommands[0], kCommands[14]}) {
    EXPECT_EQ(Run(c).hr, S_OK) << c.name;
    EXPECT_FALSE(LastAnswered()) << c.name;
  }
}

TEST_F(Outcome, APulledBoardOrNoBoardLeavesEveryCommandUnanswered) {
  // No board opened at all: raised as such.
  RaiseErrors(true);
  for (const Command& c : kCommands) {
    ExpectRaised(Run(c), c, static_cast<HRESULT>(QVX_E_NO_BOARD), L"no board is open");
    EXPECT_FALSE(LastAnswered()) << c.name;
  }
  // Opened, then pulled out: the held handle fails every write and read at once.
  RaiseErrors(false);
  Open();
  ocx_.SetPlugged(FALSE);
  for (const Command& c : kCommands) {
    EXPECT_EQ(Run(c).hr, S_OK) << c.name;
    EXPECT_FALSE(LastAnswered()) << c.name;
  }
}

TEST_F(Outcome, ANackShowsInTheStatusOfEveryTransferAndRaisesOnRequest) {
  Open();
  CallResult off = Call(ctl_.Get(), QVX_DISPID_GET_RAISEERRORS);
  EXPECT_EQ(V_BOOL(off.value.Get()), VARIANT_FALSE) << "off by default";
  for (bool raise : {false, true}) {
    RaiseErrors(raise);
    for (const Command& c : kCommands) {
      if (!IsTransfer(c)) continue;
      CallResult r = Run(c, kNobody);
      EXPECT_EQ(LastStatus(), 1) << c.name;
      EXPECT_TRUE(LastAnswered()) << c.name;
      if (raise) {
        ExpectRaised(r, c, static_cast<HRESULT>(QVX_E_I2C_STATUS), L"I2C slave 0x23: status 0x01");
      } else {
        EXPECT_EQ(r.hr, S_OK) << c.name;
      }
    }
  }
  CallResult on = Call(ctl_.Get(), QVX_DISPID_GET_RAISEERRORS);
  EXPECT_EQ(V_BOOL(on.value.Get()), VARIANT_TRUE);
}

// The verdict and status belong to the control that made the command.
TEST_F(Outcome, EachControlKeepsItsOwnVerdictAndStatus) {
  Open();
  ole::ComPtr<IDispatch> other = ocx_.CreateControl();
  ASSERT_TRUE(other);
  ASSERT_EQ(Run(kCommands[14], kNobody).hr, S_OK);  // a NACKed read on this control
  std::vector<ole::Variant> args = ArgList(U1(kMemory), I4(1));
  ASSERT_EQ(Call(other.Get(), QVX_DISPID_I2CM_FREADLONGBYTESEX, args).hr, S_OK);  // no board there
  EXPECT_EQ(LastStatus(), 1);
  EXPECT_TRUE(LastAnswered());
  EXPECT_EQ(V_BOOL(Call(other.Get(), QVX_DISPID_GET_LASTANSWERED).value.Get()), VARIANT_FALSE);
}

}  // namespace
}  // namespace dispatch_test
