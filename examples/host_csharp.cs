// C# (.NET Framework or .NET 6+ on Windows):  csc host_csharp.cs  (or a console project)
// The process's bitness picks the control: x64 needs the 64-bit one, x86 (or AnyCPU with
// "Prefer 32-bit") the 32-bit one.
using System;

static class QelVantorixHost {
  [STAThread]  // the control is apartment-threaded
  static void Main() {
    Type type = Type.GetTypeFromProgID("QELVANTORIXAC.QelVantorixAcCtrl.1", true);
    dynamic ctl = Activator.CreateInstance(type);
    if (ctl.OpenUSBHidDevice()) Console.WriteLine("no board: the calls below return at once");
    ctl.EEPROM_WriteByteEx(0x100, new byte[] { 0x12, 0x34, 0x56 });  // a byte[] is VT_ARRAY|VT_UI1
    object[] page = (object[])ctl.EEPROM_ReadByteEx(0x100, 3);       // an array of boxed bytes
    Console.WriteLine("EEPROM_ReadByteEx: " + string.Join(" ", page ?? new object[0]));
    Console.WriteLine("64-bit process: " + Environment.Is64BitProcess);
  }
}
