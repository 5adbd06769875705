// JScript suite against the registered emulated control: real work through the dispatch
// interface, and the errors that must reach a script as exceptions. Prints "N passed, N failed".
// The shared checks (checks.js beside this script): JScript has no include of its own.
eval(new ActiveXObject('Scripting.FileSystemObject')
         .OpenTextFile(WScript.ScriptFullName.replace(/[^\\\/]*$/, '') + 'checks.js')
         .ReadAll());
function throws(name, fn, mustMention) {
  try {
    fn();
    check(name, false, 'no exception');
  } catch (e) {
    var text = String(e.description || e.message || '');
    check(name, mustMention === undefined || text.indexOf(mustMention) >= 0, text);
  }
}
function sameBytes(a, b) {
  if (a.length !== b.length) return false;
  for (var i = 0; i < a.length; i++)
    if (a[i] !== b[i]) return false;
  return true;
}
function pattern(n, seed) {
  var a = [];
  for (var i = 0; i < n; i++) a.push((i * 7 + seed) & 0xFF);
  return a;
}
function toArray(v) { return new VBArray(v).toArray(); }

var ctl;
try {
  ctl = new ActiveXObject('QELVANTORIXAC.QelVantorixAcCtrl.1');
  check('create the control', true);
} catch (e) {
  check('create the control', false, e.description);
  WScript.Echo(passed + ' passed, ' + failed + ' failed');
  WScript.Quit(1);
}

check('OpenUSBHidDevice finds the board (false means opened)', ctl.OpenUSBHidDevice() === false);
check('OpenUSBHidDevice again', ctl.OpenUSBHidDevice() === false);

// EEPROM round trips.
var page = pattern(64, 3);
ctl.EEPROM_WriteByteEx(0x0100, page);
check('EEPROM page round trip', sameBytes(toArray(ctl.EEPROM_ReadByteEx(0x0100, 64)), page));
var short4 = [1, 2, 250, 255];
ctl.EEPROM_WriteByteEx(0x0180, short4);
check('EEPROM 4 bytes', sameBytes(toArray(ctl.EEPROM_ReadByteEx(0x0180, 4)), short4));
var padded = toArray(ctl.EEPROM_ReadByteEx(0x0100, 100));
check(
    'EEPROM read of 100 pads with zeros',
    padded.length === 100 && padded[63] === page[63] && padded[64] === 0 && padded[99] === 0);
check('EEPROM read of 0 is empty', ctl.EEPROM_ReadByteEx(0x0100, 0) === undefined);

// A read result written back unchanged.
var readBack = ctl.EEPROM_ReadByteEx(0x0100, 16);
ctl.EEPROM_WriteByteEx(0x0300, readBack);
check(
    'read result written back',
    sameBytes(toArray(ctl.EEPROM_ReadByteEx(0x0300, 16)), page.slice(0, 16)));

// I2C serial memory at 0x50: the first two bytes of a write set its address pointer.
var data = pattern(4096, 11);
check(
    'I2C write of 4096 bytes',
    ctl.I2Cm_fWriteLongBytesEx(0x50, [0x10, 0x00].concat(data)) === true);
ctl.I2Cm_fWriteLongBytesEx(0x50, [0x10, 0x00]);
check('I2C read of 4096 bytes', sameBytes(toArray(ctl.I2Cm_fReadLongBytesEx(0x50, 4096)), data));
ctl.I2Cm_fWriteLongBytesEx(0x50, [0x10, 0x00]);
var first8 = ctl.I2Cm_fReadLongBytesEx(0x50, 8);
ctl.I2Cm_fWriteLongBytesEx(0x50, [0x20, 0x00]);
ctl.EEPROM_WriteByteEx(0x0400, first8);
check(
    'I2C read result into the EEPROM',
    sameBytes(toArray(ctl.EEPROM_ReadByteEx(0x0400, 8)), data.slice(0, 8)));
check('I2C read of 0 is empty', ctl.I2Cm_fReadLongBytesEx(0x50, 0) === undefined);
check('I2C write to nobody still answers true', ctl.I2Cm_fWriteLongBytesEx(0x23, [1]) === true);
check('numbers as text convert', ctl.I2Cm_fWriteLongBytesEx('80', ['16', '0', 9.0]) === true);

// Lines.
var lines =
    ['I2Cm_Power', 'I2Cm_Reset', 'I2Cm_Buzzer', 'I2Cm_LED_Pass', 'I2Cm_LED_Fail', 'I2Cm_LED_Error'];
for (var i = 0; i < lines.length; i++) {
  ctl['Set_' + lines[i]](true);
  var on = ctl['Get_' + lines[i]]();
  ctl['Set_' + lines[i]](0);
  var off = ctl['Get_' + lines[i]]();
  check(lines[i] + ' on and off', on === true && off === false, on + '/' + off);
}
check(
    'keys and INT read as booleans',
    typeof ctl.Get_Key1() === 'boolean' && typeof ctl.Get_Key2() === 'boolean' &&
        typeof ctl.Get_Key3() === 'boolean' && typeof ctl.Get_I2Cm_INT() === 'boolean');
check('I2Cm_Speed returns nothing', ctl.I2Cm_Speed(400) === undefined);
ctl.HardwareReset();
ctl.SetExpandChannel(0x70, 2);

// Sensor arrays.
var sensor = toArray(ctl.GetSensorRawDataEx(false, 0));
var inRange = sensor.length === 32;
for (var k = 0; k < sensor.length; k++) inRange = inRange && sensor[k] >= 0 && sensor[k] <= 65535;
check('sensor array of 32 words', inRange, sensor.length);
var sensor2 = toArray(ctl.GetSensorRawDataEx(true, 2));
check('sensor array behind the expander', sensor2.length === 32);

// What happened on the wire: the status byte and the verdict of the last command.
var NOBODY = 0x23;  // no slave answers there
ctl.I2Cm_fReadLongBytesEx(NOBODY, 4);
check('a read from nobody leaves status 1', ctl.Get_LastStatus() === 1, ctl.Get_LastStatus());
check('and was answered', ctl.Get_LastAnswered() === true);
ctl.I2Cm_fWriteLongBytesEx(0x50, [0x10, 0x00]);
check('a write to the memory leaves status 0', ctl.Get_LastStatus() === 0);
check('a write to nobody returns its status', ctl.I2Cm_fWriteBytesEx(NOBODY, [1], true, true) === 1);
check('a write to the memory returns 0', ctl.I2Cm_fWriteBytesEx(0x50, [0x10, 0x10], true, false) === 0);
check(
    'a read with the caller\'s flags continues at the pointer',
    sameBytes(toArray(ctl.I2Cm_fReadBytesEx(0x50, 8, true, true)), data.slice(16, 24)));
check('a flagged read of 0 is empty', ctl.I2Cm_fReadBytesEx(0x50, 0, true, true) === undefined);

// A register read with a repeated start: the pointer bytes, then the data.
check(
    'write-read returns the bytes at the pointer',
    sameBytes(toArray(ctl.I2Cm_fWriteReadEx(0x50, [0x10, 0x20], 16)), data.slice(32, 48)));
check('write-read status 0', ctl.Get_LastStatus() === 0 && ctl.Get_LastAnswered() === true);
var fromNobody = toArray(ctl.I2Cm_fWriteReadEx(NOBODY, [0x00], 2));
check(
    'write-read from nobody: idle bus bytes and status 1',
    sameBytes(fromNobody, [0xFF, 0xFF]) && ctl.Get_LastStatus() === 1);

// Sensor values as plain numbers, high byte first: the raw elements with their bytes exchanged.
var values = toArray(ctl.GetSensorValuesEx(false, 0));
var raw = toArray(ctl.GetSensorRawDataEx(false, 0));
var same = values.length === 32;
for (var k = 0; k < values.length; k++) {
  same = same && typeof values[k] === 'number' &&
      values[k] === (((raw[k] & 0xFF) << 8) | (raw[k] >> 8));
}
check('sensor values are the exchanged raw words', same, values.slice(0, 4).join(','));

// Errors on request: off by default, each kind of failure raises once switched on.
check('RaiseErrors is off by default', ctl.Get_RaiseErrors() === false);
ctl.I2Cm_fReadLongBytesEx(NOBODY, 1);
check('with RaiseErrors off a NACK raises nothing', ctl.Get_LastStatus() === 1);
ctl.Set_RaiseErrors(true);
check('RaiseErrors on', ctl.Get_RaiseErrors() === true);
var QVX_E_I2C_STATUS = 0x80040203 | 0, QVX_E_NO_BOARD = 0x80040201 | 0;
function raises(name, fn, scode, mention) {
  try {
    fn();
    check(name, false, 'no exception');
  } catch (e) {
    check(name, e.number === scode && String(e.description).indexOf(mention) >= 0,
          e.number + ' ' + e.description);
  }
}
raises('a NACKed read raises', function() { ctl.I2Cm_fReadLongBytesEx(NOBODY, 1); },
       QVX_E_I2C_STATUS, 'I2C slave 0x23: status 0x01');
raises('a NACKed write raises', function() { ctl.I2Cm_fWriteLongBytesEx(NOBODY, [1]); },
       QVX_E_I2C_STATUS, 'I2Cm_fWriteLongBytesEx');
raises('a NACKed write-read raises', function() { ctl.I2Cm_fWriteReadEx(NOBODY, [0], 1); },
       QVX_E_I2C_STATUS, 'I2Cm_fWriteReadEx');
check('an acknowledged read raises nothing', ctl.I2Cm_fReadLongBytesEx(0x50, 2) !== undefined);
ctl.Set_RaiseErrors(false);

// A control that opened no board: every kind of command is unanswered, and raises on request.
var idle = new ActiveXObject('QELVANTORIXAC.QelVantorixAcCtrl.1');
var kinds = [
  ['I2Cm_Speed', function() { idle.I2Cm_Speed(400); }],
  ['I2Cm_fReadLongBytesEx', function() { idle.I2Cm_fReadLongBytesEx(0x50, 4); }],
  ['I2Cm_fWriteLongBytesEx', function() { idle.I2Cm_fWriteLongBytesEx(0x50, [0, 0]); }],
  ['I2Cm_fReadBytesEx', function() { idle.I2Cm_fReadBytesEx(0x50, 1, true, true); }],
  ['I2Cm_fWriteBytesEx', function() { idle.I2Cm_fWriteBytesEx(0x50, [0], true, false); }],
  ['I2Cm_fWriteReadEx', function() { idle.I2Cm_fWriteReadEx(0x50, [0], 1); }],
  ['EEPROM_ReadByteEx', function() { idle.EEPROM_ReadByteEx(0, 4); }],
  ['EEPROM_WriteByteEx', function() { idle.EEPROM_WriteByteEx(0, [1]); }],
  ['Get_I2Cm_Power', function() { idle.Get_I2Cm_Power(); }],
  ['Set_I2Cm_Power', function() { idle.Set_I2Cm_Power(true); }],
  ['Get_Key1', function() { idle.Get_Key1(); }],
  ['SetExpandChannel', function() { idle.SetExpandChannel(0x70, 1); }],
  ['HardwareReset', function() { idle.HardwareReset(); }],
  ['GetSensorRawDataEx', function() { idle.GetSensorRawDataEx(true, 1); }],
  ['GetSensorValuesEx', function() { idle.GetSensorValuesEx(false, 0); }]
];
for (var n = 0; n < kinds.length; n++) {
  ctl.Get_I2Cm_Power();  // an answered command on the other control changes nothing here
  kinds[n][1]();
  check(kinds[n][0] + ' with no board is unanswered', idle.Get_LastAnswered() === false);
  idle.Set_RaiseErrors(true);
  raises(kinds[n][0] + ' with no board raises', kinds[n][1], QVX_E_NO_BOARD,
         kinds[n][0] + ': no board is open');
  idle.Set_RaiseErrors(false);
}
check('the opened control\'s last command was answered', ctl.Get_LastAnswered() === true);

// Errors that must reach the script.
throws('I2C read above 65535', function() { ctl.I2Cm_fReadLongBytesEx(0x50, 70000); }, '65535');
throws(
    'I2C write above 65535', function() { ctl.I2Cm_fWriteLongBytesEx(0x50, pattern(65536, 0)); },
    '65535');
throws('a string is no array', function() { ctl.EEPROM_WriteByteEx(0, 'abc'); });
throws('an element above 255', function() { ctl.EEPROM_WriteByteEx(0, [1, 300]); });
throws('a negative element', function() { ctl.I2Cm_fWriteLongBytesEx(0x50, [-1]); });
throws('a missing argument', function() { ctl.I2Cm_Speed(); });
throws('too many arguments', function() { ctl.I2Cm_Speed(1, 2); });
throws('a slave address above 255', function() { ctl.I2Cm_fReadLongBytesEx(256, 1); });
throws(
    'no byte reference from JScript',
    function() { ctl.I2Cm_fReadLongBytes(0x50, 0, 1, true, true); });
throws('an unknown method', function() { ctl.NoSuchMethod(); });
throws('a missing array', function() { ctl.EEPROM_WriteByteEx(0); });

// Tracing: a text trace of two commands, and the names TraceStart refuses.
// (The temporary folder comes from the file system object: Wine's ExpandEnvironmentStrings
// returns a string with its terminator inside.)
var fso = new ActiveXObject('Scripting.FileSystemObject');
var tracePath = fso.GetSpecialFolder(2).Path + '\\qvx_suite_' + new Date().getTime() + '.txt';
check('TraceStart on a new file', ctl.TraceStart(tracePath) === true);
ctl.HardwareReset();
ctl.SetExpandChannel(0x70, 1);
check('TraceStop returns nothing', ctl.TraceStop() === undefined);
ctl.HardwareReset();  // not traced
var traceLines = fso.OpenTextFile(tracePath, 1).ReadAll().replace(/\n$/, '').split('\n');
check(
    'the text trace has its header and one line per command',
    traceLines.length === 3 && traceLines[0].indexOf('# qvx trace ') === 0 &&
        traceLines[1].indexOf(' hardware-reset ') > 0 &&
        traceLines[2].indexOf(' expander address=0x70 channel=0x01 ') > 0,
    traceLines.join(' | '));
check('TraceStart refuses an existing file', ctl.TraceStart(tracePath) === false);
check('TraceStart refuses another extension', ctl.TraceStart(tracePath + '.js') === false);
check('TraceStart refuses a network path', ctl.TraceStart('\\\\server\\share\\t.log') === false);
check('TraceStart refuses a device path', ctl.TraceStart('\\\\.\\COM1.txt') === false);
fso.DeleteFile(tracePath);

// Several boards, with the one board the emulated control holds: its fields, the selectors
// that name it and those that do not, and the refusals.
var firstLocation = 'PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)';
var boardCases = [  // [field, the one element]
  ['serial', ''], ['location', firstLocation]
];
for (var n = 0; n < boardCases.length; n++) {
  var listed = toArray(ctl.ListBoards(boardCases[n][0]));
  check('ListBoards ' + boardCases[n][0], listed.length === 1 && listed[0] === boardCases[n][1],
        listed.join(','));
}
var boardPath = toArray(ctl.ListBoards('path'))[0];
var selections = [  // [selector, opens a board]
  ['index:0', true], ['location:' + firstLocation, true], ['path:' + boardPath, true],
  ['index:1', false], ['serial:', null], ['serial:X', false], ['first', true]
];
for (var n = 0; n < selections.length; n++) {
  var sel = selections[n][0], opens = selections[n][1];
  if (opens === null) {
    throws('SelectBoard ' + sel + ' is refused', function() { ctl.SelectBoard(sel); }, sel);
    continue;
  }
  check('SelectBoard ' + sel, ctl.SelectBoard(sel) === opens);
  check('Get_SelectedBoard after ' + sel,
        ctl.Get_SelectedBoard() === (opens ? 'location:' + firstLocation : ''),
        ctl.Get_SelectedBoard());
}
throws('ListBoards of an unknown field', function() { ctl.ListBoards('port'); }, 'port');
check('OpenUSBHidDevice after SelectBoard', ctl.OpenUSBHidDevice() === false);

// A second control: with QVX_TRACE_DIR set, each control traces into a file of its own.
var second = new ActiveXObject('QELVANTORIXAC.QelVantorixAcCtrl.1');
check('a second control opens the board', second.OpenUSBHidDevice() === false);
second.I2Cm_fWriteLongBytesEx(0x50, [0x10, 0x00]);
WScript.Echo('controls created: 3');  // ctl, idle and second

WScript.Echo(passed + ' passed, ' + failed + ' failed');
WScript.Quit(failed === 0 ? 0 : 1);
