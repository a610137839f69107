// pvtool's commands. Each takes the path of a pool file (its journal is the
// same path with ".journal" added) and returns the exit code.
#pragma once

int Show(const char* path);
int Check(const char* path);
int Fold(const char* path);
int ListJournal(const char* path);
