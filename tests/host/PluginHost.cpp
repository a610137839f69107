#include "PluginHost.h"

#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>
#include <stdexcept>

#include "Script.h"

namespace {

void CaptureLog(const char* format, ...) {
  va_list args;
  va_start(args, format);
  char line[4096];
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  PluginHost::log().push_back(line);
}

}  // namespace

std::vector<std::string>& PluginHost::log() {
  static std::vector<std::string> lines;
  return lines;
}

PluginHost::PluginHost(const std::string& path) : amxFunctions(), pluginData() {
  m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!m_handle) throw std::runtime_error(std::string("dlopen: ") + dlerror());
  pluginData[0] = reinterpret_cast<void*>(&CaptureLog);
  pluginData[16] = amxFunctions;
  log().clear();
}

PluginHost::~PluginHost() { dlclose(m_handle); }

void* PluginHost::symbol(const char* name) const { return dlsym(m_handle, name); }

unsigned int PluginHost::Supports() const { return function<unsigned int (*)()>("Supports")(); }

bool PluginHost::Load() { return function<bool (*)(void**)>("Load")(pluginData); }

void PluginHost::Unload() { function<void (*)()>("Unload")(); }

int PluginHost::AmxLoad(AMX* amx) const { return function<int (*)(AMX*)>("AmxLoad")(amx); }

int PluginHost::AmxUnload(AMX* amx) const { return function<int (*)(AMX*)>("AmxUnload")(amx); }

// Here rather than in Script.cpp, so that a program linking the plugin's
// sources directly needs no loader.
void Script::InstallApi(PluginHost& host) { InstallApi(host.amxFunctions); }
