// The compiler tests' small API definition, also read by the inspector's tests, which compile the same
// scripts: one copy, so the two can never disagree on what the scripts were compiled against.
#pragma once

#include <QByteArray>

// A two-class API: "sme" with two events and a command with results, "util" without events.
inline QByteArray smallApi()
{
    return R"(<api device_name="wifi" device_id="1">
  <datatypes>
    <datatype name="uint8" base="uint8"/><datatype name="int8" base="int8"/>
    <datatype name="uint16" base="uint16"/><datatype name="int16" base="int16"/>
    <datatype name="uint32" base="uint32"/><datatype name="int32" base="int32"/>
    <datatype name="uint8array" base="uint8array"/><datatype name="ipv4" base="ipv4"/>
  </datatypes>
  <class name="sme">
    <command name="set" script="3">
      <params><param type="uint8" name="a"/><param type="uint8" name="b"/><param type="uint16" name="c"/></params>
      <returns><param type="uint16" name="result"/><param type="uint8array" name="data"/></returns>
    </command>
    <command name="word" script="4">
      <params><param type="uint32" name="w"/><param type="uint16" name="h"/></params>
      <returns/>
    </command>
    <event name="up" script="0"><params><param type="int8" name="level"/><param type="uint8array" name="data"/></params></event>
    <event name="down" script="1"><params/></event>
    <defines><define name="ok"/><define name="bad"/><define name="hex" value="0x10"/><define name="next"/></defines>
    <enums><enum name="ok" value="10"/></enums>
  </class>
  <class name="util">
    <command name="ping" script="5"><params/><returns/></command>
  </class>
</api>
)";
}
