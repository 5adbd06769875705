' Two runs against the emulated control with a board model and a state file (QVX_EMULATED_MODEL,
' QVX_EMULATED_STATE): "write" stores bytes in the modelled EEPROM at 0x50 and in the board's
' EEPROM, "read", in the next process, finds them there. Prints "N passed, N failed".
' Run through model_state.wsf, which runs checks.vbs (Check, passed, failed) first.
Option Explicit
Dim ctl, mode, r

mode = WScript.Arguments(0)
Set ctl = CreateObject("QELVANTORIXAC.QelVantorixAcCtrl.1")
Check "the modelled board opens", Not ctl.OpenUSBHidDevice()
If mode = "write" Then
  ctl.I2Cm_fWriteLongBytesEx &H50, Array(&H20, &HCA, &HFE)
  ctl.EEPROM_WriteByteEx &H300, Array(&H5A)
  ctl.I2Cm_fWriteLongBytesEx &H50, Array(&H20)
  r = ctl.I2Cm_fReadLongBytesEx(&H50, 2)
  Check "written", CLng(r(0)) = &HCA And CLng(r(1)) = &HFE
Else
  ctl.I2Cm_fWriteLongBytesEx &H50, Array(&H20)
  r = ctl.I2Cm_fReadLongBytesEx(&H50, 2)
  Check "the modelled memory kept its bytes", CLng(r(0)) = &HCA And CLng(r(1)) = &HFE
  r = ctl.EEPROM_ReadByteEx(&H300, 1)
  Check "the EEPROM kept its byte", CLng(r(0)) = &H5A
  ' The sensor model's own content is still there around the written bytes.
  ctl.I2Cm_fWriteLongBytesEx &H50, Array(&H00)
  r = ctl.I2Cm_fReadLongBytesEx(&H50, 3)
  Check "the model's content", CLng(r(0)) = &H51 And CLng(r(1)) = &H56 And CLng(r(2)) = &H58
End If
WScript.Echo passed & " passed, " & failed & " failed"
