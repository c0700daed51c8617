#pragma once
// Line definitions: the text COMPort::SetLineCharacteristics takes, read into
// a PortState and PortTimeouts. Only the fields the text names change. Two
// forms, case-insensitive, optionally after a device name such as "COM1:":
//
//   key=value pairs, separated by spaces:
//     baud=<rate>      bits per second; 11 15 30 60 12 24 48 96 19 stand for
//                      110 150 300 600 1200 2400 4800 9600 19200
//     parity=n|e|o|m|s none, even, odd, mark, space
//     data=5|6|7|8     data bits
//     stop=1|1.5|2     stop bits
//     xon=on|off       XON/XOFF flow control, both directions
//     octs=on|off      transmit only while CTS is asserted
//     odsr=on|off      transmit only while DSR is asserted
//     dtr=on|off|hs    DTR asserted, dropped or handshake
//     rts=on|off|hs|tg RTS asserted, dropped, handshake or toggle
//     to=on|off        write time-out of 60 s, or none
//   the short form "rate[,parity[,data[,stop[,x|p]]]]" such as "9600,n,8,1";
//   a field may be left empty; x is XON/XOFF, p the RTS/CTS handshake.
//
// Whether the port can do what the text asks is for the platform to say when
// the state is applied; this only reads the text.

#include "serial/PortPlatform.h"

// True when the whole text was understood; state and timeouts are then
// changed. On false both may be partly changed: callers parse into copies.
bool ParsePortDefinition(const char* definition, PortState& state, PortTimeouts& timeouts);

// The write time-out that "to=on" sets, in milliseconds.
inline constexpr uint32_t kDefinitionWriteTimeoutMs = 60000;
