#pragma once

// Raises the soft limit on open descriptors to the hard limit. A desktop session starts programs with
// 1,024, and a cycle over thousands of systems needs a socket per check. False when the limit could not
// be read or changed; the program then runs with what it has.
bool RaiseOpenFileLimit();
