' The control installed on this PC, created by its ProgID from VBScript, with a board plugged
' in or not. Reads only. Prints "N passed, N failed".
' Run through installed.wsf, which runs checks.vbs (Check, passed, failed) first.
Option Explicit
Dim ctl, noBoard, scode

On Error Resume Next
Set ctl = CreateObject("QELVANTORIXAC.QelVantorixAcCtrl.1")
If Err.Number <> 0 Then
  Check "the control is created by its ProgID: " & Err.Description, False
  Err.Clear
Else
  On Error GoTo 0
  noBoard = ctl.OpenUSBHidDevice()
  Check "OpenUSBHidDevice answers a Boolean", VarType(noBoard) = vbBoolean
  Check "Get_SelectedBoard is empty exactly when no board was opened", _
        (ctl.Get_SelectedBoard() = "") = noBoard
  Check "Get_I2Cm_Power reads a Boolean", VarType(ctl.Get_I2Cm_Power()) = vbBoolean
  Check "the board answered exactly when it was opened", ctl.Get_LastAnswered() <> noBoard
  ctl.Set_RaiseErrors True
  On Error Resume Next
  ctl.Get_Key1
  scode = Err.Number
  Err.Clear
  On Error GoTo 0
  If noBoard Then
    Check "with RaiseErrors on and no board, a read raises ""no board is open""", scode = &H80040201
  Else
    Check "with RaiseErrors on and a board, a read raises nothing", scode = 0
  End If
  ctl.Set_RaiseErrors False
End If
WScript.Echo passed & " passed, " & failed & " failed"
