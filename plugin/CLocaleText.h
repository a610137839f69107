// Numbers and error texts in the C locale, whatever locale the server or
// another plugin set: pool files must read back the same everywhere, and a
// decimal comma would turn "2.5" into 2.
#pragma once

#include <cstddef>

// `value` as "%f" (six decimals, no exponent).
void FormatFloat(char* text, size_t size, double value);
// The leading number of the text, as strtod reads it; 0.0 when there is none.
double ParseFloat(const char* text);
// The system's text for an errno value.
const char* ErrorText(int error);
