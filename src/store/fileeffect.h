#pragma once

#include <QString>

// The points of the simulated machine's vendor folder (protectedfolder_sim.cpp)
// at which a test may fail a run's effect on a file, or end the run there as
// a kill would. Windows has none. On the simulated machine the rule
// "kill NAME" of ROOT/faults/vendorfolder ends the process right before it
// replaces the file NAME (fileeffect_sim.cpp); on the tests' in-memory
// machine every effect is such a point (fileeffect_mem.cpp).
enum class FileEffect
{
    Write,   // a temporary file created and written
    Replace, // a written temporary file renamed over `path`
    Rename,  // a file renamed or set aside
    Remove
};

enum class EffectOutcome
{
    Go,
    // The effect fails, as one the system refuses.
    Fail,
    // The run has ended: neither this effect nor any cleaning up after it
    // happens, as none does in a killed process.
    Killed
};

EffectOutcome beforeFileEffect(FileEffect effect, const QString &path);
