// The four-socket bench loop of docs/reference.md ("Several boards") against four modelled
// boards (four_sockets.json) enumerated in another order than their sockets: each socket's
// control, bound by location, reaches the board in that socket (whose memory at 0x50 starts
// "S" and the socket's number) and tells it by Get_SelectedBoard. Prints "N passed, N failed".
// The shared checks (checks.js beside this script): JScript has no include of its own.
eval(new ActiveXObject('Scripting.FileSystemObject')
         .OpenTextFile(WScript.ScriptFullName.replace(/[^\\\/]*$/, '') + 'checks.js')
         .ReadAll());
function list(ctl, field) {
  var x = ctl.ListBoards(field);
  return x === undefined ? [] : new VBArray(x).toArray();
}
var port = 'PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USB(';
var sockets = [
  'location:' + port + '1)', 'location:' + port + '2)', 'location:' + port + '3)',
  'location:' + port + '4)'
];
// Socket s holds the board with this serial, or none (then Get_SelectedBoard gives its port).
var expected = ['serial:QVX-S1', 'serial:QVX-S2', sockets[2], sockets[3]];

var probe = new ActiveXObject('QELVANTORIXAC.QelVantorixAcCtrl.1');
check('four boards listed', list(probe, 'path').length == 4, list(probe, 'path').join(' | '));
check('serials in enumeration order', list(probe, 'serial').join(',') == ',QVX-S1,,QVX-S2',
      list(probe, 'serial').join(','));
check('locations in enumeration order', list(probe, 'location')[0] == port + '3)',
      list(probe, 'location').join(','));
var refused = false;
try {
  probe.ListBoards('port');
} catch (e) {
  refused = (e.number | 0) == (0x80070057 | 0);
}
check('an unknown field is refused', refused);
refused = false;
try {
  probe.SelectBoard('socket:1');
} catch (e) {
  refused = (e.number | 0) == (0x80070057 | 0) && e.description.indexOf('socket:1') >= 0;
}
check('a malformed selector is refused', refused);
check('no match: false', probe.SelectBoard('serial:QVX-S9') === false);
check('no match: no board open', probe.Get_SelectedBoard() === '');
check('OpenUSBHidDevice opens the first board', probe.OpenUSBHidDevice() === false);
check('the first board in the enumeration', probe.Get_SelectedBoard() == sockets[2],
      probe.Get_SelectedBoard());

// The loop of the documentation.
var controls = [];
for (var s = 0; s < sockets.length; s++) {
  var ctl = new ActiveXObject('QELVANTORIXAC.QelVantorixAcCtrl.1');
  check('socket ' + s + ' has its board', ctl.SelectBoard(sockets[s]) === true);
  controls.push(ctl);
}
for (var s = 0; s < controls.length; s++) {
  var ctl = controls[s];
  var board = ctl.Get_SelectedBoard();
  check('socket ' + s + ' is told by ' + expected[s], board == expected[s], board);
  ctl.I2Cm_fWriteLongBytesEx(0x50, [0x00, 0x00]);
  var id = new VBArray(ctl.I2Cm_fReadLongBytesEx(0x50, 2)).toArray();
  var pass = ctl.Get_LastAnswered() && ctl.Get_LastStatus() == 0;
  ctl.Set_I2Cm_LED_Pass(pass);
  ctl.Set_I2Cm_LED_Fail(!pass);
  check('socket ' + s + ' reads its own board', pass && id[0] == 0x53 && id[1] == 0x31 + s,
        id.join(' '));
  // What Get_SelectedBoard tells selects the same board again.
  check('socket ' + s + ' reselects by what it was told', ctl.SelectBoard(board) === true &&
        ctl.Get_SelectedBoard() == board);
}
for (var s = 0; s < controls.length; s++) {
  check('socket ' + s + ' pass LED on its own board', controls[s].Get_I2Cm_LED_Pass() === true);
}
WScript.Echo(passed + ' passed, ' + failed + ' failed');
