' VBScript against the silent board of silent_board.json: the verdict and the exception of an
' unanswered command, and a command the board never answers. Prints "N passed, N failed".
' Run through silent_board.wsf, which runs checks.vbs (Check, passed, failed) first.
Option Explicit

Dim ctl, values
Set ctl = CreateObject("QELVANTORIXAC.QelVantorixAcCtrl.1")
Check "the silent board opens", ctl.OpenUSBHidDevice() = False
values = ctl.GetSensorValuesEx(False, 0)
Check "an unanswered sensor read", ctl.Get_LastAnswered() = False
ctl.I2Cm_fWriteReadEx &H50, Array(0), 2
Check "an unanswered write-read", ctl.Get_LastAnswered() = False
ctl.HardwareReset
Check "a reset needs no answer", ctl.Get_LastAnswered() = True
ctl.Set_RaiseErrors True
On Error Resume Next
Err.Clear
ctl.Get_Key1
Check "raises with its scode", Err.Number = &H80040202
Check "and says so", Err.Description = "Get_Key1: the board did not answer"
Err.Clear
ctl.SetExpandChannel &H70, 2
Check "a selection raises nothing", Err.Number = 0
On Error GoTo 0
WScript.Echo passed & " passed, " & failed & " failed"
