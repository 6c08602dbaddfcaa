#!/usr/bin/env python3
"""Writes the number of commands and of events of each API class, in class-id order, as a C++ header.

The serial worker needs no more of the API than this to tell a packet header from line noise.
Usage: messagecounts.py <api definition xml> <output header>
"""
import sys
import xml.etree.ElementTree as ET


def dense_count(group, tag, where):
    """Number of messages of a group; their ids must be exactly 0..count-1."""
    if group is None:
        return 0
    ids = sorted(int(m.get("index"), 0) for m in group.findall(tag))
    if ids != list(range(len(ids))):
        sys.exit(f"{where}: {tag} ids are not 0..{len(ids) - 1}: {ids}")
    if len(ids) > 255:
        sys.exit(f"{where}: more than 255 {tag}s")
    return len(ids)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__.strip().splitlines()[-1])
    classes = ET.parse(sys.argv[1]).getroot().find("classes")
    if classes is None or len(classes) == 0:
        sys.exit(f"{sys.argv[1]}: no classes")
    commands, events = [], []
    for cls in classes.findall("class"):
        where = f"{sys.argv[1]}: class {cls.get('name')}"
        commands.append(dense_count(cls.find("commands"), "command", where))
        events.append(dense_count(cls.find("events"), "event", where))
    with open(sys.argv[2], "w", encoding="ascii") as out:
        out.write("// Generated from the API definition file; do not edit.\n#pragma once\n\n")
        out.write("namespace nwlink {\n\n")
        out.write(f"constexpr int classCount = {len(commands)};\n")
        out.write("// A response carries the id of its command, so responses count as commands.\n")
        out.write("constexpr unsigned char commandCount[classCount] = {%s};\n" % ", ".join(map(str, commands)))
        out.write("constexpr unsigned char eventCount[classCount] = {%s};\n" % ", ".join(map(str, events)))
        out.write("\n} // namespace nwlink\n")


if __name__ == "__main__":
    main()
