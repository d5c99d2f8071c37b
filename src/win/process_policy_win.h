#pragma once
// What the whole process is told at its entry, before it does anything else.

namespace mv {

// The process, and the "ver" interpreter it starts, raise no system box of their own: none for a
// drive without a disk, a file that cannot be found, or a crash. A run that shows nothing (as
// SYSTEM in session 0, where a box would wait for ever) stays without any window, and a failure
// reaches its caller as a result. Where Windows has the policy (Windows 11, and 10 from 21H2 with
// its updates), links that a user without administrator rights made (a junction, a mount point,
// a symbolic link) are not followed by this process: a path it opens elevated cannot be steered
// by such a link into a place of the system.
void ApplyProcessPolicies();

}  // namespace mv
