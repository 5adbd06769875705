// QelVantorixActiveX demo: drives the board through the control as a web page script would.
// Run it against the emulated OCX (registered with regsvr32):
//   wine64 cscript //nologo demo.js
function hex(bytes) {
  var out = [];
  for (var i = 0; i < bytes.length; i++)
    out.push((bytes[i] < 16 ? '0' : '') + bytes[i].toString(16));
  return out.join(' ');
}
function toArray(v) { return v === undefined ? [] : new VBArray(v).toArray(); }

var ctl = new ActiveXObject('QELVANTORIXAC.QelVantorixAcCtrl.1');

// OpenUSBHidDevice answers true when it could NOT open the board.
var failed = ctl.OpenUSBHidDevice();
WScript.Echo('OpenUSBHidDevice() -> ' + failed + (failed ? ' (no board)' : ' (board open)'));
if (failed) WScript.Quit(1);

ctl.I2Cm_Speed(400);
WScript.Echo('I2Cm_Speed(400): I2C clock set to 400 kHz');

ctl.Set_I2Cm_Power(true);
WScript.Echo('Set_I2Cm_Power(true); Get_I2Cm_Power() -> ' + ctl.Get_I2Cm_Power());
ctl.Set_I2Cm_LED_Pass(true);
WScript.Echo('Set_I2Cm_LED_Pass(true); Get_I2Cm_LED_Pass() -> ' + ctl.Get_I2Cm_LED_Pass());
WScript.Echo(
    'Keys: ' + ctl.Get_Key1() + ', ' + ctl.Get_Key2() + ', ' + ctl.Get_Key3() +
    '; INT: ' + ctl.Get_I2Cm_INT());

var bytes = [0xDE, 0xAD, 0xBE, 0xEF];
ctl.EEPROM_WriteByteEx(0x0100, bytes);
WScript.Echo('EEPROM_WriteByteEx(0x0100, [' + hex(bytes) + '])');
WScript.Echo(
    'EEPROM_ReadByteEx(0x0100, 4) -> [' + hex(toArray(ctl.EEPROM_ReadByteEx(0x0100, 4))) + ']');

// The serial memory at I2C address 0x50 takes its address pointer from a write's first two bytes.
ctl.I2Cm_fWriteLongBytesEx(0x50, [0x00, 0x10, 0x11, 0x22, 0x33]);
WScript.Echo('I2Cm_fWriteLongBytesEx(0x50, [00 10 11 22 33])');
ctl.I2Cm_fWriteLongBytesEx(0x50, [0x00, 0x10]);
var read = ctl.I2Cm_fReadLongBytesEx(0x50, 3);
WScript.Echo('I2Cm_fReadLongBytesEx(0x50, 3) -> [' + hex(toArray(read)) + ']');
ctl.EEPROM_WriteByteEx(0x0200, read);
WScript.Echo(
    'EEPROM_WriteByteEx(0x0200, <that result>); EEPROM_ReadByteEx(0x0200, 3) -> [' +
    hex(toArray(ctl.EEPROM_ReadByteEx(0x0200, 3))) + ']');

// A register read with a repeated start: the pointer 00 10 is written without STOP, then the
// three bytes there are read after a repeated START.
var reg = toArray(ctl.I2Cm_fWriteReadEx(0x50, [0x00, 0x10], 3));
WScript.Echo(
    'I2Cm_fWriteReadEx(0x50, [00 10], 3) -> [' + hex(reg) + '], status ' + ctl.Get_LastStatus());

// A slave that does not acknowledge: the bytes look like data (0xFF), the status tells.
var none = toArray(ctl.I2Cm_fReadLongBytesEx(0x48, 2));
WScript.Echo(
    'I2Cm_fReadLongBytesEx(0x48, 2) -> [' + hex(none) + '], status ' + ctl.Get_LastStatus() +
    (ctl.Get_LastStatus() !== 0 ? ' (no device at 0x48: NACK)' : ''));
ctl.Set_RaiseErrors(true);
try {
  ctl.I2Cm_fWriteReadEx(0x48, [0x00], 2);
} catch (e) {
  WScript.Echo('With Set_RaiseErrors(true) the NACK raises: ' + e.description);
}
ctl.Set_RaiseErrors(false);
WScript.Echo('Get_LastAnswered() -> ' + ctl.Get_LastAnswered() + ' (the board answered)');

var values = toArray(ctl.GetSensorValuesEx(false, 0));
WScript.Echo('GetSensorValuesEx(false, 0) -> first four: ' + values.slice(0, 4).join(', '));
var sensor = toArray(ctl.GetSensorRawDataEx(false, 0));
WScript.Echo(
    'GetSensorRawDataEx(false, 0) -> ' + sensor.length +
    ' values, first four: ' + sensor.slice(0, 4).join(', '));

try {
  ctl.I2Cm_fReadLongBytesEx(0x50, 70000);
} catch (e) {
  WScript.Echo('I2Cm_fReadLongBytesEx(0x50, 70000) refused: ' + e.description);
}

ctl.Set_I2Cm_LED_Pass(false);
ctl.Set_I2Cm_Power(false);
WScript.Echo('Power and pass LED off again. Done.');
