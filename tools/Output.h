// What pvtool prints: texts from pool files, which may hold any byte, and its
// one-line errors.
#pragma once

#include <cstddef>
#include <cstdio>

// The text in double quotes, bytes outside printable ASCII as \xNN (\n, \r
// and \t by name), quotes and backslashes escaped, so that a key can never
// pass for a line of ours or move the terminal.
void PrintText(std::FILE* out, const char* text, size_t len);
// "pvtool: PATH: REASON" on standard error; returns kUnreadable.
int Fail(const char* path, const char* reason);
int FailWith(const char* path, int error);

// "entry" or "entries", after a count.
inline const char* Entries(unsigned long n) { return n == 1 ? "entry" : "entries"; }

// Exit codes.
const int kClean = 0;
const int kReported = 1;
const int kUnreadable = 2;
