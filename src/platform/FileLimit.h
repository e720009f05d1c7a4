#pragma once

// Raises the soft limit on open descriptors to the hard limit. A desktop session starts programs with
// 1,024, and a cycle over thousands of systems needs a socket per check. False when the limit could not
// be read or changed; the program then runs with what it has.
bool RaiseOpenFileLimit();

// The last descriptors below the limit stay for the window: a new thread of the toolkit needs one, and
// failing to get it ends the program. A socket given one of these is closed again, and its connect fails
// as on a system with no descriptor left.
constexpr int DescriptorReserve = 64;
bool InDescriptorReserve(int fd);

// The soft limit on open descriptors; a very large number when there is none.
int OpenFileLimit();
// Descriptors the process holds now.
int OpenDescriptorCount();
// How many more descriptors the process may open and still leave the reserve untouched (at least 1).
int DescriptorBudget();

// The call failed for want of something on this machine (descriptors, buffers, local ports), not because
// of the remote side: trying again later can succeed.
bool IsLocalResourceError(int err);
