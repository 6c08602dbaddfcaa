// MAC address text as the command line and the window take it: lower-case hex digits, a colon re-inserted
// after every pair. QtCore only, so the console programs parse addresses exactly as the window's field does.
#pragma once

#include <QString>

namespace hwaddress
{

enum class State { Invalid, Intermediate, Acceptable };

// Normalises `text` in place (colons where they belong, at most twelve digits) and moves the cursor `pos`
// with it; Acceptable once all six bytes are there.
State normalize(QString &text, int &pos);

} // namespace hwaddress
