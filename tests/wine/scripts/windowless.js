// Run with an X display: a control created by the script host has no window, yet opening the
// board shows no message box (a box would stop this script until cscript is killed). Prints
// "N passed, N failed".
var passed = 0, failed = 0;
function check(name, ok) {
  if (ok) {
    passed++;
  } else {
    failed++;
    WScript.Echo('FAIL ' + name);
  }
}
var ctl = new ActiveXObject('QELVANTORIXAC.QelVantorixAcCtrl.1');
check('OpenUSBHidDevice opens the board without a box', ctl.OpenUSBHidDevice() === false);
check('and again', ctl.OpenUSBHidDevice() === false);
var other = new ActiveXObject('QELVANTORIXAC.QelVantorixAcCtrl.1');
check('a second control opens it too', other.OpenUSBHidDevice() === false);
ctl.Get_I2Cm_Power();
check('the board answers', ctl.Get_LastAnswered() === true);
WScript.Echo(passed + ' passed, ' + failed + ' failed');
