' QelVantorixActiveX demo in VBScript: drives the board through the control as a bench script
' would. Run it against the emulated OCX (registered with regsvr32):
'   wine64 cscript //nologo demo.vbs      (or cscript //nologo demo.vbs on Windows)
Option Explicit

Function Hex2(b)
  Hex2 = Right("0" & Hex(b), 2)
End Function

Function HexBytes(a)
  Dim i, s
  s = ""
  If IsEmpty(a) Then
    HexBytes = ""
    Exit Function
  End If
  For i = LBound(a) To UBound(a)
    If i > LBound(a) Then s = s & " "
    s = s & Hex2(a(i))
  Next
  HexBytes = s
End Function

Dim ctl, failed, page, back, sensor
Set ctl = CreateObject("QELVANTORIXAC.QelVantorixAcCtrl.1")

' OpenUSBHidDevice answers True when it could NOT open the board.
failed = ctl.OpenUSBHidDevice()
If failed Then
  WScript.Echo "OpenUSBHidDevice() -> True (no board)"
  WScript.Quit 1
End If
WScript.Echo "OpenUSBHidDevice() -> False (board open)"

ctl.I2Cm_Speed 400
ctl.Set_I2Cm_Power True
WScript.Echo "Set_I2Cm_Power True; Get_I2Cm_Power() -> " & ctl.Get_I2Cm_Power()

' A VBScript array goes to the EEPROM as it is; the read comes back as an array of bytes.
page = Array(&H51, &H56, &H58, &H21)
ctl.EEPROM_WriteByteEx &H300, page
back = ctl.EEPROM_ReadByteEx(&H300, 4)
WScript.Echo "EEPROM_ReadByteEx(&H300, 4) -> " & HexBytes(back)

' The serial memory at I2C address &H50: the first two bytes of a write set its address pointer.
ctl.I2Cm_fWriteLongBytesEx &H50, Array(0, &H20, 1, 2, 3, 4)
ctl.I2Cm_fWriteLongBytesEx &H50, Array(0, &H20)
WScript.Echo "I2Cm_fReadLongBytesEx(&H50, 4) -> " & HexBytes(ctl.I2Cm_fReadLongBytesEx(&H50, 4))

sensor = ctl.GetSensorRawDataEx(True, 2)
WScript.Echo "GetSensorRawDataEx(True, 2) -> " & (UBound(sensor) + 1) & " values, first: " & sensor(0)

On Error Resume Next
ctl.I2Cm_fReadLongBytesEx &H50, 70000
If Err.Number <> 0 Then WScript.Echo "I2Cm_fReadLongBytesEx(&H50, 70000) refused: " & Err.Description
On Error GoTo 0

ctl.Set_I2Cm_Power False
WScript.Echo "Power off again. Done."
