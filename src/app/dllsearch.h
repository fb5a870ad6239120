#pragma once

// Limits the folders this process loads DLLs from by name to the system
// directory, for the rest of its life. The tool runs elevated, and Windows
// would otherwise look in the tool's own folder first. Imports were resolved
// before main ran, so this covers later loads only: the real protection is a
// tool folder that only administrators can write. Nothing to limit on the
// simulated machine, which loads its libraries by full path.
// 0 when done, else the system error number.
unsigned long limitDllSearchToSystemDirectory();
