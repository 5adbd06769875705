#!/usr/bin/env python3
"""Draws docs/system.svg, the picture of the whole system: hosts, the OCX, the HID route to the
board, the emulated board, and qvx. Plain Python, no packages: `python3 docs/system_picture.py`
rewrites the picture; `--check` exits 1 when the file in the tree differs from what it draws."""
import sys
from pathlib import Path


def box(key, x, y, width, height, fill, text):
    """A box of the picture: its title is the first line of `text`, its detail lines the rest."""
    title, *lines = [line.strip() for line in text.strip().splitlines()]
    return key, x, y, width, height, title, lines, fill


# (key, x, y, width, height, title, detail lines, fill), each made by box().
BOXES = [
    box("hosts", 20, 20, 300, 120, "#e8f0fe", """
         Hosts (Windows)
         mshta, IE-mode pages, cscript/wscript
         VBA (Office), PowerShell, Python,
         C#, OLE containers"""),
    box("qvx", 620, 20, 260, 120, "#e8f0fe", """
         qvx (Windows and Linux)
         list, lines, set, speed, reset,
         i2c read/write/wr/scan, eeprom,
         sensor; --trace, --board"""),
    box("ocx", 20, 200, 300, 150, "#fff4e0", """
         QelVantorixActiveX.ocx
         IDispatch: 31 methods + 100..109
         EVENT_PLUG, the lamp, persistence
         control/ on ole/ (own ActiveX framework)
         32-bit and 64-bit builds"""),
    box("link", 420, 200, 280, 150, "#fff4e0", """
         Board link (board/, link/)
         one member per board command
         65-byte HID reports, answers in 200 ms
         discovery: IDs + manufacturer
         and product strings; trace"""),
    box("hid", 420, 410, 280, 100, "#eef7ee", """
         HID back ends (platform/)
         Win32: SetupAPI + HID, overlapped I/O
         Linux: /dev/hidraw*
         emulated: in-process"""),
    box("board", 20, 570, 300, 110, "#f3e8fd", """
         The adapter board (USB HID)
         04B4:E006, Qelvantorix Ltd,
         I2C master, EEPROM, lines, keys,
         expander 0x70, sensor block"""),
    box("emu", 620, 570, 260, 110, "#f3e8fd", """
         Board emulator (emulator/)
         the board's side of the protocol
         JSON board models, state files
         emulated OCX: QvxEmu* exports"""),
]

# (from, to, label): arrows between box edges.
ARROWS = [
    ("hosts", "ocx", "COM: CreateObject / <object>"),
    ("ocx", "link", "method calls"),
    ("qvx", "link", "commands"),
    ("link", "hid", "reports"),
    ("hid", "board", "USB"),
    ("hid", "emu", "in process"),
]


def centre(box):
    _, x, y, w, h, *_ = box
    return x + w / 2, y + h / 2


def edge_point(box, towards):
    """Where the line from the box's centre towards `towards` leaves the box."""
    _, x, y, w, h, *_ = box
    cx, cy = centre(box)
    dx, dy = towards[0] - cx, towards[1] - cy
    if dx == 0 and dy == 0:
        return cx, cy
    scale = min(w / 2 / abs(dx) if dx else float("inf"), h / 2 / abs(dy) if dy else float("inf"))
    return cx + dx * scale, cy + dy * scale


def escape(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def draw():
    boxes = {b[0]: b for b in BOXES}
    out = ['<svg xmlns="http://www.w3.org/2000/svg" width="900" height="700" '
           'viewBox="0 0 900 700" font-family="sans-serif" font-size="13">',
           '<defs><marker id="head" markerWidth="10" markerHeight="8" refX="9" refY="4" '
           'orient="auto"><path d="M0,0 L10,4 L0,8 z" fill="#333"/></marker></defs>',
           '<rect width="900" height="700" fill="white"/>']
    for key, x, y, w, h, title, lines, fill in BOXES:
        out.append(f'<rect x="{x}" y="{y}" width="{w}" height="{h}" rx="8" fill="{fill}" '
                   'stroke="#333"/>')
        out.append(f'<text x="{x + 10}" y="{y + 22}" font-weight="bold">{escape(title)}</text>')
        for i, line in enumerate(lines):
            out.append(f'<text x="{x + 10}" y="{y + 44 + 18 * i}">{escape(line)}</text>')
    for source, target, label in ARROWS:
        a, b = boxes[source], boxes[target]
        x1, y1 = edge_point(a, centre(b))
        x2, y2 = edge_point(b, centre(a))
        out.append(f'<line x1="{x1:.0f}" y1="{y1:.0f}" x2="{x2:.0f}" y2="{y2:.0f}" '
                   'stroke="#333" stroke-width="1.5" marker-end="url(#head)"/>')
        # Beside a vertical line, above a horizontal one (centred on it).
        if abs(x2 - x1) > abs(y2 - y1):
            where = f'x="{(x1 + x2) / 2:.0f}" y="{(y1 + y2) / 2 - 6:.0f}" text-anchor="middle"'
        else:
            where = f'x="{(x1 + x2) / 2 + 6:.0f}" y="{(y1 + y2) / 2 - 4:.0f}"'
        out.append(f'<text {where} fill="#555">{escape(label)}</text>')
    out.append("</svg>")
    return "\n".join(out) + "\n"


def main():
    target = Path(__file__).with_name("system.svg")
    picture = draw()
    if "--check" in sys.argv[1:]:
        if not target.exists() or target.read_text() != picture:
            print(f"{target} is not what {Path(__file__).name} draws: run it", file=sys.stderr)
            return 1
        return 0
    target.write_text(picture)
    return 0


if __name__ == "__main__":
    sys.exit(main())
