' Windows Script Host, VBScript:  cscript //nologo host_wsh.vbs
' 64-bit cscript (System32) uses the 64-bit control, 32-bit cscript (SysWOW64) the 32-bit one.
Option Explicit
Dim ctl, page, b, text
Set ctl = CreateObject("QELVANTORIXAC.QelVantorixAcCtrl.1")

' True means NO board was opened (and a windowless control shows its message box here).
If ctl.OpenUSBHidDevice() Then WScript.Echo "no board: the calls below return at once"

' A VBScript variable reaches the control as a Variant reference, never as a byte reference:
' use the Ex methods, which take a VBScript array and return an array of bytes.
ctl.EEPROM_WriteByteEx &H100, Array(&H12, &H34, &H56)
page = ctl.EEPROM_ReadByteEx(&H100, 3)
text = ""
If Not IsEmpty(page) Then
  For Each b In page
    text = text & " " & b
  Next
End If
WScript.Echo "EEPROM_ReadByteEx:" & text
WScript.Echo "Key1: " & ctl.Get_Key1() & ", power: " & ctl.Get_I2Cm_Power()
WScript.Echo "done"
