// Layer state shared by the parts of the network client (internal).
#pragma once

// True once NetworkInit has run (and NetworkObjectsEnd has not reset it since): only then may a
// connection use IPv6.
bool NetworkIPv6Allowed();
