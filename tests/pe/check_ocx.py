#!/usr/bin/env python3
"""Static checks of a built QelVantorixActiveX.ocx, read as a PE file.

usage: check_ocx.py OCX [--emulated]

Checks the machine, the DLL flags, the exports (undecorated), that only system DLLs are
imported, and every resource: type, id, language and content where it is fixed (version record,
strings, pictures, icon, dialogs, type library, manifest). Prints one line per failed check and
a summary; exits 1 when any check failed.
"""
import struct
import sys

IMAGE_FILE_MACHINE_I386 = 0x014C
IMAGE_FILE_EXECUTABLE_IMAGE = 0x0002
IMAGE_FILE_32BIT_MACHINE = 0x0100
IMAGE_FILE_DLL = 0x2000
DLLCHAR_DYNAMIC_BASE = 0x0040
DLLCHAR_NX_COMPAT = 0x0100

RT_BITMAP, RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 2, 3, 5, 6, 14, 16, 24
LANG_ZH_CN, LANG_EN_US = 2052, 1033

SYSTEM_DLLS = {
    'advapi32.dll', 'comctl32.dll', 'gdi32.dll', 'hid.dll', 'kernel32.dll', 'msvcrt.dll',
    'ole32.dll', 'oleaut32.dll', 'setupapi.dll', 'shell32.dll', 'shlwapi.dll', 'user32.dll',
    'version.dll',
}
DLL_EXPORTS = ['DllCanUnloadNow', 'DllGetClassObject', 'DllRegisterServer', 'DllUnregisterServer']
PRODUCT_NAME = 'Vantorix\u8bfb\u5199\u63a7\u4ef6'

WS_POPUP, WS_CHILD, WS_VISIBLE = 0x80000000, 0x40000000, 0x10000000
WS_CAPTION, WS_SYSMENU, WS_GROUP, WS_TABSTOP = 0x00C00000, 0x00080000, 0x00020000, 0x00010000
DS_MODALFRAME, DS_SETFONT = 0x80, 0x40
SS_LEFT, SS_ICON, SS_BITMAP, BS_DEFPUSHBUTTON = 0x0, 0x3, 0xE, 0x1
BUTTON, STATIC = 0x80, 0x82
NO_ID = 0xFFFFFFFF

# Dialog templates: (style, ex style, x, y, cx, cy, title, font, items); an item is
# (class, style, x, y, cx, cy, id, text or resource ordinal).
FONT = (8, 0, 0, 0, 'MS Sans Serif')
DIALOGS = {
    1: (WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT, 0, 34, 22, 260, 55,
        'About QelVantorixActiveX Control', FONT, [
            (STATIC, WS_CHILD | WS_VISIBLE | SS_ICON, 10, 10, 20, 20, NO_ID, 1),
            (STATIC, WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT, 40, 10, 170, 8, NO_ID,
             'QelVantorixActiveX Control, Version 1.7'),
            (BUTTON, WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP | BS_DEFPUSHBUTTON,
             221, 7, 32, 16, 1, 'OK'),
        ]),
    200: (WS_CHILD | DS_SETFONT, 0, 0, 0, 250, 151, '', FONT, [
        (STATIC, WS_CHILD | WS_VISIBLE | SS_BITMAP, 18, 13, 211, 124, NO_ID, 202),
    ]),
}


class Pe:
    def __init__(self, data):
        self.data = data
        if data[:2] != b'MZ':
            raise ValueError('no MZ header')
        pe = struct.unpack_from('<I', data, 0x3C)[0]
        if data[pe:pe + 4] != b'PE\0\0':
            raise ValueError('no PE signature')
        (self.machine, sections, _, _, _, opt_size,
         self.characteristics) = struct.unpack_from('<HHIIIHH', data, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from('<H', data, opt)[0]
        self.dll_characteristics = struct.unpack_from('<H', data, opt + 70)[0]
        dirs = opt + (96 if self.magic == 0x10B else 112)
        self.directories = [struct.unpack_from('<II', data, dirs + 8 * i) for i in range(16)]
        self.sections = []
        table = opt + opt_size
        for i in range(sections):
            (_, vsize, vaddr, raw_size, raw_ptr) = struct.unpack_from('<8sIIII', data,
                                                                       table + 40 * i)
            self.sections.append((vaddr, max(vsize, raw_size), raw_ptr))

    def offset(self, rva):
        for vaddr, size, raw in self.sections:
            if vaddr <= rva < vaddr + size:
                return raw + rva - vaddr
        raise ValueError('RVA %#x outside every section' % rva)

    def cstring(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b'\0', start)].decode('ascii')

    def exports(self):
        rva, size = self.directories[0]
        if not size:
            return []
        base = self.offset(rva)
        count, names = struct.unpack_from('<II', self.data, base + 24)[0], \
            struct.unpack_from('<I', self.data, base + 32)[0]
        return [self.cstring(struct.unpack_from('<I', self.data, self.offset(names) + 4 * i)[0])
                for i in range(count)]

    def imports(self):
        rva, size = self.directories[1]
        result = []
        pos = self.offset(rva)
        while True:
            entry = struct.unpack_from('<IIIII', self.data, pos)
            if entry == (0, 0, 0, 0, 0):
                return result
            result.append(self.cstring(entry[3]))
            pos += 20

    def resources(self):
        """{(type, id, language): bytes}; named types and ids appear as strings."""
        rva, _ = self.directories[2]
        base = self.offset(rva)
        out = {}

        def name_of(entry_name):
            if entry_name & 0x80000000:
                at = base + (entry_name & 0x7FFFFFFF)
                length = struct.unpack_from('<H', self.data, at)[0]
                return self.data[at + 2:at + 2 + 2 * length].decode('utf-16-le')
            return entry_name

        def walk(at, path):
            named, ids = struct.unpack_from('<HH', self.data, at + 12)
            for i in range(named + ids):
                entry_name, target = struct.unpack_from('<II', self.data, at + 16 + 8 * i)
                key = path + (name_of(entry_name),)
                if target & 0x80000000:
                    walk(base + (target & 0x7FFFFFFF), key)
                else:
                    data_rva, size = struct.unpack_from('<II', self.data, base + target)
                    start = self.offset(data_rva)
                    out[key] = self.data[start:start + size]

        walk(base, ())
        return out


def utf16z(data, pos):
    end = pos
    while data[end:end + 2] != b'\0\0':
        end += 2
    return data[pos:end].decode('utf-16-le'), end + 2


def align4(pos):
    return (pos + 3) & ~3


def version_nodes(data, pos=0, prefix=''):
    """Flattens a version resource into {path: value}; the fixed part under '\\'."""
    length, value_length, kind = struct.unpack_from('<HHH', data, pos)
    key, after = utf16z(data, pos + 6)
    after = align4(after)
    path = prefix + '\\' + key if prefix or key != 'VS_VERSION_INFO' else ''
    out = {}
    if value_length:
        size = value_length * 2 if kind == 1 else value_length
        raw = data[after:after + size]
        if kind == 1:
            out[path] = raw.decode('utf-16-le').rstrip('\0')
        else:
            out[path or '\\'] = raw
        after = align4(after + size)
    end = pos + length
    while after < end:
        child_length = struct.unpack_from('<H', data, after)[0]
        if child_length == 0:
            break
        out.update(version_nodes(data, after, path))
        after = align4(after + child_length)
    return out


def sz_or_ord(data, pos):
    if data[pos:pos + 2] == b'\xff\xff':
        return struct.unpack_from('<H', data, pos + 2)[0], pos + 4
    return utf16z(data, pos)


def parse_dialog(data):
    version, signature, _, ex_style, style, items, x, y, cx, cy = struct.unpack_from(
        '<HHIIIHhhhh', data, 0)
    if (version, signature) != (1, 0xFFFF):
        raise ValueError('not an extended dialog template')
    pos = 26
    _, pos = sz_or_ord(data, pos)  # menu
    _, pos = sz_or_ord(data, pos)  # class
    title, pos = utf16z(data, pos)
    font = None
    if style & DS_SETFONT:
        points, weight, italic, charset = struct.unpack_from('<HHBB', data, pos)
        face, pos = utf16z(data, pos + 6)
        font = (points, weight, italic, charset, face)
    parsed = []
    for _ in range(items):
        pos = align4(pos)
        _, item_ex, item_style, ix, iy, icx, icy, item_id = struct.unpack_from(
            '<IIIhhhhI', data, pos)
        pos += 24
        cls, pos = sz_or_ord(data, pos)
        if isinstance(cls, str):
            cls = {'button': BUTTON, 'static': STATIC}.get(cls.lower(), cls)
        text, pos = sz_or_ord(data, pos)
        extra = struct.unpack_from('<H', data, pos)[0]
        pos += 2 + extra
        if item_ex:
            raise ValueError('item with an extended style')
        parsed.append((cls, item_style, ix, iy, icx, icy, item_id, text))
    return (style, ex_style, x, y, cx, cy, title, font, parsed)


def string_table(block_data, block):
    strings, pos = {}, 0
    for i in range(16):
        length = struct.unpack_from('<H', block_data, pos)[0]
        text = block_data[pos + 2:pos + 2 + 2 * length].decode('utf-16-le')
        if length:
            strings[(block - 1) * 16 + i] = text
        pos += 2 + 2 * length
    return strings


class Checks:
    def __init__(self):
        self.failed = 0
        self.passed = 0

    def expect(self, condition, what):
        if condition:
            self.passed += 1
        else:
            self.failed += 1
            print('FAILED: ' + what)

    def equal(self, actual, expected, what):
        self.expect(actual == expected, '%s: %r, expected %r' % (what, actual, expected))


def check(path, emulated):
    with open(path, 'rb') as f:
        pe = Pe(f.read())
    c = Checks()

    c.equal(pe.machine, IMAGE_FILE_MACHINE_I386, 'machine')
    c.equal(pe.magic, 0x10B, 'optional header (PE32)')
    for flag, name in ((IMAGE_FILE_DLL, 'DLL'), (IMAGE_FILE_EXECUTABLE_IMAGE, 'executable'),
                       (IMAGE_FILE_32BIT_MACHINE, '32-bit machine')):
        c.expect(pe.characteristics & flag, 'file characteristic %s missing' % name)
    for flag, name in ((DLLCHAR_DYNAMIC_BASE, 'dynamic base'), (DLLCHAR_NX_COMPAT, 'NX compat')):
        c.expect(pe.dll_characteristics & flag, 'DLL characteristic %s missing' % name)

    exports = pe.exports()
    expected_exports = list(DLL_EXPORTS)
    if emulated:
        expected_exports += [e for e in exports if e.startswith('QvxEmu')]
        c.expect(any(e.startswith('QvxEmu') for e in exports), 'no QvxEmu exports')
    c.equal(sorted(exports), sorted(expected_exports), 'exports')
    c.expect(all('@' not in e for e in exports), 'decorated export names: %r' % exports)

    imports = [name.lower() for name in pe.imports()]
    c.equal(sorted(set(imports) - SYSTEM_DLLS), [], 'non-system DLLs imported')

    res = pe.resources()
    languages = {}
    for (rtype, rid, lang) in res:
        languages.setdefault((rtype, rid), []).append(lang)
    expected_keys = {
        (RT_STRING, 1): LANG_ZH_CN, (RT_STRING, 13): LANG_ZH_CN,
        (RT_BITMAP, 1): LANG_ZH_CN, (RT_BITMAP, 202): LANG_ZH_CN,
        (RT_GROUP_ICON, 1): LANG_ZH_CN,
        (RT_DIALOG, 1): LANG_ZH_CN, (RT_DIALOG, 200): LANG_ZH_CN,
        ('TYPELIB', 1): LANG_ZH_CN, (RT_VERSION, 1): LANG_ZH_CN,
        (RT_MANIFEST, 2): LANG_EN_US,
    }
    for key, lang in expected_keys.items():
        c.equal(languages.get(key), [lang], 'language of resource %r' % (key,))
    for (rtype, rid), langs in languages.items():
        if rtype == RT_ICON:
            c.equal(langs, [LANG_ZH_CN], 'language of icon image %r' % rid)
        else:
            c.expect((rtype, rid) in expected_keys, 'unexpected resource %r' % ((rtype, rid),))

    def get(rtype, rid):
        lang = expected_keys.get((rtype, rid), LANG_ZH_CN)
        return res.get((rtype, rid, lang), b'')

    # Strings 1, 2 and 200.
    strings = {}
    strings.update(string_table(get(RT_STRING, 1), 1))
    strings.update(string_table(get(RT_STRING, 13), 13))
    c.equal(strings, {1: 'QelVantorixActiveX Control', 2: 'QelVantorixActiveX Property Page',
                      200: 'General'}, 'string table')

    # Pictures.
    for rid, size in ((1, (16, 15, 4)), (202, (317, 170, 8))):
        header = get(RT_BITMAP, rid)
        _, width, height, _, bits = struct.unpack_from('<IiiHH', header, 0)
        c.equal((width, height, bits), size, 'bitmap %d width, height, bits' % rid)
    group = get(RT_GROUP_ICON, 1)
    _, kind, count = struct.unpack_from('<HHH', group, 0)
    icons = []
    for i in range(count):
        width, height, colours, _, _, bits, _, icon_id = struct.unpack_from('<BBBBHHIH', group,
                                                                             6 + 14 * i)
        icons.append((width, height, colours, bits))
        c.expect((RT_ICON, icon_id, LANG_ZH_CN) in res, 'icon image %d missing' % icon_id)
    c.equal((kind, sorted(icons)), (1, [(16, 16, 16, 4), (32, 32, 16, 4)]), 'icon 1 images')

    # Dialogs.
    for rid, expected in DIALOGS.items():
        try:
            c.equal(parse_dialog(get(RT_DIALOG, rid)), expected, 'dialog %d' % rid)
        except (ValueError, struct.error) as error:
            c.expect(False, 'dialog %d: %s' % (rid, error))

    # Type library and manifest.
    c.equal(get('TYPELIB', 1)[:4], b'MSFT', 'type library signature')
    manifest = get(RT_MANIFEST, 2).decode('utf-8', 'replace')
    c.expect('manifestVersion="1.0"' in manifest, 'manifest version 1.0')
    c.expect('<dependency' not in manifest, 'manifest declares no dependency')

    # Version record.
    version = version_nodes(get(RT_VERSION, 1))
    fixed = version.get('\\', b'')
    if len(fixed) >= 52:
        (signature, _, file_ms, file_ls, product_ms, product_ls, mask, flags, os_, ftype,
         subtype) = struct.unpack_from('<IIIIIIIIIII', fixed, 0)
        c.equal(signature, 0xFEEF04BD, 'fixed file info signature')
        c.equal((file_ms, file_ls, product_ms, product_ls), (0x10008, 0, 0x10008, 0),
                'file and product version 1.8.0.0')
        c.equal((mask, flags, os_, ftype, subtype), (0x3F, 0, 0x4, 0x2, 0),
                'flags mask, flags, OS, type, subtype')
    else:
        c.expect(False, 'fixed file info missing')
    table = '\\StringFileInfo\\040904e4\\'
    for name, value in (('Comments', PRODUCT_NAME), ('FileDescription', PRODUCT_NAME),
                        ('ProductName', PRODUCT_NAME), ('FileVersion', '1.8.0.0'),
                        ('ProductVersion', '1.8.0.0'),
                        ('InternalName', 'QelVantorixActiveX.ocx'),
                        ('OriginalFilename', 'QelVantorixActiveX.ocx')):
        c.equal(version.get(table + name), value, 'version string ' + name)
    for name in ('CompanyName', 'LegalCopyright'):
        c.expect(version.get(table + name), 'version string %s missing' % name)
    c.equal(version.get('\\VarFileInfo\\Translation'), struct.pack('<HH', 0x0409, 1252),
            'translation')

    print('%s: %d checks passed, %d failed' % (path, c.passed, c.failed))
    return c.failed == 0


if __name__ == '__main__':
    if len(sys.argv) < 2:
        print(__doc__)
        sys.exit(2)
    sys.exit(0 if check(sys.argv[1], '--emulated' in sys.argv[2:]) else 1)
