# PowerShell: powershell -ExecutionPolicy Bypass -File host_powershell.ps1
# (client Windows runs no script file under its default policy, Restricted; -ExecutionPolicy
# Bypass applies to this one process and changes no setting).
# 64-bit PowerShell (the default) needs the 64-bit control; the 32-bit control needs
# C:\Windows\SysWOW64\WindowsPowerShell\v1.0\powershell.exe.
$ctl = New-Object -ComObject QELVANTORIXAC.QelVantorixAcCtrl.1
if ($ctl.OpenUSBHidDevice()) { "no board: the calls below return at once" }
# A [byte[]] arrives as a byte array, a plain array (@(1, 2)) as an array of VARIANTs: the Ex
# methods take both.
$ctl.EEPROM_WriteByteEx(0x100, [byte[]](0x12, 0x34, 0x56))
$page = $ctl.EEPROM_ReadByteEx(0x100, 3)        # comes back as object[]
"EEPROM_ReadByteEx: " + ($page -join ' ')
"64-bit process: " + [Environment]::Is64BitProcess
