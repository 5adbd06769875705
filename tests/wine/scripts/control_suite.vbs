' VBScript suite against the registered emulated control: arrays passed by reference, calls
' without parentheses, and errors through Err. Prints "N passed, N failed".
' Run through control_suite.wsf, which runs checks.vbs (Check, passed, failed) first.
Option Explicit

Function SameBytes(a, b)
  Dim i
  SameBytes = False
  If UBound(a) <> UBound(b) Then Exit Function
  For i = 0 To UBound(a)
    If CLng(a(i)) <> CLng(b(i)) Then Exit Function
  Next
  SameBytes = True
End Function

' A case that checks what only Wine's engine does is skipped elsewhere, and counted.
Dim skipped
skipped = 0
Sub SkipOffWine(name, why)
  skipped = skipped + 1
  WScript.Echo "SKIP " & name & ": " & why
End Sub

' Wine puts its configuration program in the system folder; Windows has none. (WSH has no test
' for a registry key as such, and Wine's key has no default value for RegRead to read.)
Function OnWine()
  Dim files
  Set files = CreateObject("Scripting.FileSystemObject")
  OnWine = files.FileExists(files.GetSpecialFolder(1).Path & "\winecfg.exe")
End Function

Function Pattern(n, seed)
  ' Wine's VBScript fails on "Dim a()" followed by ReDim inside a function.
  Dim a, i
  ReDim a(n - 1)
  For i = 0 To n - 1
    a(i) = (i * 7 + seed) Mod 256
  Next
  Pattern = a
End Function

Dim ctl
Set ctl = CreateObject("QELVANTORIXAC.QelVantorixAcCtrl.1")
Check "OpenUSBHidDevice finds the board", ctl.OpenUSBHidDevice() = False

' EEPROM round trip with a VBScript array variable (it arrives by reference).
Dim page, back
page = Pattern(64, 5)
ctl.EEPROM_WriteByteEx &H100, page
back = ctl.EEPROM_ReadByteEx(&H100, 64)
Check "EEPROM page round trip", SameBytes(back, page)
Check "returned array bounds", LBound(back) = 0 And UBound(back) = 63
Check "returned elements are bytes", VarType(back(0)) = vbByte

' The read result written back unchanged.
ctl.EEPROM_WriteByteEx &H300, back
Check "read result written back", SameBytes(ctl.EEPROM_ReadByteEx(&H300, 64), page)
ctl.EEPROM_WriteByteEx &H380, Array(1, 2, 3, 255)
Check "Array() literal round trip", SameBytes(ctl.EEPROM_ReadByteEx(&H380, 4), Array(1, 2, 3, 255))
Check "EEPROM read of 0 is empty", IsEmpty(ctl.EEPROM_ReadByteEx(&H100, 0))

' I2C serial memory at &H50.
Dim data, withPointer, i
data = Pattern(300, 9)
ReDim withPointer(301)
withPointer(0) = &H20
withPointer(1) = 0
For i = 0 To 299
  withPointer(i + 2) = data(i)
Next
Check "I2C write", ctl.I2Cm_fWriteLongBytesEx(&H50, withPointer) = True
ctl.I2Cm_fWriteLongBytesEx &H50, Array(&H20, 0)
Check "I2C read", SameBytes(ctl.I2Cm_fReadLongBytesEx(&H50, 300), data)
' Variables reach scalar parameters by reference.
Dim slave, count
slave = &H50
count = 300
ctl.I2Cm_fWriteLongBytesEx slave, Array(&H20, 0)
Check "I2C read with variables", SameBytes(ctl.I2Cm_fReadLongBytesEx(slave, count), data)

' Lines, called without parentheses (DISPATCH_PROPERTYGET alone) and with them.
ctl.Set_I2Cm_Power True
Check "power on", ctl.Get_I2Cm_Power = True
ctl.Set_I2Cm_Power False
Check "power off", ctl.Get_I2Cm_Power() = False
ctl.Set_I2Cm_LED_Pass 1
Check "pass LED on", ctl.Get_I2Cm_LED_Pass() = True
ctl.Set_I2Cm_LED_Pass 0
Check "pass LED off", ctl.Get_I2Cm_LED_Pass() = False
ctl.Set_I2Cm_Buzzer True
Check "buzzer on", ctl.Get_I2Cm_Buzzer() = True
ctl.Set_I2Cm_Buzzer False
ctl.I2Cm_Speed 400
ctl.HardwareReset

' Sensor array.
Dim sensor
sensor = ctl.GetSensorRawDataEx(False, 0)
Check "sensor array of 32", UBound(sensor) = 31
If OnWine() Then
  Check "sensor elements are words", VarType(sensor(0)) = vbInteger Or VarType(sensor(0)) = 18
Else
  SkipOffWine "sensor elements are words", "Windows' VBScript refuses to read a VT_UI2 element"
End If

' Status, verdict, flagged transfers and the repeated-start read.
Const NOBODY = &H23
ctl.I2Cm_fReadLongBytesEx NOBODY, 2
Check "a read from nobody leaves status 1", ctl.Get_LastStatus() = 1
Check "and was answered", ctl.Get_LastAnswered() = True
Check "a write to nobody returns status 1", ctl.I2Cm_fWriteBytesEx(NOBODY, Array(1), True, True) = 1
Check "a write to the memory returns 0", ctl.I2Cm_fWriteBytesEx(&H50, Array(&H20, 0), True, False) = 0
Dim part, k
part = ctl.I2Cm_fReadBytesEx(&H50, 4, True, True)
Check "a flagged read continues at the pointer", SameBytes(part, Array(data(0), data(1), data(2), data(3)))
part = ctl.I2Cm_fWriteReadEx(&H50, Array(&H20, 4), 4)
Check "write-read returns the bytes at the pointer", SameBytes(part, Array(data(4), data(5), data(6), data(7)))
Check "write-read status 0", ctl.Get_LastStatus() = 0

' Sensor values: Long elements, one of the subtypes every VBScript engine has (the raw
' method's VT_UI2 elements are not; the C++ tests compare the two).
Dim values, sameValues
values = ctl.GetSensorValuesEx(False, 0)
sameValues = UBound(values) = 31
For k = 0 To UBound(values)
  sameValues = sameValues And VarType(values(k)) = vbLong
  sameValues = sameValues And values(k) >= 0 And values(k) <= 65535
Next
Check "sensor values are Longs from 0 to 65535", sameValues

' Errors on request.
Check "RaiseErrors is off by default", ctl.Get_RaiseErrors() = False
On Error Resume Next
Err.Clear
ctl.I2Cm_fReadLongBytesEx NOBODY, 1
Check "with RaiseErrors off a NACK raises nothing", Err.Number = 0
ctl.Set_RaiseErrors True
Err.Clear
ctl.I2Cm_fReadLongBytesEx NOBODY, 1
Check "a NACK raises with its scode", Err.Number = &H80040203
Check "and names the slave and the status", InStr(Err.Description, "I2C slave 0x23: status 0x01") > 0
Err.Clear
ctl.I2Cm_fWriteReadEx NOBODY, Array(0), 1
Check "a NACKed write-read raises", Err.Number = &H80040203
ctl.Set_RaiseErrors False
Dim idle
Set idle = CreateObject("QELVANTORIXAC.QelVantorixAcCtrl.1")
idle.Set_RaiseErrors True
Err.Clear
idle.Get_Key1
Check "a command with no board raises with its scode", Err.Number = &H80040201
Check "and says so", InStr(Err.Description, "Get_Key1: no board is open") > 0
idle.Set_RaiseErrors False
Err.Clear
idle.HardwareReset
Check "with RaiseErrors off nothing is raised", Err.Number = 0
Check "and the command is unanswered", idle.Get_LastAnswered() = False
On Error GoTo 0

' Errors reach the script.
Dim b
On Error Resume Next
Err.Clear
ctl.I2Cm_fReadLongBytesEx &H50, 70000
Check "I2C read above 65535 fails", Err.Number <> 0 And InStr(Err.Description, "65535") > 0
Err.Clear
ctl.EEPROM_WriteByteEx 0, "abc"
Check "a string is no array", Err.Number <> 0
Err.Clear
ctl.EEPROM_WriteByteEx 0, Array(1, 256)
Check "an element above 255", Err.Number <> 0
Err.Clear
b = CByte(0)
ctl.I2Cm_fReadLongBytes &H50, b, 1, True, True
Check "a Byte variable is no byte reference", Err.Number <> 0
Err.Clear
ctl.I2Cm_Speed
Check "a missing argument", Err.Number <> 0
Err.Clear
ctl.NoSuchMethod
Check "an unknown method", Err.Number <> 0
On Error GoTo 0

' Tracing, called the VBScript way: a call without parentheses stops the trace.
Dim fso, tracePath, traced
Set fso = CreateObject("Scripting.FileSystemObject")
tracePath = fso.GetSpecialFolder(2).Path & "\qvx_suite_vbs_" & CLng(Timer() * 100) & ".log"
Check "TraceStart on a new file", ctl.TraceStart(tracePath) = True
ctl.SetExpandChannel &H70, 3
ctl.TraceStop
ctl.HardwareReset
traced = Split(fso.OpenTextFile(tracePath, 1).ReadAll(), vbLf)
Check "the trace holds the header and the one command", UBound(traced) = 2 And _
      InStr(traced(1), " expander address=0x70 channel=0x03 ") > 0
Check "TraceStart refuses an existing file", ctl.TraceStart(tracePath) = False
Check "TraceStart refuses a name of another kind", ctl.TraceStart("trace.htm") = False
fso.DeleteFile tracePath

WScript.Echo passed & " passed, " & failed & " failed, " & skipped & " skipped"
If failed = 0 Then WScript.Quit 0 Else WScript.Quit 1
