// What a load of a pool file passes over, takes off or lets a later line
// replace, and what a save would then leave out.
#pragma once

#include <cstdint>

class CHashPool;

// Prints a "PATH:LINE: ..." line for each finding and returns how many
// there were, or -1 after the error line when the file cannot be read.
// `pool` must hold what a load of the file gave.
long CheckPoolFile(const char* path, CHashPool& pool);
