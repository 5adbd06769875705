# Python with pywin32:  python host_pywin32.py
# A 64-bit Python needs the 64-bit control, a 32-bit Python the 32-bit one.
import struct
import win32com.client

ctl = win32com.client.Dispatch("QELVANTORIXAC.QelVantorixAcCtrl.1")
if ctl.OpenUSBHidDevice():  # True means NO board was found
    print("no board: the calls below return at once")
ctl.EEPROM_WriteByteEx(0x100, [0x12, 0x34, 0x56])  # a list goes as an array of VARIANTs
page = ctl.EEPROM_ReadByteEx(0x100, 3)             # comes back as a tuple
print("EEPROM_ReadByteEx:", list(page or ()))
print("python is", struct.calcsize("P") * 8, "bit")
