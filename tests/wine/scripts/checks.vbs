' The checks every VBScript suite here counts with: each suite's .wsf job runs this file first.
' The suite ends by printing "N passed, N failed".
Option Explicit
Dim passed, failed
passed = 0
failed = 0

Sub Check(name, ok)
  If ok Then
    passed = passed + 1
  Else
    failed = failed + 1
    WScript.Echo "FAIL " & name
  End If
End Sub
