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

' Early binding: Tools > References > "QelVantorixActiveX ActiveX Control module" (the type
' library in the OCX, listed by its help string). The class is a control, so VBA refuses New on
' it ("Invalid use of New keyword"): declare the type and create the object with CreateObject.
' A Byte array element passed ByRef arrives as a byte reference, so the classic methods work;
' they write count bytes from that element on (GetSensorRawData always 64), so pass the first
' element of an array at least that long.
Sub ReadEepromEarly()
    Dim ctl As QelVantorixActiveXLib.QelVantorixActiveX
    Dim buf(63) As Byte, sensor(63) As Byte
    Set ctl = CreateObject("QELVANTORIXAC.QelVantorixAcCtrl.1")
    If ctl.OpenUSBHidDevice() Then MsgBox "no board": Exit Sub
    ctl.EEPROM_ReadByte &H0, buf(0), 16
    ActiveSheet.Range("A2").Value = "EEPROM 0000: " & buf(0)
    ctl.GetSensorRawData False, 0, sensor(0)    ' writes all 64 bytes
    ActiveSheet.Range("A3").Value = "sensor value 0: " & (sensor(0) + 256& * sensor(1))
End Sub
