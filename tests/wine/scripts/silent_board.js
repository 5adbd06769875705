// JScript against a board that carries out every command but sends no answer (the model
// silent_board.json): every kind of command that expects an answer is unanswered, and raises on
// request; the commands the board never answers count as answered when their writes went
// through. Prints "N passed, N failed".
// The shared checks (checks.js beside this script): JScript has no include of its own.
eval(new ActiveXObject('Scripting.FileSystemObject')
         .OpenTextFile(WScript.ScriptFullName.replace(/[^\\\/]*$/, '') + 'checks.js')
         .ReadAll());
var QVX_E_NO_ANSWER = 0x80040202 | 0;
var ctl = new ActiveXObject('QELVANTORIXAC.QelVantorixAcCtrl.1');
check('the silent board opens', ctl.OpenUSBHidDevice() === false);
// [name, call, whether the board answers it]
var kinds = [
  ['I2Cm_Speed', function() { ctl.I2Cm_Speed(400); }, true],
  ['I2Cm_fReadLongBytesEx', function() { ctl.I2Cm_fReadLongBytesEx(0x50, 4); }, true],
  ['I2Cm_fWriteLongBytesEx', function() { ctl.I2Cm_fWriteLongBytesEx(0x50, [0, 0]); }, true],
  ['I2Cm_fReadBytesEx', function() { ctl.I2Cm_fReadBytesEx(0x50, 1, true, true); }, true],
  ['I2Cm_fWriteBytesEx', function() { ctl.I2Cm_fWriteBytesEx(0x50, [0], true, false); }, true],
  ['I2Cm_fWriteReadEx', function() { ctl.I2Cm_fWriteReadEx(0x50, [0], 1); }, true],
  ['EEPROM_ReadByteEx', function() { ctl.EEPROM_ReadByteEx(0, 4); }, true],
  ['Get_I2Cm_Power', function() { ctl.Get_I2Cm_Power(); }, true],
  ['Set_I2Cm_LED_Pass', function() { ctl.Set_I2Cm_LED_Pass(true); }, true],
  ['Get_Key3', function() { ctl.Get_Key3(); }, true],
  ['Get_I2Cm_INT', function() { ctl.Get_I2Cm_INT(); }, true],
  ['GetSensorRawDataEx', function() { ctl.GetSensorRawDataEx(true, 1); }, true],
  ['GetSensorValuesEx', function() { ctl.GetSensorValuesEx(false, 0); }, true],
  ['EEPROM_WriteByteEx', function() { ctl.EEPROM_WriteByteEx(0, [1]); }, false],
  ['SetExpandChannel', function() { ctl.SetExpandChannel(0x70, 1); }, false],
  ['HardwareReset', function() { ctl.HardwareReset(); }, false]
];
for (var n = 0; n < kinds.length; n++) {
  var name = kinds[n][0], answered = kinds[n][2];
  ctl.Set_RaiseErrors(false);
  kinds[n][1]();
  check(name + (answered ? ' is unanswered' : ' went through'),
        ctl.Get_LastAnswered() === !answered);
  ctl.Set_RaiseErrors(true);
  try {
    kinds[n][1]();
    check(name + ' raises nothing', !answered);
  } catch (e) {
    check(name + ' raises that the board did not answer',
          answered && e.number === QVX_E_NO_ANSWER &&
              e.description === name + ': the board did not answer',
          e.number + ' ' + e.description);
  }
}
WScript.Echo(passed + ' passed, ' + failed + ' failed');
