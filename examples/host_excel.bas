Attribute VB_Name = "QelVantorixBench"
' VBA in Excel (import this module: Visual Basic editor, File > Import File).
' 64-bit Office needs the 64-bit control, 32-bit Office the 32-bit one (File > Account > About).
Option Explicit

' Late binding: nothing to set up.
Sub ReadEepromLate()
    Dim ctl As Object, page As Variant, i As Long
    Set ctl = CreateObject("QELVANTORIXAC.QelVantorixAcCtrl.1")
    If ctl.OpenUSBHidDevice() Then MsgBox "no board": Exit Sub
    page = ctl.EEPROM_ReadByteEx(&H0, 8)          ' a Variant array of bytes
    For i = LBound(page) To UBound(page)
        ActiveSheet.Cells(1, i + 1).Value = page(i)
    Next
End Sub

' Early binding: Tools > References > QelVantorixActiveXLib (the type library in the OCX).
' A Byte variable passed ByRef arrives as a byte reference, so the classic methods work; they
' write count bytes from that reference on, so with one Byte variable keep count at 1.
Sub ReadEepromEarly()
    Dim ctl As New QelVantorixActiveXLib.QelVantorixActiveX
    Dim b As Byte
    If ctl.OpenUSBHidDevice() Then MsgBox "no board": Exit Sub
    ctl.EEPROM_ReadByte &H0, b, 1
    ActiveSheet.Range("A2").Value = "EEPROM 0000: " & b
End Sub
