// Every AMX forwarder must call its own slot of the host's table, with the
// same arguments, return that slot's result, and read the table when called.
#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "PluginHost.h"

namespace {

struct Call {
  int tag;
  std::vector<uint64_t> args;
};
std::vector<Call> g_calls;

template <typename T>
uint64_t Bits(T v) {
  if constexpr (std::is_pointer_v<T>) {
    return reinterpret_cast<uintptr_t>(v);
  } else {
    return static_cast<uint64_t>(v);
  }
}

template <typename T>
T Make(uint64_t seed) {
  if constexpr (std::is_pointer_v<T>) {
    return reinterpret_cast<T>(static_cast<uintptr_t>(seed));
  } else {
    return static_cast<T>(seed);
  }
}

template <int Tag, typename Fn>
struct Fake;

template <int Tag, typename R, typename... A>
struct Fake<Tag, R (*)(A...)> {
  static R Call(A... args) {
    g_calls.push_back({Tag, {Bits(args)...}});
    return Make<R>(0xF000 + Tag);
  }
};

template <typename... A, size_t... I>
std::tuple<A...> DistinctArguments(uint64_t seed, std::index_sequence<I...>) {
  return std::tuple<A...>{Make<A>(seed + I + 1)...};
}

// Installs a fake under `tag` in the slot, calls the exported forwarder with
// distinct arguments, and checks what reached the slot and what came back.
template <int Tag, typename Fn, typename R, typename... A>
void CheckForwarder(PluginHost& host, int slot, const char* name, R (*)(A...)) {
  host.amxFunctions[slot] = reinterpret_cast<void*>(&Fake<Tag, Fn>::Call);
  Fn forwarder = host.function<Fn>(name);
  ASSERT_NE(forwarder, nullptr) << name << " is not exported";
  const std::tuple<A...> args =
      DistinctArguments<A...>(1000u * Tag, std::index_sequence_for<A...>());
  g_calls.clear();
  const R result = std::apply(forwarder, args);
  EXPECT_EQ(Bits(result), Bits(Make<R>(0xF000 + Tag))) << name;
  ASSERT_EQ(g_calls.size(), 1u) << name;
  EXPECT_EQ(g_calls[0].tag, Tag) << name << " did not call slot " << slot;
  std::vector<uint64_t> expected;
  std::apply([&](auto... a) { expected = {Bits(a)...}; }, args);
  EXPECT_EQ(g_calls[0].args, expected) << name;
}

// The host's slot order, written out independently of the plugin's.
#define AMX_SLOTS(X)                                                                               \
  X(0, amx_Align16)                                                                                \
  X(1, amx_Align32)                                                                                \
  X(3, amx_Allot)                                                                                  \
  X(4, amx_Callback)                                                                               \
  X(5, amx_Cleanup)                                                                                \
  X(6, amx_Clone) X(7, amx_Exec) X(8, amx_FindNative) X(9, amx_FindPublic) X(10, amx_FindPubVar)   \
      X(11, amx_FindTagId) X(12, amx_Flags) X(13, amx_GetAddr) X(14, amx_GetNative)                \
          X(15, amx_GetPublic) X(16, amx_GetPubVar) X(17, amx_GetString) X(18, amx_GetTag)         \
              X(19, amx_GetUserData) X(20, amx_Init) X(21, amx_InitJIT) X(22, amx_MemInfo)         \
                  X(23, amx_NameLength) X(24, amx_NativeInfo) X(25, amx_NumNatives) X(             \
                      26, amx_NumPublics) X(27, amx_NumPubVars) X(28, amx_NumTags) X(29, amx_Push) \
                      X(30, amx_PushArray) X(31, amx_PushString) X(32, amx_RaiseError)             \
                          X(33, amx_Register) X(34, amx_Release) X(35, amx_SetCallback)            \
                              X(36, amx_SetDebugHook) X(37, amx_SetString) X(38, amx_SetUserData)  \
                                  X(39, amx_StrLen) X(40, amx_UTF8Check) X(41, amx_UTF8Get)        \
                                      X(42, amx_UTF8Len) X(43, amx_UTF8Put)

TEST(Forwarders, EachCallsItsSlotWithArgumentsAndResultUnchanged) {
  PluginHost host;
  ASSERT_TRUE(host.Load());
#define CHECK_SLOT(slot, name) \
  CheckForwarder<slot, decltype(&name)>(host, slot, #name, static_cast<decltype(&name)>(nullptr));
  AMX_SLOTS(CHECK_SLOT)
#undef CHECK_SLOT
}

TEST(Forwarders, ReadTheTableAtCallTime) {
  PluginHost host;
  ASSERT_TRUE(host.Load());
  // Filled only after Load: a forwarder that cached the slot would miss it.
#define CHECK_SLOT(slot, name)                                   \
  CheckForwarder<100 + slot, decltype(&name)>(host, slot, #name, \
                                              static_cast<decltype(&name)>(nullptr));
  AMX_SLOTS(CHECK_SLOT)
#undef CHECK_SLOT

  // A second Load hands over another table; the forwarders follow it.
  void* second[PluginHost::kAmxSlots] = {};
  host.pluginData[16] = second;
  ASSERT_TRUE(host.Load());
  second[39] = reinterpret_cast<void*>(&Fake<7, decltype(&amx_StrLen)>::Call);
  g_calls.clear();
  host.function<decltype(&amx_StrLen)>("amx_StrLen")(nullptr, nullptr);
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0].tag, 7);
}

TEST(Forwarders, SlotTwoHasNone) {
  PluginHost host;
  EXPECT_EQ(host.symbol("amx_Align64"), nullptr);
}

}  // namespace
