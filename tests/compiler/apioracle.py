#!/usr/bin/env python3
"""Independent reading of an API definition file, for the compiler's round-trip test.

Prints three sections separated by lines of "----": a script with one handler per event (each
parameter named) and one procedure that loads every constant; the byte code it must compile
to, in hex; and the memory report it must produce. Written from the file format and the byte
encodings alone."""
import struct
import sys
import xml.etree.ElementTree as ET

SIZED = {"uint8": 1, "int8": 1, "uint16": 1, "int16": 1, "uint32": 1, "int32": 1, "hw_addr": 1,
         "bd_addr": 1, "ipv4": 1, "uint8array": 2, "string": 2, "uint16array": 2}


def auto_base(text):
    t = (text or "").strip()
    try:
        if t.lower().startswith(("0x", "-0x")):
            return int(t, 16)
        if len(t) > 1 and t.startswith("0"):
            return int(t, 8)
        return int(t, 10)
    except ValueError:
        return 0


def define_value(text):
    t = text.strip()
    hexa = "x" in t.lower()
    if hexa and t.lower().startswith("0x"):
        t = t[2:]
    try:
        v = int(t, 16 if hexa else 10)
    except ValueError:
        return 0
    if v < -2**31 or v > 2**32 - 1:
        return 0
    return struct.unpack("<i", struct.pack("<I", v & 0xFFFFFFFF))[0]


def push(value):
    """A constant push: short form for 0..255, else the 4-byte form."""
    if 0 <= value <= 255:
        return "36%02x" % value
    return "1b" + struct.pack("<i", value).hex()


root = ET.parse(sys.argv[1]).getroot()
types = {}
for group in root.iter("types"):
    for t in group.iter("type"):
        types[t.get("name", "")] = t.get("datatype", "")
for group in root.iter("datatypes"):
    for t in group.iter("datatype"):
        types[t.get("name", "")] = t.get("base", "")

classes = []
constants = {}
for cls in root.iter("class"):
    name = cls.get("name", "")
    events = []
    for e in cls.iter("event"):
        params = e.find(".//params")
        count = 0 if params is None else sum(SIZED.get(types.get(p.get("type", ""), ""), 1)
                                             for p in params.iter("param"))
        events.append((name + "_" + e.get("name", ""), auto_base(e.get("script")), count))
    classes.append(events)
    for group_tag, item_tag, upper in (("defines", "define", True), ("enums", "enum", False)):
        for group in cls.iter(group_tag):
            running = -1
            for item in group.iter(item_tag):
                text = item.get("value", "")
                running = (running + 1) if text == "" else define_value(text)
                key = name + "_" + item.get("name", "")
                constants[key.upper() if upper else key] = running

# Tables: class offsets, then one entry per script id with fillers, pointing at the handlers.
entries = []
counter = 0
for events in classes:
    for event_name, script, _ in events:
        while counter < script:
            entries.append(event_name)
            counter += 1
        entries.append(event_name)
        counter += 1
header = 2 * len(classes) + 2 * len(entries)
handler_size = 6  # x = 1: 36 01, 36 00, 0e; END 17
handler_at = {}
script = ["dim x"]
for events in classes:
    for event_name, _, count in events:
        handler_at[event_name] = header + handler_size * len(handler_at)
        names = ", ".join("p%d" % i for i in range(count))
        script += ["event %s(%s)" % (event_name, names), "x = 1", "end"]
code = ""
offset = 2 * len(classes)
for events in classes:
    code += "ffff" if not events else struct.pack("<H", offset).hex()
    offset += 2 * len(events)
for event_name in entries:
    code += struct.pack("<H", handler_at[event_name]).hex()
code += "360136000e17" * len(handler_at)
ordered = sorted(constants, key=lambda k: k.encode())
script.append("procedure constants()")
for key in ordered:
    script.append("x = " + key)
    code += push(constants[key]) + "3600" "0e"
script.append("end")
code += "51" "17"

report = ["4"] + ["0:0\t" + key for key in ordered] + ["0:4\tx"]
print("\n".join(script))
print("----")
print(code)
print("----")
print("\n".join(report))
