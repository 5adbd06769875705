# Python with comtypes:  python host_comtypes.py
# A 64-bit Python needs the 64-bit control, a 32-bit Python the 32-bit one.
import comtypes.client

ctl = comtypes.client.CreateObject("QELVANTORIXAC.QelVantorixAcCtrl.1", dynamic=True)
if ctl.OpenUSBHidDevice():
    print("no board: the calls below return at once")
ctl.EEPROM_WriteByteEx(0x100, [0x12, 0x34, 0x56])
print("EEPROM_ReadByteEx:", list(ctl.EEPROM_ReadByteEx(0x100, 3) or ()))
