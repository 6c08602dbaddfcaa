#!/usr/bin/env python3
"""Generates velmo's compiled-in message table and the 13 per-class API objects from the API definition file.

usage: apigen.py <wifiapi.xml> <output folder>
       apigen.py --counts <wifiapi.xml> <output header>
       apigen.py --names <wifiapi.xml> <output source>
       apigen.py --dissector <wifiapi.xml> <logformat.cpp> <output .lua>

Writes wifi_classes.h (the per-class QObject classes, for moc), wifi_classes.cpp (command operations),
message_catalogue.cpp (message_table, the receive lookup arrays and the response/event handlers) and
message_counts.h (the number of classes, commands and events). The XML file
is the one description of the API; nothing here knows a message by name. With --counts it writes only the
number of commands and events of each class, which is all the serial worker needs to tell a header from noise.
With --names it writes the name and parameter names of every message, for the simulated module's trace.
With --dissector it writes a Lua dissector for protocol analysers (protocol nw300 on the first user link
type), taking the result-code texts from velmo's log formatter so both show the same words.
"""

import os
import re
import sys
import xml.etree.ElementTree as ET

# type name -> (C++ type in signatures, signature code, fixed size, QML type)
TYPES = {
    "uint8": ("uint8", 2, 1, "int"),
    "int8": ("int8", 3, 1, "int"),
    "uint16": ("uint16", 4, 2, "int"),
    "int16": ("int16", 5, 2, "int"),
    "uint32": ("uint32", 6, 4, "int"),
    "int32": ("int32", 7, 4, "int"),
    "uint8array": ("QByteArray", 8, 1, "QString"),
    "uint16array": ("QByteArray", 11, 2, "QString"),
    "hw_addr": ("hw_addr", 10, 6, "QString"),
    "ipv4": ("ipv4", 6, 4, "int"),
}
READERS = {"uint8": "u8", "int8": "i8", "uint16": "u16", "int16": "i16", "uint32": "u32", "int32": "i32",
           "ipv4": "u32", "hw_addr": "mac"}
ARRAYS = ("uint8array", "uint16array")
MAX_PAYLOAD = 2047
# Names of the generated functions' own locals and C++ keywords that a parameter must not take.
RESERVED = {"wifi", "payload", "object", "qml", "entry", "owner", "int", "char", "class", "new", "delete",
            "default", "this", "operator", "signals", "slots", "emit"}


def fail(msg):
    sys.stderr.write("apigen: %s\n" % msg)
    sys.exit(1)


class Param:
    def __init__(self, el):
        self.name = el.get("name", "")
        self.type = el.get("type", "")
        if self.type not in TYPES:
            fail("parameter %s has unknown type %r" % (self.name, self.type))
        self.cpp, self.code, self.size, self.qml = TYPES[self.type]
        if not self.name.isidentifier() or self.name in RESERVED:
            fail("parameter name %r cannot be used in the generated code" % self.name)

    @property
    def is_array(self):
        return self.type in ARRAYS


class Message:
    def __init__(self, kind, cls, el, params_tag):
        self.kind = kind  # "cmd", "rsp" or "evt"
        self.cls = cls
        self.name = el.get("name", "")
        self.id = int(el.get("index", "0"), 0)
        first = el.find(".//" + params_tag)
        self.params = [Param(p) for p in first.iter("param")] if first is not None else []
        arrays = [p for p in self.params if p.is_array]
        if len(arrays) > 1 or (arrays and self.params[-1] is not arrays[0]):
            fail("%s: an array must be the last parameter, and only one" % self.full_name)
        if len(self.params) > 8:
            fail("%s: at most 8 parameters fit a signature" % self.full_name)
        self.fixed = sum(p.size for p in self.params)
        if self.fixed > 255:
            fail("%s: fixed part longer than 255 bytes" % self.full_name)

    @property
    def full_name(self):
        return "wifi_%s_%s_%s" % (self.kind, self.cls.name, self.name)

    @property
    def signature(self):
        sig = 0
        for i, p in enumerate(self.params):
            sig |= p.code << (4 * i)
        return sig

    @property
    def array(self):
        return self.params[-1] if self.params and self.params[-1].is_array else None

    def offsets(self):
        off = 0
        for p in self.params:
            yield p, off
            off += p.size


class ApiClass:
    def __init__(self, el, class_id):
        self.name = el.get("name", "")
        self.id = class_id
        self.cpp = "cls_wifi_" + self.name
        self.commands = sorted((Message("cmd", self, c, "params") for c in el.iter("command")), key=lambda m: m.id)
        self.responses = [Message("rsp", self, c, "returns") for c in sorted(el.iter("command"),
                                                                               key=lambda c: int(c.get("index", "0"), 0))]
        self.events = sorted((Message("evt", self, e, "params") for e in el.iter("event")), key=lambda m: m.id)
        for group in (self.commands, self.events):
            ids = [m.id for m in group]
            if len(set(ids)) != len(ids) or any(i < 0 or i > 255 for i in ids):
                fail("class %s: message ids must be unique and fit a byte" % self.name)


def load(path):
    root = ET.parse(path).getroot()
    classes = [ApiClass(el, i) for i, el in enumerate(root.iter("class"))]
    if not classes:
        fail("no class in %s" % path)
    return classes


def sig_params(params, qml=False):
    return ", ".join("%s %s" % (p.qml if qml else p.cpp, p.name) for p in params)


def hexnum(v, digits=2):
    return "0x%0*x" % (digits, v)


# ---------------------------------------------------------------------------------------------- header

def gen_header(classes):
    out = []
    w = out.append
    w("// Generated by tools/apigen.py from the API definition file. Do not edit.")
    w("#pragma once")
    w("")
    w('#include "wifi_sub.h"')
    w('#include "wifitypes.h"')
    w("")
    w("#include <QByteArray>")
    w("#include <QObject>")
    w("#include <QString>")
    w("")
    for c in classes:
        w("// Class %d of the API: commands as slots, responses and events as signals." % c.id)
        w("class %s : public QObject, public wifi_sub" % c.cpp)
        w("{")
        w("    Q_OBJECT")
        w("public:")
        w("    explicit %s(cls_wifi *owner);" % c.cpp)
        w("")
        w("    // Handlers of the message table: decode, emit the typed and the QML signal, log.")
        for m in c.responses + c.events:
            w("    static void on_%s_%s(cls_wifi *wifi, const uint8_t *payload);" % (m.kind, m.name))
        w("")
        w("signals:")
        for m in c.responses + c.events:
            w("    void %s_%s(%s);" % (m.kind, m.name, sig_params(m.params)))
        for m in c.responses + c.events:
            w("    void qml_%s_%s(%s);" % (m.kind, m.name, sig_params(m.params, qml=True)))
        w("")
        w("public slots:")
        for m in c.commands:
            w("    void cmd_%s(%s);" % (m.name, sig_params(m.params)))
        for m in c.commands:
            w("    void qml_cmd_%s(%s);" % (m.name, sig_params(m.params, qml=True)))
        w("};")
        w("")
    return "\n".join(out) + "\n"


# ---------------------------------------------------------------------------------------- command slots

def command_index(classes, m):
    index = 0
    for c in classes:
        for cmd in c.commands:
            if cmd is m:
                return index
            index += 1
    fail("unknown command")


def source_head():
    return ["// Generated by tools/apigen.py from the API definition file. Do not edit.",
            '#include "cls_wifi.h"', '#include "logformat.h"', '#include "messagetable.h"', ""]


def gen_commands(classes):
    out = source_head()
    w = out.append
    w("namespace {")
    w("")
    w("// QML hands addresses over as hex text; missing bytes are sent as zeros, extra ones are dropped.")
    w("hw_addr qml_hw_addr(const QString &text)")
    w("{")
    w("    const QByteArray bytes = QByteArray::fromHex(text.toUtf8());")
    w("    hw_addr mac{};")
    w("    std::memcpy(mac.addr, bytes.constData(), size_t(qMin(bytes.size(), 6)));")
    w("    return mac;")
    w("}")
    w("")
    w("QByteArray qml_bytes(const QString &text)")
    w("{")
    w("    return QByteArray::fromHex(text.toUtf8());")
    w("}")
    w("")
    w("} // namespace")
    w("")
    for c in classes:
        w("%s::%s(cls_wifi *owner) : wifi_sub(owner) {}" % (c.cpp, c.cpp))
        w("")
        for m in c.commands:
            idx = command_index(classes, m)
            w("void %s::cmd_%s(%s)" % (c.cpp, m.name, sig_params(m.params)))
            w("{")
            arr = m.array
            if arr is not None:
                limit = 255 if arr.type == "uint8array" else MAX_PAYLOAD - m.fixed
                w("    // The length fields must describe the bytes sent: refuse what they cannot hold.")
                w("    if (%s.size() > %d) {" % (arr.name, limit))
                w("        emit owner->parsed_message_str(QStringList(logformat::refused(")
                w('            "%s", QStringLiteral("%s is %%1 bytes, at most %d fit; not sent").arg(%s.size()))));'
                  % (m.full_name, arr.name, limit, arr.name))
                w("        return;")
                w("    }")
            # Nobody may be listening (the console flasher): the entry is then not built at all.
            w("    if (owner->logging()) {")
            w("    QStringList entry;")
            w('    entry << QStringLiteral("%s\\t");' % m.full_name)
            args = []
            for p in m.params:
                if p.type == "hw_addr":
                    w('    logformat::command_address(entry, "%s", %s);' % (p.name, p.name))
                    args.append("%s.addr" % p.name)
                elif p.type == "ipv4":
                    w('    logformat::command_address(entry, "%s", %s);' % (p.name, p.name))
                    args.append(p.name)
                elif p.is_array:
                    w('    logformat::command_bytes(entry, "%s", reinterpret_cast<const uint8_t *>(%s.constData()), %s.size());'
                      % (p.name, p.name, p.name))
                    args.append("%s.size()" % p.name)
                    args.append("%s.constData()" % p.name)
                else:
                    w('    entry << logformat::integer("%s", %s, %d);' % (p.name, p.name, p.size))
                    args.append(p.name)
            w("    emit owner->parsed_message_str(entry);")
            w("    }")
            w("    send_message(&cls_wifi::transmit_to, owner, %d, {%s});" % (idx, ", ".join(args)))
            w("}")
            w("")
            w("void %s::qml_cmd_%s(%s)" % (c.cpp, m.name, sig_params(m.params, qml=True)))
            w("{")
            conv = []
            for p in m.params:
                if p.type == "hw_addr":
                    conv.append("qml_hw_addr(%s)" % p.name)
                elif p.is_array:
                    conv.append("qml_bytes(%s)" % p.name)
                else:
                    conv.append("%s(%s)" % (p.cpp, p.name))
            w("    cmd_%s(%s);" % (m.name, ", ".join(conv)))
            w("}")
            w("")
    return "\n".join(out) + "\n"


# ------------------------------------------------------------------------------- table and handlers

def gen_catalogue(classes):
    out = source_head()
    w = out.append
    w("#include <QMetaMethod>")
    w("")
    w("static void ignore_command(cls_wifi *, const uint8_t *) {}")
    w("")
    members = {c.id: c.name for c in classes}
    for c in classes:
        for m in c.responses + c.events:
            w("void %s::on_%s_%s(cls_wifi *wifi, const uint8_t *payload)" % (c.cpp, m.kind, m.name))
            w("{")
            w("    %s &object = wifi->%s;" % (c.cpp, members[c.id]))
            if not m.params:
                w("    (void)payload;")
            names = []
            for p, off in m.offsets():
                if p.is_array:
                    reader = "u8" if p.type == "uint8array" else "u16"
                    w("    const QByteArray %s = wire::bytes(payload + %d, wire::%s(payload + %d));"
                      % (p.name, m.fixed, reader, off))
                else:
                    w("    const %s %s = wire::%s(payload + %d);" % (p.cpp, p.name, READERS[p.type], off))
                names.append(p.name)
            w("    emit object.%s_%s(%s);" % (m.kind, m.name, ", ".join(names)))
            w("    static const QMetaMethod qml = QMetaMethod::fromSignal(&%s::qml_%s_%s);" % (c.cpp, m.kind, m.name))
            w("    if (object.isSignalConnected(qml))")
            conv = []
            for p in m.params:
                if p.type == "hw_addr" or p.is_array:
                    conv.append("logformat::hex(%s)" % p.name)
                else:
                    conv.append("int(%s)" % p.name)
            w("        emit object.qml_%s_%s(%s);" % (m.kind, m.name, ", ".join(conv)))
            w("    if (!wifi->logging())")
            w("        return;")
            w("    QStringList entry;")
            w("    entry.reserve(%d);" % (1 + len(m.params)))
            w('    entry << QStringLiteral("%s\\t");' % m.full_name)
            for p in m.params:
                if p.type == "uint16" and p.name in ("result", "reason"):
                    w('    entry << logformat::result("%s", %s);' % (p.name, p.name))
                elif p.type in ("hw_addr", "ipv4"):
                    w('    entry << logformat::address("%s", %s);' % (p.name, p.name))
                elif p.is_array:
                    w('    entry << logformat::array("%s", %s);' % (p.name, p.name))
                else:
                    w('    entry << logformat::integer("%s", %s, %d);' % (p.name, p.name, p.size))
            w("    emit wifi->parsed_message_str(entry);")
            w("}")
            w("")

    groups = [("commands", [m for c in classes for m in c.commands], 0x08),
              ("responses", [m for c in classes for m in c.responses], 0x08),
              ("events", [m for c in classes for m in c.events], 0x88)]
    w("const MessageDescriptor message_table[message_count] = {")
    for title, msgs, byte0 in groups:
        w("    // %s" % title)
        for m in msgs:
            handler = "ignore_command" if m.kind == "cmd" else "&%s::on_%s_%s" % (m.cls.cpp, m.kind, m.name)
            w("    {{0x%02x, %d, %d, %d}, 0x%08x, %s}, // %s" % (byte0, m.fixed, m.cls.id, m.id, m.signature,
                                                            handler, m.full_name))
    w("};")
    w("")
    base = {"responses": len(groups[0][1]), "events": len(groups[0][1]) + len(groups[1][1])}
    for title, msgs, _ in groups[1:]:
        position = {id(m): base[title] + i for i, m in enumerate(msgs)}
        for c in classes:
            group = c.responses if title == "responses" else c.events
            if not group:
                continue
            size = max(m.id for m in group) + 1
            slots = ["nullptr"] * size
            for m in group:
                slots[m.id] = "&message_table[%d]" % position[id(m)]
            w("static const MessageDescriptor *const %s_%s[] = {%s};" % (title, c.name, ", ".join(slots)))
        w("")
        w("const message_class_table message_%s_lookup[message_class_count] = {"
          % ("response" if title == "responses" else "event"))
        for c in classes:
            group = c.responses if title == "responses" else c.events
            if group:
                w("    {%d, %s_%s}," % (max(m.id for m in group) + 1, title, c.name))
            else:
                w("    {0, nullptr},")
        w("};")
        w("")
    return "\n".join(out) + "\n"


def write_if_changed(path, text):
    try:
        with open(path) as f:
            if f.read() == text:
                return
    except OSError:
        pass
    with open(path, "w") as f:
        f.write(text)


def gen_catalogue_counts(classes):
    commands = sum(len(c.commands) for c in classes)
    events = sum(len(c.events) for c in classes)
    return "\n".join([
        "// Generated by tools/apigen.py from the API definition file. Do not edit.",
        "#pragma once",
        "",
        "// Size of the catalogue: every command has exactly one response.",
        "enum {",
        "    message_class_count = %d," % len(classes),
        "    message_command_count = %d," % commands,
        "    message_response_count = message_command_count,",
        "    message_event_count = %d," % events,
        "    message_count = message_command_count + message_response_count + message_event_count,",
        "};",
        ""])


def gen_names(classes):
    """Names and parameter types of every message, in message_table's order, for tools that print packets."""
    out = ["// Generated by tools/apigen.py from the API definition file. Do not edit.",
           '#include "messagenames.h"', "",
           "const message_names message_name_table[message_count] = {"]
    msgs = [m for c in classes for m in c.commands] + [m for c in classes for m in c.responses] + \
        [m for c in classes for m in c.events]
    for m in msgs:
        params = ", ".join('{"%s", "%s"}' % (p.name, p.type) for p in m.params)
        out.append('    {"%s", %d, {%s}},' % (m.full_name, len(m.params), params))
    out.append("};")
    return "\n".join(out) + "\n"


def gen_counts(classes):
    def dense(group):
        ids = [m.id for m in group]
        if sorted(ids) != list(range(len(ids))):
            fail("message ids of a class must be 0..count-1 for the serial worker")
        return str(len(ids))
    return "\n".join([
        "// Generated by tools/apigen.py from the API definition file. Do not edit.",
        "#pragma once",
        "",
        "namespace nwlink {",
        "",
        "constexpr int classCount = %d;" % len(classes),
        "// A response carries the id of its command, so responses count as commands.",
        "constexpr unsigned char commandCount[classCount] = {%s};" % ", ".join(dense(c.commands) for c in classes),
        "constexpr unsigned char eventCount[classCount] = {%s};" % ", ".join(dense(c.events) for c in classes),
        "",
        "} // namespace nwlink",
        ""])


# ------------------------------------------------------------------------------------------- dissector

LUA_FIELDS = {"uint8": ("uint8", "base.DEC"), "int8": ("int8", "base.DEC"), "uint16": ("uint16", "base.DEC"),
              "int16": ("int16", "base.DEC"), "uint32": ("uint32", "base.DEC"), "int32": ("int32", "base.DEC"),
              "ipv4": ("ipv4", None), "hw_addr": ("ether", None), "uint8array": ("bytes", None),
              "uint16array": ("bytes", None)}

LUA_BODY = r"""
local RESULT_TEXT = {}
for code, text in pairs(RESULTS) do RESULT_TEXT[code] = text end

local f_kind = ProtoField.uint8("nw300.type", "Message type", base.DEC, {[0] = "command or response", [1] = "event"}, 0x80)
local f_device = ProtoField.uint8("nw300.device", "Device id", base.DEC, nil, 0x78)
local f_length = ProtoField.uint16("nw300.length", "Payload length", base.DEC, nil, 0x07ff)
local f_class = ProtoField.uint8("nw300.class", "Class", base.DEC, CLASS_NAMES)
local f_id = ProtoField.uint8("nw300.id", "Message id", base.DEC)
local f_message = ProtoField.string("nw300.message", "Message")
local f_direction = ProtoField.string("nw300.direction", "Direction")
table.insert(FIELDS, f_kind)
table.insert(FIELDS, f_device)
table.insert(FIELDS, f_length)
table.insert(FIELDS, f_class)
table.insert(FIELDS, f_id)
table.insert(FIELDS, f_message)
table.insert(FIELDS, f_direction)
nw300.fields = FIELDS

local e_malformed = ProtoExpert.new("nw300.malformed", "Malformed NW300 packet", expert.group.MALFORMED, expert.severity.ERROR)
local e_unknown = ProtoExpert.new("nw300.unknown", "Unknown NW300 message", expert.group.UNDECODED, expert.severity.WARN)
local e_noise = ProtoExpert.new("nw300.noise", "Bytes the receiver discarded", expert.group.SEQUENCE, expert.severity.NOTE)
nw300.experts = {e_malformed, e_unknown, e_noise}

-- Direction as the capture's block flags hold it (1 inbound, 2 outbound); absent in classic pcap.
local ok_dir, dir_field = pcall(Field.new, "frame.packet_flags_direction")
if not ok_dir then dir_field = nil end

local function direction()
    if not dir_field then return 0 end
    local ok, v = pcall(dir_field)
    if ok and v then return v.value end
    return 0
end

local function hex(tvb, off, n)
    if n <= 0 then return "" end
    return string.lower(tvb(off, n):bytes():tohex())
end

local function hexnum(v, size)
    if v < 0 then v = v + 4294967296 end
    return string.format("0x%0" .. (size * 2) .. "x", v)
end

-- A parameter's value as velmo's log pane shows it, without padding and colour.
local function value_text(p, tvb, off, n)
    local t = p.type
    if t == "hw_addr" or t == "uint8array" or t == "uint16array" then return hex(tvb, off, n) end
    if t == "ipv4" then
        return string.format("%d.%d.%d.%d", tvb(off, 1):uint(), tvb(off + 1, 1):uint(), tvb(off + 2, 1):uint(), tvb(off + 3, 1):uint())
    end
    local v
    if t == "int8" or t == "int16" or t == "int32" then v = tvb(off, p.size):le_int() else v = tvb(off, p.size):le_uint() end
    if p.result then return string.format("0x%04x '%s'", v, RESULT_TEXT[v] or "") end
    return string.format("%d (%s)", v, hexnum(v, p.size))
end

local function add_param(tree, p, tvb, off, n)
    local range = tvb(off, n)
    if p.type == "hw_addr" or p.type == "ipv4" or p.type == "uint8array" or p.type == "uint16array" then
        return tree:add(p.field, range)
    end
    return tree:add_le(p.field, range)
end

local function dissect(tvb, pinfo, tree)
    pinfo.cols.protocol = "NW300"
    local total = tvb:len()
    local subtree = tree:add(nw300, tvb(), "NW300 module API")
    local dir = direction()
    if dir == 1 then subtree:add(f_direction, "inbound (module to host)")
    elseif dir == 2 then subtree:add(f_direction, "outbound (host to module)") end
    local b0 = total >= 1 and tvb(0, 1):uint() or 0
    if total < 4 or bit32.band(b0, 0x78) ~= 0x08 then
        subtree:add_proto_expert_info(e_noise, "not a packet header: " .. total .. " bytes the receiver skipped")
        if total < 4 and total > 0 and bit32.band(b0, 0x78) == 0x08 then
            subtree:add_proto_expert_info(e_malformed, "shorter than a packet header")
        end
        pinfo.cols.info = "line noise: " .. hex(tvb, 0, math.min(total, 16)) .. (total > 16 and "..." or "")
        return total
    end
    subtree:add(f_kind, tvb(0, 1))
    subtree:add(f_device, tvb(0, 1))
    subtree:add(f_length, tvb(0, 2))
    subtree:add(f_class, tvb(2, 1))
    subtree:add(f_id, tvb(3, 1))
    local length = bit32.bor(bit32.lshift(bit32.band(b0, 7), 8), tvb(1, 1):uint())
    local class_id, id = tvb(2, 1):uint(), tvb(3, 1):uint()
    local kind
    if bit32.band(b0, 0x80) ~= 0 then kind = "evt" elseif dir == 2 then kind = "cmd" else kind = "rsp" end
    local m = MESSAGES[kind .. "/" .. class_id .. "/" .. id]
    local present = total - 4
    local problems = {}
    if present < length then
        table.insert(problems, "payload of " .. present .. " bytes, the header says " .. length)
    elseif present > length then
        table.insert(problems, present - length .. " bytes after the payload the header announces")
    end
    local payload = math.min(present, length)
    if not m then
        subtree:add_proto_expert_info(e_unknown, string.format("no %s %d in class %d", KIND_WORD[kind], id, class_id))
        pinfo.cols.info = string.format("unknown %s: class %d id %d", KIND_WORD[kind], class_id, id)
    else
        subtree:add(f_message, m.full)
        subtree:append_text(": " .. m.full)
        local info = {m.class .. " " .. m.name .. " " .. KIND_WORD[kind]}
        local array_off = 4 + m.fixed
        for _, p in ipairs(m.params) do
            local off = 4 + p.off
            if p.off + p.size > payload then
                table.insert(problems, "the payload ends before " .. p.name)
                break
            end
            if p.array then
                local n = p.size == 1 and tvb(off, 1):uint() or tvb(off, 2):le_uint()
                local have = math.max(0, 4 + payload - array_off)
                if n > have then
                    table.insert(problems, p.name .. " announces " .. n .. " bytes, " .. have .. " are there")
                    n = have
                end
                if n > 0 then
                    add_param(subtree, p, tvb, array_off, n)
                else
                    subtree:add(p.field, tvb(off, 0))
                end
                local text = value_text(p, tvb, array_off, n)
                if #text > 32 then text = string.sub(text, 1, 32) .. "..." end
                table.insert(info, p.name .. ":" .. text)
            else
                add_param(subtree, p, tvb, off, p.size)
                table.insert(info, p.name .. ":" .. value_text(p, tvb, off, p.size))
            end
        end
        pinfo.cols.info = table.concat(info, " ")
    end
    for _, problem in ipairs(problems) do
        subtree:add_proto_expert_info(e_malformed, problem)
    end
    if #problems > 0 then pinfo.cols.info:append(" [malformed]") end
    return total
end

function nw300.dissector(tvb, pinfo, tree)
    -- A fault in the dissector must not hide the packet: it is reported as malformed instead.
    local ok, err = pcall(dissect, tvb, pinfo, tree)
    if not ok then
        local t = tree:add(nw300, tvb(), "NW300 module API")
        t:add_proto_expert_info(e_malformed, "cannot decode: " .. tostring(err))
    end
    return tvb:len()
end

local encaps = wtap_encaps or wtap
DissectorTable.get("wtap_encap"):add(encaps and encaps.USER0 or 45, nw300)
"""


def read_result_texts(path):
    text = open(path, encoding="utf-8").read()
    pairs = re.findall(r'\{0x([0-9a-fA-F]{4}), "((?:[^"\\]|\\.)*)"\}', text)
    if not pairs:
        fail("no result texts in %s" % path)
    return [(int(code, 16), t) for code, t in pairs]


def lua_string(s):
    return '"' + s.replace("\\", "\\\\").replace('"', '\\"') + '"'


def gen_dissector(classes, results):
    out = ["-- NW300 module API over a serial line: a dissector for captures on the first user link type.",
           "-- Generated by tools/apigen.py from the API definition file. Do not edit.",
           'local nw300 = Proto("nw300", "NW300 module API")',
           'local KIND_WORD = {cmd = "command", rsp = "response", evt = "event"}',
           "local RESULTS = {"]
    w = out.append
    for code, t in results:
        w("    [0x%04x] = %s," % (code, lua_string(t)))
    w("}")
    w("local CLASS_NAMES = {%s}" % ", ".join("[%d] = %s" % (c.id, lua_string(c.name)) for c in classes))
    w("local FIELDS = {}")
    w("local MESSAGES = {}")
    w("local function field(f) table.insert(FIELDS, f) return f end")
    for c in classes:
        for m in c.commands + c.responses + c.events:
            params = []
            for p, off in m.offsets():
                abbr = "nw300.%s.%s.%s.%s" % (m.kind, c.name, m.name, p.name)
                ftype, base = LUA_FIELDS[p.type]
                result = m.kind != "cmd" and p.type == "uint16" and p.name in ("result", "reason")
                if result:
                    ctor = 'ProtoField.uint16("%s", "%s", base.HEX, RESULTS)' % (abbr, p.name)
                elif base:
                    ctor = 'ProtoField.%s("%s", "%s", %s)' % (ftype, abbr, p.name, base)
                else:
                    ctor = 'ProtoField.%s("%s", "%s")' % (ftype, abbr, p.name)
                params.append('{name = "%s", type = "%s", off = %d, size = %d, array = %s, result = %s, field = field(%s)}'
                              % (p.name, p.type, off, p.size, "true" if p.is_array else "false",
                                 "true" if result else "false", ctor))
            w('MESSAGES["%s/%d/%d"] = {class = "%s", name = "%s", full = "%s", fixed = %d, params = {%s}}'
              % (m.kind, c.id, m.id, c.name, m.name, m.full_name, m.fixed, ", ".join(params)))
    return "\n".join(out) + "\n" + LUA_BODY.lstrip("\n")



def main():
    if len(sys.argv) == 4 and sys.argv[1] == "--names":
        os.makedirs(os.path.dirname(os.path.abspath(sys.argv[3])), exist_ok=True)
        write_if_changed(sys.argv[3], gen_names(load(sys.argv[2])))
        return
    if len(sys.argv) == 4 and sys.argv[1] == "--counts":
        os.makedirs(os.path.dirname(os.path.abspath(sys.argv[3])), exist_ok=True)
        write_if_changed(sys.argv[3], gen_counts(load(sys.argv[2])))
        return
    if len(sys.argv) == 5 and sys.argv[1] == "--dissector":
        os.makedirs(os.path.dirname(os.path.abspath(sys.argv[4])), exist_ok=True)
        write_if_changed(sys.argv[4], gen_dissector(load(sys.argv[2]), read_result_texts(sys.argv[3])))
        return
    if len(sys.argv) != 3:
        fail("usage: apigen.py <wifiapi.xml> <output folder> | --counts|--names <wifiapi.xml> <output>")
    classes = load(sys.argv[1])
    os.makedirs(sys.argv[2], exist_ok=True)
    write_if_changed(os.path.join(sys.argv[2], "wifi_classes.h"), gen_header(classes))
    write_if_changed(os.path.join(sys.argv[2], "wifi_classes.cpp"), gen_commands(classes))
    write_if_changed(os.path.join(sys.argv[2], "message_catalogue.cpp"), gen_catalogue(classes))
    write_if_changed(os.path.join(sys.argv[2], "message_counts.h"), gen_catalogue_counts(classes))


if __name__ == "__main__":
    main()
