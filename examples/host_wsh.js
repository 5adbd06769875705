// Windows Script Host, JScript:  cscript //nologo host_wsh.js
// 64-bit cscript (System32) uses the 64-bit control, 32-bit cscript (SysWOW64) the 32-bit one.
var ctl = new ActiveXObject('QELVANTORIXAC.QelVantorixAcCtrl.1');

// true means NO board was opened. A script host gives the control no window: it registers for
// plug notifications through a hidden window of its own, so no message box appears.
if (ctl.OpenUSBHidDevice()) WScript.Echo('no board: the calls below return at once');

// JScript cannot pass a byte by reference: use the Ex methods, which take and return arrays.
ctl.EEPROM_WriteByteEx(0x0100, [0x12, 0x34, 0x56]);
var read = ctl.EEPROM_ReadByteEx(0x0100, 3);  // a SAFEARRAY of VARIANTs
var bytes = read === undefined ? [] : new VBArray(read).toArray();
WScript.Echo('EEPROM_ReadByteEx: ' + bytes.length + ' bytes: ' + bytes.join(' '));
WScript.Echo('Key1: ' + ctl.Get_Key1() + ', power: ' + ctl.Get_I2Cm_Power());
WScript.Echo('done');
