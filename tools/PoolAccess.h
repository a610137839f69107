// A pool file as the plugin loads it, outside a server.
#pragma once

#include "HashPool.h"

// Binds the pool to the path as it is and loads the file, as HLoad does.
// 0, or an errno (ENOENT: no file).
int LoadFile(CHashPool& pool, const char* path);
// "KEY" = "VALUE", then the mark if there is one.
void PrintEntry(const CHashPool::Map::Entry& e, const char* mark);
