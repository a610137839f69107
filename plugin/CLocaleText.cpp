#include "CLocaleText.h"

#include <locale.h>
#include <stdlib.h>
#include <string.h>

#include <cstdio>

namespace {

// The C library hands out one shared object for the C locale: nothing to
// free. Zero if even that failed; the process's locale is used then.
const locale_t g_c = newlocale(LC_ALL_MASK, "C", locale_t(0));

}  // namespace

void FormatFloat(char* text, size_t size, double value) {
  // Only this thread switches, and only for the one call.
  const locale_t previous = uselocale(g_c);
  std::snprintf(text, size, "%f", value);
  uselocale(previous);
}

double ParseFloat(const char* text) {
  return g_c ? strtod_l(text, nullptr, g_c) : strtod(text, nullptr);
}

const char* ErrorText(int error) { return g_c ? strerror_l(error, g_c) : strerror(error); }
