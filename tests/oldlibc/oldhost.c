/* A host in plain C, so that it links against an old C library alone: loads
 * the plugin given on the command line, plays one script's typical road
 * through the natives and stops at the first result it did not expect.
 * usage: oldhost PLUGIN [C_LIBRARY_VERSION]  (run with an empty scriptfiles/) */
#include <dlfcn.h>
#include <gnu/libc-version.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

typedef int32_t cell;
typedef struct {
  const char *name;
  cell (*func)(void *amx, const cell *params);
} NativeInfo;

enum { ERR_NONE = 0, ERR_MEMACCESS = 5, ERR_PARAMS = 25 };
enum { CELLS = 4096, DEST_CELLS = 32 };

/* Script memory: byte addresses; heap [0, hea), stack [stk, stp). The cells
 * between them and past stp belong to nobody. */
static cell data[CELLS];
static cell hea, stk = (CELLS - 16) * 4, stp = (CELLS - 16) * 4;
static int script; /* what the host hands the plugin as the AMX */
static const NativeInfo *natives;
static char last_log[1024];

static void fail(const char *format, ...) {
  va_list args;
  va_start(args, format);
  fputs("oldhost: FAILED: ", stdout);
  vprintf(format, args);
  putchar('\n');
  va_end(args);
  exit(1);
}

static void log_line(const char *format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(last_log, sizeof last_log, format, args);
  va_end(args);
  printf("  log: %s\n", last_log);
}

static int addressable(cell a) { return (a >= 0 && a < hea) || (a >= stk && a < stp); }

static int get_addr(void *amx, cell a, cell **phys) {
  if (amx != &script) fail("amx_GetAddr got an AMX that is not the script's");
  if (!addressable(a)) return ERR_MEMACCESS;
  *phys = (cell *)((char *)data + a);
  return ERR_NONE;
}

static int is_packed(const cell *p) { return (uint32_t)*p > 0x00FFFFFFu; }

static char packed_char(const cell *p, size_t i) {
  return (char)((uint32_t)p[i / 4] >> (24 - 8 * (i % 4)));
}

/* Bounded by the data block, so that a string without its zero cell cannot
 * take the host past it. */
static int str_len(const cell *p, int *length) {
  size_t n = 0, left = (size_t)(data + CELLS - p);
  if (is_packed(p)) {
    while (n < left * 4 && packed_char(p, n) != '\0') n++;
  } else {
    while (n < left && p[n] != 0) n++;
  }
  *length = (int)n;
  return ERR_NONE;
}

static int get_string(char *to, const cell *source, int use_wchar, size_t size) {
  int length, packed = is_packed(source);
  size_t i;
  if (use_wchar || size == 0) return ERR_PARAMS;
  str_len(source, &length);
  for (i = 0; i < (size_t)length && i + 1 < size; i++) {
    to[i] = packed ? packed_char(source, i) : (char)source[i];
  }
  to[i] = '\0';
  return ERR_NONE;
}

/* Scripts read what the plugin writes as unpacked strings; a write past the
 * addressable memory is the plugin's fault, not left to corrupt ours. */
static int set_string(cell *to, const char *source, int pack, int use_wchar, size_t size) {
  size_t length = strlen(source), i;
  if (pack || use_wchar) fail("amx_SetString asked for packed or wide characters");
  if (size == 0) return ERR_NONE;
  if (length >= size) length = size - 1;
  for (i = 0; i <= length; i++) {
    cell a = (cell)((char *)(to + i) - (char *)data);
    if (!addressable(a)) fail("amx_SetString wrote to script address %d", a);
    to[i] = i < length ? (unsigned char)source[i] : 0;
  }
  return ERR_NONE;
}

static int register_natives(void *amx, const NativeInfo *list, int number) {
  if (amx != &script) fail("amx_Register got an AMX that is not the script's");
  if (number != -1) fail("amx_Register got %d natives, not a null-terminated list", number);
  natives = list;
  return ERR_NONE;
}

/* Calls a native and checks its result. Kinds: s string (on the heap),
 * i integer, f float, d destination array (on the stack, as a script's local
 * is) and the text it must then hold. */
static void call(cell want, const char *native, const char *kinds, ...) {
  cell params[8], got, dest = 0;
  const NativeInfo *n = natives;
  const char *want_text = NULL;
  char text[DEST_CELLS + 1];
  va_list args;
  int count = 0;
  hea = 0, stk = stp;
  printf("%s(", native);
  va_start(args, kinds);
  for (; kinds[count]; count++) {
    cell *param = &params[count + 1];
    printf("%s", count ? ", " : "");
    if (kinds[count] == 's') {
      const char *s = va_arg(args, const char *);
      size_t i, len = strlen(s);
      for (i = 0; i <= len; i++) data[hea / 4 + i] = (unsigned char)s[i];
      *param = hea;
      hea += (cell)(len + 1) * 4;
      printf("%s", s);
    } else if (kinds[count] == 'i') {
      *param = va_arg(args, int);
      printf("%d", *param);
    } else if (kinds[count] == 'f') {
      float f = (float)va_arg(args, double);
      memcpy(param, &f, sizeof f);
      printf("%g", f);
    } else {
      want_text = va_arg(args, const char *);
      *param = dest = stk -= DEST_CELLS * 4;
      memset(data + dest / 4, 0, DEST_CELLS * 4);
      printf("dest");
    }
  }
  va_end(args);
  printf(")\n");
  params[0] = count * 4;
  while (n && n->name && strcmp(n->name, native) != 0) n++;
  if (!n || !n->name) fail("%s is not registered", native);
  last_log[0] = '\0';
  got = n->func(&script, params);
  printf("  = %d\n", got);
  if (got != want) fail("%s returned %d, not %d", native, got, want);
  if (!want_text) return;
  get_string(text, data + dest / 4, 0, sizeof text);
  printf("  dest \"%s\"\n", text);
  if (strcmp(text, want_text) != 0) fail("dest holds \"%s\", not \"%s\"", text, want_text);
}

static void expect(const char *what, long got, long want) {
  printf("%s = 0x%08lX\n", what, got);
  if (got != want) fail("%s returned 0x%lX, not 0x%lX", what, got, want);
}

static void expect_log(const char *want) {
  if (strcmp(last_log, want) != 0) fail("logged \"%s\", not \"%s\"", last_log, want);
}

static void expect_file(const char *path, const char *want) {
  char got[256] = "";
  FILE *f = fopen(path, "rb");
  size_t n = f ? fread(got, 1, sizeof got - 1, f) : 0;
  if (!f || fclose(f) != 0) fail("cannot read %s", path);
  printf("  %s holds %zu bytes\n", path, n);
  if (n != strlen(want) || memcmp(got, want, n) != 0)
    fail("%s holds \"%s\", not \"%s\"", path, got, want);
}

static void *entry(void *plugin, const char *name) {
  void *p = dlsym(plugin, name);
  if (!p) fail("the plugin exports no %s", name);
  return p;
}

int main(int argc, char **argv) {
  static void *amx_functions[44], *plugin_data[32];
  const char *library = gnu_get_libc_version();
  void *plugin;

  if (argc < 2) fail("usage: oldhost PLUGIN [C_LIBRARY_VERSION]");
  setvbuf(stdout, NULL, _IONBF, 0);
  printf("C library: glibc %s\n", library);
  if (argc > 2 && strcmp(library, argv[2]) != 0)
    fail("running on glibc %s, not %s", library, argv[2]);
  plugin = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!plugin) fail("dlopen: %s", dlerror());

  amx_functions[13] = (void *)get_addr;
  amx_functions[17] = (void *)get_string;
  amx_functions[33] = (void *)register_natives;
  amx_functions[37] = (void *)set_string;
  amx_functions[39] = (void *)str_len;
  plugin_data[0] = (void *)log_line;
  plugin_data[16] = amx_functions;

  expect("Supports()", ((unsigned (*)(void))entry(plugin, "Supports"))(), 0x00010200);
  expect("Load()", ((_Bool(*)(void **))entry(plugin, "Load"))(plugin_data), 1);
  expect_log("Plugin pairvault.dll got loaded.");
  expect("AmxLoad()", ((int (*)(void *))entry(plugin, "AmxLoad"))(&script), 0);

  call(1, "HLoad", "ss", "scores", "scores.txt");
  expect_log("Loading hash scores from scriptfiles/scores.txt");
  call(1, "HAddInt", "ssi", "scores", "alice", 10);
  call(1, "HInc", "ss", "scores", "alice");
  call(11, "HGetInt", "ss", "scores", "alice");
  call(1, "HGetIndex", "sid", "scores", 0, "11");
  call(1, "HSave", "s", "scores");
  expect_log("Saving hash scores to scriptfiles/scores.txt");
  expect_file("scriptfiles/scores.txt", "alice\n11\n");
  call(1, "HClose", "s", "scores");
  call(0, "HGetInt", "ss", "scores", "alice");

  call(1, "HLoad", "ss", "scores", "scores.txt");
  call(11, "HGetInt", "ss", "scores", "alice");
  call(1, "HAddFloat", "ssf", "scores", "half", 2.5);
  call(1, "HGet", "ssd", "scores", "half", "2.500000");
  call(1, "HSave", "s", "scores");
  call(1, "HClose", "s", "scores");
  call(1, "HLoad", "ss", "scores", "scores.txt");
  call(1, "HGet", "ssd", "scores", "half", "2.500000");
  call(11, "HGetInt", "ss", "scores", "alice");

  /* A journal starts the thread that syncs it; Unload joins it. */
  call(1, "HLoad", "ssi", "bank", "bank.txt", 1);
  call(1, "HInc", "ss", "bank", "alice");

  printf("Unload()\n");
  last_log[0] = '\0';
  ((void (*)(void))entry(plugin, "Unload"))();
  expect_log("Plugin pairvault.dll got unloaded.");
  if (access("scriptfiles/bank.txt.journal", F_OK) != 0) fail("no journal was written");
  printf("oldhost: all results as expected\n");
  return 0;
}
