// Loaded after the plugin: at exit the C library finishes the objects it
// loaded in the order they came, so this runs after the plugin's own
// clean-up, as the unloading does in hosts that load their plugin manager
// after their plugins.
extern "C" {
__attribute__((visibility("default"))) void (*g_lastAtExit)() = nullptr;
}

namespace {

__attribute__((destructor)) void RunLast() {
  if (g_lastAtExit) g_lastAtExit();
}

}  // namespace
