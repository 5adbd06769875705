// The control's identity, one definition for everything that names it: the C++ code of the
// control and the module, the type library source (widl's preprocessor expands the macros inside
// uuid(...) and id(...)) and the resource script. The C++ code parses the same GUID texts at
// compile time, so the type library, the registry and the code can never disagree.
#pragma once

// The GUID texts must stay unspaced for widl and for the parser below.
// clang-format off
#define QVX_LIBID_UUID 511843F8-0AF6-4C99-9B76-D7B466E99544
#define QVX_DIID_DISPATCH_UUID 96A984F1-7EEB-4D33-8DC8-8C700F5E0ADC
#define QVX_DIID_EVENTS_UUID 64771C6D-D810-4159-B4C2-068329409073
#define QVX_CLSID_CTRL_UUID CA2D1D57-3D97-4C05-AFB1-FAF18827A442
#define QVX_CLSID_PROPPAGE_UUID 1C27505C-899E-4276-B3AB-3BE500AD2259
// clang-format on

// The type library's version pair, also the registry's "Version" and the persistent state's.
#define QVX_VERSION_MAJOR 1
#define QVX_VERSION_MINOR 8

// DISPIDs of _DQelVantorixActiveX: hosts bound early call by these numbers, so they never change.
#define QVX_DISPID_ABOUTBOX (-552)  // DISPID_ABOUTBOX
#define QVX_DISPID_OPENUSBHIDDEVICE 1
#define QVX_DISPID_I2CM_SPEED 2
#define QVX_DISPID_I2CM_FREADLONGBYTES 3
#define QVX_DISPID_I2CM_FWRITELONGBYTES 4
#define QVX_DISPID_HARDWARERESET 5
#define QVX_DISPID_EEPROM_WRITEBYTE 6
#define QVX_DISPID_EEPROM_READBYTE 7
#define QVX_DISPID_SET_I2CM_POWER 8
#define QVX_DISPID_GET_I2CM_POWER 9
#define QVX_DISPID_SET_I2CM_RESET 10
#define QVX_DISPID_GET_I2CM_RESET 11
#define QVX_DISPID_SET_I2CM_BUZZER 12
#define QVX_DISPID_GET_I2CM_BUZZER 13
#define QVX_DISPID_SET_I2CM_LED_PASS 14
#define QVX_DISPID_GET_I2CM_LED_PASS 15
#define QVX_DISPID_SET_I2CM_LED_FAIL 16
#define QVX_DISPID_GET_I2CM_LED_FAIL 17
#define QVX_DISPID_SET_I2CM_LED_ERROR 18
#define QVX_DISPID_GET_I2CM_LED_ERROR 19
#define QVX_DISPID_SETEXPANDCHANNEL 20
#define QVX_DISPID_GETSENSORRAWDATAEX 21
#define QVX_DISPID_EEPROM_READBYTEEX 22
#define QVX_DISPID_GETSENSORRAWDATA 23
#define QVX_DISPID_I2CM_FREADLONGBYTESEX 24
#define QVX_DISPID_I2CM_FWRITELONGBYTESEX 25
#define QVX_DISPID_EEPROM_WRITEBYTEEX 26
#define QVX_DISPID_GET_I2CM_INT 36
#define QVX_DISPID_GET_KEY1 38
#define QVX_DISPID_GET_KEY2 40
#define QVX_DISPID_GET_KEY3 42
// Additions: from 100 upwards, never in the gaps above.
#define QVX_DISPID_GET_LASTSTATUS 100
#define QVX_DISPID_GET_LASTANSWERED 101
#define QVX_DISPID_SET_RAISEERRORS 102
#define QVX_DISPID_GET_RAISEERRORS 103
#define QVX_DISPID_I2CM_FWRITEREADEX 104
#define QVX_DISPID_I2CM_FREADBYTESEX 105
#define QVX_DISPID_I2CM_FWRITEBYTESEX 106
#define QVX_DISPID_GETSENSORVALUESEX 107

// The scodes of the exceptions a method raises while RaiseErrors is on (FACILITY_ITF, codes
// from 0x200 as COM leaves them to interfaces).
#define QVX_E_NO_BOARD 0x80040201L    // the method ran with no board open
#define QVX_E_NO_ANSWER 0x80040202L   // a command of the method went unanswered
#define QVX_E_I2C_STATUS 0x80040203L  // an I2C transfer ended with a status byte other than 0
#define QVX_DISPID_TRACESTART 108
#define QVX_DISPID_TRACESTOP 109
#define QVX_DISPID_LISTBOARDS 110
#define QVX_DISPID_SELECTBOARD 111
#define QVX_DISPID_GET_SELECTEDBOARD 112

// DISPID of _DQelVantorixActiveXEvents.
#define QVX_DISPID_EVENT_PLUG 1

// Resource identifiers of the module.
#define IDS_QELVANTORIXACTIVEX 1
#define IDS_QELVANTORIXACTIVEX_PPG 2
#define IDS_QELVANTORIXACTIVEX_PPG_CAPTION 200
// The class library's "Properties" verb name; the module carries no such string, so containers
// list the verb under the framework's placeholder name.
#define IDS_PROPERTIES_VERB 0xFE41

#define IDB_QELVANTORIXACTIVEX 1
#define IDB_PROPPAGE_PICTURE 202

#define IDI_ABOUTDLL 1

#define IDD_ABOUTBOX_QELVANTORIXACTIVEX 1
#define IDD_PROPPAGE_QELVANTORIXACTIVEX 200

#define IDR_TYPELIB 1
#define IDR_MANIFEST 2

#if !defined(__WIDL__) && !defined(RC_INVOKED)
#include <oleidl.h>
#include <windows.h>

namespace qvx {
namespace guid_text {

constexpr unsigned HexDigit(char c) {
  return (c >= '0' && c <= '9')   ? unsigned(c - '0')
         : (c >= 'a' && c <= 'f') ? unsigned(c - 'a' + 10)
         : (c >= 'A' && c <= 'F') ? unsigned(c - 'A' + 10)
                                  : throw "not a hexadecimal digit";
}

constexpr unsigned long Hex(const char* text, int first, int count) {
  unsigned long value = 0;
  for (int i = 0; i < count; ++i) value = value * 16 + HexDigit(text[first + i]);
  return value;
}

// Text "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" (36 characters) to a GUID.
constexpr GUID Parse(const char* t) {
  return GUID{
      Hex(t, 0, 8),
      static_cast<unsigned short>(Hex(t, 9, 4)),
      static_cast<unsigned short>(Hex(t, 14, 4)),
      {static_cast<unsigned char>(Hex(t, 19, 2)), static_cast<unsigned char>(Hex(t, 21, 2)),
       static_cast<unsigned char>(Hex(t, 24, 2)), static_cast<unsigned char>(Hex(t, 26, 2)),
       static_cast<unsigned char>(Hex(t, 28, 2)), static_cast<unsigned char>(Hex(t, 30, 2)),
       static_cast<unsigned char>(Hex(t, 32, 2)), static_cast<unsigned char>(Hex(t, 34, 2))}};
}

}  // namespace guid_text
}  // namespace qvx

#define QVX_GUID_TEXT_(x) #x
#define QVX_GUID_TEXT(x) QVX_GUID_TEXT_(x)

namespace qvx {

inline constexpr GUID kLibId = guid_text::Parse(QVX_GUID_TEXT(QVX_LIBID_UUID));
inline constexpr GUID kDiidDispatch = guid_text::Parse(QVX_GUID_TEXT(QVX_DIID_DISPATCH_UUID));
inline constexpr GUID kDiidEvents = guid_text::Parse(QVX_GUID_TEXT(QVX_DIID_EVENTS_UUID));
inline constexpr GUID kClsidCtrl = guid_text::Parse(QVX_GUID_TEXT(QVX_CLSID_CTRL_UUID));
inline constexpr GUID kClsidPropPage = guid_text::Parse(QVX_GUID_TEXT(QVX_CLSID_PROPPAGE_UUID));

inline constexpr WORD kVersionMajor = QVX_VERSION_MAJOR;
inline constexpr WORD kVersionMinor = QVX_VERSION_MINOR;

// The control's OLEMISC bits, answered by GetMiscStatus and registered as "MiscStatus": activated
// when visible, inside-out, and given its site before it is loaded.
inline constexpr DWORD kMiscStatus = OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_SETCLIENTSITEFIRST |
                                     OLEMISC_INSIDEOUT | OLEMISC_CANTLINKINSIDE |
                                     OLEMISC_RECOMPOSEONRESIZE;
static_assert(kMiscStatus == 0x20191, "the registry's MiscStatus text is 131473");

}  // namespace qvx

#endif
