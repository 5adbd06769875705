// Reads the temperature sensor of examples/sensor_board.json through a repeated start: one
// I2Cm_fWriteReadEx call writes the register pointer and reads the register back without a
// STOP in between, as the sensor's data sheet asks. Run it against the emulated OCX:
//   set QVX_EMULATED_MODEL=Z:\path\to\examples\sensor_board.json
//   wine64 cscript //nologo read_sensor.js
// The temperature register gives 0x1900, 0x1910, 0x1920, 0x1930 on successive reads (25.0,
// 25.06, 25.13, 25.19 degrees C in 1/256 degree steps), then starts again.
function toArray(v) { return v === undefined ? [] : new VBArray(v).toArray(); }
function hex2(b) { return (b < 16 ? '0' : '') + b.toString(16).toUpperCase(); }

var SENSOR = 0x48;
var TEMPERATURE = 0x00;
var CONFIGURATION = 0x01;

var ctl = new ActiveXObject('QELVANTORIXAC.QelVantorixAcCtrl.1');
// OpenUSBHidDevice answers true when it could NOT open the board.
if (ctl.OpenUSBHidDevice()) {
  WScript.Echo('no board');
  WScript.Quit(1);
}

// A 16-bit register, high byte first: the pointer written, two bytes read, one transaction.
function readRegister(register) {
  var bytes = toArray(ctl.I2Cm_fWriteReadEx(SENSOR, [register], 2));
  if (!ctl.Get_LastAnswered()) throw new Error('the board did not answer');
  if (ctl.Get_LastStatus() !== 0) throw new Error('no sensor at 0x48: status ' + ctl.Get_LastStatus());
  return bytes[0] * 256 + bytes[1];
}

var config = readRegister(CONFIGURATION);
WScript.Echo('configuration: 0x' + hex2(config >> 8) + hex2(config & 0xFF));

// A polling loop as a bench script has it: read until the temperature has risen by 0.1 C.
var first = readRegister(TEMPERATURE);
WScript.Echo('temperature: ' + (first / 256).toFixed(2) + ' C');
for (var i = 0; i < 10; i++) {
  var now = readRegister(TEMPERATURE);
  WScript.Echo('temperature: ' + (now / 256).toFixed(2) + ' C');
  if (now - first >= 0.1 * 256) break;
}
WScript.Echo('read_sensor.js: done');
