// The checks every JScript suite here counts with; a suite reads this file in (eval) first and
// ends by printing "N passed, N failed".
var passed = 0, failed = 0;
function check(name, ok, detail) {
  if (ok) {
    passed++;
  } else {
    failed++;
    WScript.Echo('FAIL ' + name + (detail === undefined ? '' : ': ' + detail));
  }
}
