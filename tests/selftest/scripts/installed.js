// The control installed on this PC, created by its ProgID, with a board plugged in or not.
// Reads only: no line is switched and nothing is written to the board or its EEPROM.
// Prints the board it found, then "N passed, N failed".
// The shared checks (checks.js beside this script): JScript has no include of its own.
eval(new ActiveXObject('Scripting.FileSystemObject')
         .OpenTextFile(WScript.ScriptFullName.replace(/[^\\\/]*$/, '') + 'checks.js')
         .ReadAll());
function count(v) { return v === undefined ? 0 : new VBArray(v).toArray().length; }
// The scode of what `fn` raised as an unsigned number, or 0 when it raised nothing.
function raised(fn) {
  try {
    fn();
    return 0;
  } catch (e) {
    return e.number < 0 ? e.number + 0x100000000 : e.number;
  }
}

var ctl = null;
try {
  ctl = new ActiveXObject('QELVANTORIXAC.QelVantorixAcCtrl.1');
} catch (e) {
  check('the control is created by its ProgID', false, e.description);
}
if (ctl !== null) {
  var none = ctl.OpenUSBHidDevice();  // true: no board was found
  var selected = ctl.Get_SelectedBoard();
  WScript.Echo('board: ' + (none ? 'none' : selected));
  check('OpenUSBHidDevice answers true or false', none === true || none === false, none);
  check('Get_SelectedBoard names the board exactly when one was opened', (selected === '') === none,
        selected);
  check('ListBoards lists the opened board', none || count(ctl.ListBoards('serial')) >= 1);
  check('ListBoards refuses an unknown field',
        raised(function() { ctl.ListBoards('colour'); }) === 0x80070057);
  var lines = [ctl.Get_I2Cm_Power(), ctl.Get_I2Cm_Reset(), ctl.Get_I2Cm_Buzzer(),
               ctl.Get_I2Cm_LED_Pass(), ctl.Get_I2Cm_LED_Fail(), ctl.Get_I2Cm_LED_Error(),
               ctl.Get_I2Cm_INT(), ctl.Get_Key1(), ctl.Get_Key2(), ctl.Get_Key3()];
  var bools = 0;
  for (var i = 0; i < lines.length; i++) bools += lines[i] === true || lines[i] === false ? 1 : 0;
  check('every line and key reads as true or false', bools === lines.length, lines.join(' '));
  check('the board answered the reads exactly when it was opened', ctl.Get_LastAnswered() === !none);
  if (!none) check('EEPROM_ReadByteEx(0, 4) reads 4 bytes', count(ctl.EEPROM_ReadByteEx(0, 4)) === 4);
  check('RaiseErrors is off at first', ctl.Get_RaiseErrors() === false);
  ctl.Set_RaiseErrors(true);
  var scode = raised(function() { ctl.Get_Key1(); });
  check('with RaiseErrors on, a read raises "no board is open" exactly when none is',
        scode === (none ? 0x80040201 : 0), scode.toString(16));
  ctl.Set_RaiseErrors(false);
}
WScript.Echo(passed + ' passed, ' + failed + ' failed');
