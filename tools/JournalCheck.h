// What a journaled HLoad makes of a pool file's journal.
#pragma once

#include "PoolAccess.h"

// Prints what the journal holds and a line for each finding: a journal the
// plugin refuses, one made on another version of the file, a torn or corrupt
// end, entries from it that a save would leave out. Returns the findings.
long CheckJournal(const Loaded& loaded);
