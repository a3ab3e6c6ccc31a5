// Limits the operating system puts on the running program.
#pragma once

namespace vozaro::platform {

// Raises the program's own limit on open files (descriptors) to the most the
// system allows it, so that guests' connections, song files and sound
// streams do not run it out; the limit now in force, or -1 when it cannot
// be read.  Called once at start.
long raiseOpenFileLimit();

}  // namespace vozaro::platform
