// Random sequences of native calls through the plugin's own entry points
// (its sources linked in), with random names, keys, values, numbers and
// argument counts, packed and unpacked strings, and destinations anywhere in
// the script's memory: roomy, short, at the end of the heap or the stack, or
// not addressable. Every result, every text written back and every pool's
// entries must match the model; no cell of script memory may change except
// the ones the model says a native writes.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ByteReader.h"
#include "FuzzDirectory.h"
#include "HashPoolManager.h"
#include "LinkedPlugin.h"
#include "NativesModel.h"
#include "Script.h"

namespace {

const size_t kCells = 4096;
const cell kFill = 0x5A5A5A5A;

enum Native {
  kLoad,
  kSave,
  kClose,
  kAdd,
  kAddInt,
  kAddFloat,
  kGet,
  kGetInt,
  kGetFloat,
  kGetIndex,
  kInc,
  kDec,
  kDel,
  kGetKey,
  kExists,
  kCount,
  kNatives,
  kRestart = kNatives  // not a native: the server goes down and up again
};
const char* const kNames[] = {"HLoad", "HSave",   "HClose",    "HAdd",      "HAddInt", "HAddFloat",
                              "HGet",  "HGetInt", "HGetFloat", "HGetIndex", "HInc",    "HDec",
                              "HDel",  "HGetKey", "HExists",   "HCount"};
const int kReads[] = {2, 1, 1, 3, 3, 3, 3, 2, 3, 3, 2, 2, 2, 3, 2, 1};  // arguments each reads

bool WritesText(int native) { return native == kGet || native == kGetIndex || native == kGetKey; }

// Input, one byte per choice unless said otherwise (corpus/README.md):
//   stack cells, then per call: native, name, its other arguments in order,
//   the argument count, and for a sized destination its size or for HLoad
//   with 3 arguments or more its journal flag. A string
//   argument is a choice byte, then an encoding byte (bit 0: packed; bits
//   1-4 all set: an address the host refuses).
std::string Alnum(ByteReader& in, size_t most) {
  std::string text = in.Text(most);
  for (char& c : text) c = "abcdefghijklmnopqrstuvwxyz0123456789"[uint8_t(c) % 36];
  return text.empty() ? "x" : text;
}

std::string PoolName(ByteReader& in) {
  switch (in.Pick(8)) {
    case 0:
    case 1:
    case 2:
      return "p";
    case 3:
      return "q";
    case 4:
      return "";
    case 5:
      return std::string(130, 'n');  // longer than a pool keeps as its name
    case 6:
      return "p\xE9";
    default:
      return in.Text(12);
  }
}

std::string Key(ByteReader& in) {
  switch (in.Pick(8)) {
    case 0:
      return "k";
    case 1:
      return "a";
    case 2:
      return "02";  // shares a's bucket
    case 3:
      return "";
    case 4:
      return "n" + std::to_string(in.Byte());
    default:
      return in.Text(160);
  }
}

std::string Value(ByteReader& in) {
  switch (in.Pick(4)) {
    case 0:
      return std::to_string(in.U32());
    case 1:
      return std::string(in.Byte() % 141, '7');
    default:
      return in.Text(200);
  }
}

std::string FileName(ByteReader& in) {
  switch (in.Pick(10)) {
    case 0:
      return "a.txt";
    case 1:
      return "scriptfiles/a.txt";  // the same file
    case 2:
      return "b.txt";
    case 3:
      return "../a.txt";
    case 4:
      return "x/../a.txt";
    case 5:
      return "nodir/c.txt";
    case 6:
      return "";  // scriptfiles/ itself, a directory
    case 7:
      return "scriptfiles";
    case 8:
      return "a.txt.journal";  // the plugin's own
    default:
      return Alnum(in, 8);
  }
}

cell Number(ByteReader& in) {
  static const cell kSpecial[] = {INT32_MIN, INT32_MAX, -1, 0, 193, 2147483647};
  switch (in.Pick(4)) {
    case 0:
      return cell(in.Byte() % 44) - 3;
    case 1:
      return kSpecial[in.Pick(6)];
    default:
      return cell(in.U32());
  }
}

class Session {
 public:
  explicit Session(ByteReader& in)
      : m_in(in), m_plugin(std::make_unique<LinkedPlugin>()), m_script(kCells) {
    FUZZ_CHECK(m_plugin->AmxLoad(m_script.amx()) == 0, "AmxLoad");
    m_stackCells = size_t(in.Pick(65));
  }

  void Finish() {
    CheckPools("the last call");
    CheckFiles();
  }

  void Step() {
    tagAMX& amx = *m_script.amx();
    amx.data.assign(kCells, kFill);
    amx.hea = 0;
    amx.stk = amx.stp;
    if (m_stackCells) m_script.StackArray(m_stackCells, kFill);

    const Native native = Native(m_in.Pick(kNatives + 1));
    if (native == kRestart) return Restart();
    const std::string name = PoolName(m_in);
    std::vector<cell> args(4, 0);
    std::vector<std::string> texts(4);
    args[0] = Text(name, texts[0]);
    switch (native) {
      case kLoad:
        args[1] = Text(FileName(m_in), texts[1]);
        break;
      case kAdd:
        args[2] = Text(Value(m_in), texts[2]);
        [[fallthrough]];
      case kExists:
      case kGet:
      case kGetInt:
      case kGetFloat:
      case kInc:
      case kDec:
      case kDel:
        args[1] = Text(Key(m_in), texts[1]);
        break;
      case kAddInt:
      case kAddFloat:
        args[1] = Text(Key(m_in), texts[1]);
        args[2] = Number(m_in);
        break;
      case kGetIndex:
      case kGetKey:
        args[1] = Number(m_in);
        break;
      default:
        break;
    }
    if (native == kInc || native == kDec) args[2] = Number(m_in);
    if (WritesText(native) || native == kGetFloat) args[2] = Destination();
    // Below 128: as many arguments as it reads (HInc and HDec with an
    // amount; from 64 on, a destination with its size, HLoad with its flag).
    static const cell kCounts[] = {0, 4, 8, 12, 16, 7, 11, -4, INT32_MIN};
    const uint8_t count = m_in.Byte();
    const bool step = native == kInc || native == kDec;
    const bool more = count >= 64 && count < 128 && (WritesText(native) || native == kLoad);
    const cell byteCount =
        count < 128 ? cell(4 * (kReads[native] + (step || more ? 1 : 0))) : kCounts[count % 9];
    if (WritesText(native) && (more || count >= 128)) args[3] = Size();
    if (native == kLoad && byteCount >= 12) args[2] = m_in.Pick(2);
    Check(native, byteCount, args, texts);
  }

 private:
  // A string argument: usually a text on the heap, packed or not; sometimes an
  // address the host refuses, which reads as "".
  cell Text(const std::string& text, std::string& seen) {
    const uint8_t encoding = m_in.Byte();
    if ((encoding & 0x1E) == 0x1E) {
      static const cell kRefused[] = {-4, cell(kCells * 4 - 4), cell(0x7FFFFFFC)};
      seen.clear();
      return kRefused[(encoding >> 5) % 3];
    }
    seen = text.substr(0, std::strlen(text.c_str()));
    // Bytes after a zero stay in unpacked cells, as in a reused array; a packed
    // string ends at its first zero byte, as the compiler packs it.
    const bool packed = encoding & 1;
    return m_script.Str(packed ? seen : text, packed);
  }

  // The kind byte's higher bits put an edge destination 0 to 3 bytes short
  // of a whole cell.
  cell Destination() {
    tagAMX& amx = *m_script.amx();
    const uint8_t kindByte = m_in.Byte();
    const int kind = kindByte % 6;
    const cell shift = kindByte / 6 % 4;
    const cell room = 1 + m_in.Pick(12);
    switch (kind) {
      case 0:
        return m_script.Array(512, kFill);
      case 1:
        m_script.Array(size_t(room), kFill);
        return amx.hea - 4 * room + shift;
      case 2:
        return m_stackCells ? amx.stp - 4 * std::min<cell>(room, cell(m_stackCells)) + shift
                            : amx.stp;
      case 3:
        return 0;  // over the first string
      case 4:
        return amx.hea;  // the first cell nobody owns, unless the stack starts there
      default: {
        const cell refused[] = {-4,        amx.stp,         amx.stp + 40, cell(0x7FFFFFFC),
                                INT32_MIN, cell(kCells * 8)};
        return refused[room % 6];
      }
    }
  }

  cell Size() {
    switch (m_in.Pick(4)) {
      case 0:
        return cell(m_in.Byte() % 16) - 2;  // 0 and less write nothing
      case 1:
        return INT32_MAX;
      default:
        return cell(m_in.Byte());
    }
  }

  // Byte addresses the host lets the plugin address.
  bool Addressable(int64_t a) {
    const tagAMX& amx = *m_script.amx();
    return (a >= 0 && a < amx.hea) || (a >= amx.stk && a < amx.stp);
  }

  static void Store(std::vector<cell>& memory, int64_t address, cell value) {
    std::memcpy(reinterpret_cast<char*>(memory.data()) + address, &value, sizeof value);
  }

  // Where the text and its zero cell land. Sized: at most `size` cells, none
  // for 0 or less, all of them when both ends of the destination are
  // addressable. Otherwise cut to end at the last cell whose last byte is
  // addressable; nowhere when the first byte is not.
  void ExpectText(std::vector<cell>& memory, cell dest, const std::string& text, bool sized,
                  int64_t size) {
    if (!Addressable(dest) || (sized && size <= 0)) return;
    size_t cells = text.size() + 1;
    if (sized) cells = std::min(cells, size_t(size));
    const bool whole = sized && Addressable(int64_t(dest) + 4 * size - 1);
    size_t room = 0;
    while (room < cells && (whole || Addressable(int64_t(dest) + 4 * int64_t(room) + 3))) ++room;
    for (size_t i = 0; i < room; ++i) {
      Store(memory, int64_t(dest) + 4 * int64_t(i), i + 1 < room ? cell(uint8_t(text[i])) : 0);
    }
  }

  void Check(Native native, cell byteCount, const std::vector<cell>& args,
             const std::vector<std::string>& texts) {
    tagAMX& amx = *m_script.amx();
    std::vector<cell> expectedMemory = amx.data;
    const int32_t given = byteCount / cell(sizeof(cell));
    cell expected = native == kCount && given >= 1 ? -1 : 0;
    ModelPool* pool = m_model.Find(texts[0]);
    if (given >= kReads[native] && (pool || native == kLoad)) {
      expected = Model(native, given, args, texts, expectedMemory);
    }

    std::vector<cell> params{byteCount};
    params.insert(params.end(), args.begin(), args.end());
    const cell result = amx.natives.at(kNames[native])(&amx, params.data());
    if (std::getenv("PAIRVAULT_FUZZ_TRACE")) {
      std::fprintf(stderr, "%s/%d (\"%s\", \"%s\", \"%s\" | %d %d %d) = %d, expected %d\n",
                   kNames[native], byteCount, texts[0].c_str(), texts[1].c_str(), texts[2].c_str(),
                   args[1], args[2], args[3], result, expected);
    }

    FUZZ_CHECK(result == expected, "%s returned %d, expected %d", kNames[native], result, expected);
    FUZZ_CHECK(amx.violations.empty(), "%s: %s", kNames[native], amx.violations[0].c_str());
    if (amx.data != expectedMemory) {  // compared whole first: cell by cell is slow here
      for (size_t i = 0; i < amx.data.size(); ++i) {
        FUZZ_CHECK(amx.data[i] == expectedMemory[i], "%s: cell %zu is %d, expected %d",
                   kNames[native], i * 4, amx.data[i], expectedMemory[i]);
      }
    }
    CheckPools(kNames[native], &texts[0]);
    if ((native == kSave && result == 1) || native == kLoad || native == kClose) CheckFiles();
    if (native == kLoad && result == 1) {
      CheckPromise(texts[0], !pool && given >= 3 && args[2] != 0);
    }
  }

  // What a restart must give back, whatever the model says: a journaled pool
  // reloaded onto the file it last read or wrote holds what a save at its
  // last change would have written, plus texts a file cannot hold that it
  // had then.
  struct Promise {
    std::string file;  // as the model's pools keep a version
    std::map<std::string, std::string> entries;
  };

  std::string FileNow(const std::string& path) const {
    const auto file = m_model.files.find(path);
    return file == m_model.files.end() ? "\n" : file->second;
  }

  void Remember(const ModelPool& pool) {
    if (pool.journal.empty() || FileNow(pool.path) != pool.version) return;
    Promise& p = m_promises[pool.path];
    p.file = pool.version;
    for (const auto& r : pool.table.Ordered()) {
      if (!r.second.empty()) p.entries.insert(r);
    }
  }

  // At the first load of the file since the restart; only a pool that it
  // opened, journaled, holds nothing but what the restart gave it.
  void CheckPromise(const std::string& name, bool fresh) {
    const ModelPool& model = *m_model.Find(name);
    const auto it = m_promises.find(model.path);
    if (it == m_promises.end()) return;
    const Promise p = it->second;
    m_promises.erase(it);
    if (!fresh || FileNow(model.path) != p.file) return;  // saved since: the file counts
    const CHashPool* pool = CHashPoolManager::Find(name.c_str());
    std::map<std::string, std::string> got;
    for (auto* e = pool->Table().first(); e; e = pool->Table().next(e)) {
      got.emplace(std::string(e->key(), e->keyLen), e->value.c_str());
    }
    for (const auto& r : p.entries) {
      const auto g = got.find(r.first);
      FUZZ_CHECK(!reference::Writable(r) || (g != got.end() && g->second == r.second),
                 "restart lost \"%s\" of \"%s\"", r.first.c_str(), name.c_str());
    }
    for (const auto& r : got) {
      const auto want = p.entries.find(r.first);
      FUZZ_CHECK(want != p.entries.end() && want->second == r.second,
                 "restart brought back \"%s\" of \"%s\", which it did not hold", r.first.c_str(),
                 name.c_str());
    }
  }

  // As a crash and a restart of the server leave things: the pools are gone,
  // their files and journals stay, and the script registers the natives anew.
  void Restart() {
    m_plugin.reset();
    m_plugin = std::make_unique<LinkedPlugin>();
    m_script.amx()->natives.clear();
    FUZZ_CHECK(m_plugin->AmxLoad(m_script.amx()) == 0, "AmxLoad");
    m_promises.clear();
    for (const auto& named : m_model.pools) Remember(named.second);
    m_model.pools.clear();
    if (std::getenv("PAIRVAULT_FUZZ_TRACE")) std::fprintf(stderr, "restart\n");
    CheckPools("restart");
    CheckFiles();
  }

  cell Model(Native native, int32_t given, const std::vector<cell>& args,
             const std::vector<std::string>& texts, std::vector<cell>& memory) {
    ModelPool* pool = m_model.Find(texts[0]);
    ReferenceTable* table = pool ? &pool->table : nullptr;
    const std::string& key = texts[1];
    switch (native) {
      case kLoad:
        return m_model.Load(texts[0], texts[1], given >= 3 && args[2] != 0) ? 1 : 0;
      case kSave:
        return m_model.Save(*pool) ? 1 : 0;
      case kClose:
        m_model.journals.erase(pool->journal);
        m_model.pools.erase(texts[0]);
        return 1;
      case kAdd:
      case kAddInt:
      case kAddFloat: {
        float f;
        std::memcpy(&f, &args[2], sizeof f);
        const std::string value = native == kAdd      ? texts[2]
                                  : native == kAddInt ? std::to_string(args[2])
                                                      : NativesModel::FloatText(f);
        table->Access(key) = value;
        m_model.Record(*pool, key, value);
        return 1;
      }
      case kGet:
        ExpectText(memory, args[2], table->Access(key), given > 3, args[3]);
        return 1;
      case kGetInt:
        return NativesModel::ReadInt(table->Access(key));
      case kGetFloat: {
        const float f = float(std::strtod(table->Access(key).c_str(), nullptr));
        cell bits;
        std::memcpy(&bits, &f, sizeof bits);
        if (Addressable(args[2]) && Addressable(int64_t(args[2]) + 3)) Store(memory, args[2], bits);
        return 1;
      }
      case kGetIndex:
      case kGetKey: {
        const auto ordered = table->Ordered();
        const uint32_t index = uint32_t(args[1]);
        const auto& entry = index < ordered.size() ? ordered[index] : ReferenceTable::Record();
        ExpectText(memory, args[2], native == kGetKey ? entry.first : entry.second, given > 3,
                   args[3]);
        return 1;
      }
      case kExists:
        return table->Has(key) ? 1 : 0;
      case kCount:
        return cell(table->size());
      case kInc:
      case kDec: {
        const uint32_t amount = given == 3 ? uint32_t(args[2]) : 1u;
        const int64_t step = native == kInc ? int64_t(amount) : -int64_t(int32_t(amount));
        std::string value;
        if (!NativesModel::Count(*table, key, step, &value)) return 0;
        m_model.Record(*pool, key, value);
        return 1;
      }
      case kDel:
        if (table->Has(key)) m_model.Record(*pool, key, "");
        table->Erase(key);
        return 1;
      default:
        return 0;
    }
  }

  // The pool under the name, or every pool, against the model.
  void CheckPools(const char* after, const std::string* only = nullptr) {
    FUZZ_CHECK(CHashPoolManager::m_uiHashes == m_model.pools.size(),
               "%s: %u pools open, %zu expected", after, CHashPoolManager::m_uiHashes,
               m_model.pools.size());
    FUZZ_CHECK(CHashPoolManager::m_pHashes.size() == m_model.pools.size(),
               "%s: %u names registered, %zu pools open", after, CHashPoolManager::m_pHashes.size(),
               m_model.pools.size());
    for (auto& named : m_model.pools) {
      if (only && named.first != *only) continue;
      CHashPool* pool = CHashPoolManager::Find(named.first.c_str());
      FUZZ_CHECK(pool, "%s: pool \"%s\" is missing", after, named.first.c_str());
      std::vector<ReferenceTable::Record> entries;
      for (auto* e = pool->Table().first(); e; e = pool->Table().next(e)) {
        entries.emplace_back(std::string(e->key(), e->keyLen), e->value.c_str());
      }
      FUZZ_CHECK(entries == named.second.table.Ordered(), "%s: entries of \"%s\" differ", after,
                 named.first.c_str());
      FUZZ_CHECK(pool->Table().bucket_count() == named.second.table.bucket_count(),
                 "%s: bucket count", after);
      FUZZ_CHECK(named.second.path == pool->FileName(), "%s: bound \"%s\", expected \"%s\"", after,
                 pool->FileName(), named.second.path.c_str());
      const std::string& journal = named.second.journal;
      const char* held = pool->GetJournal() ? pool->GetJournal()->Path() : "";
      FUZZ_CHECK(journal == held, "%s: \"%s\" journaled to \"%s\", expected \"%s\"", after,
                 named.first.c_str(), held, journal.c_str());
      if (!journal.empty()) CheckJournal(after, journal);
    }
  }

  // A journal's bytes need no comparing, as what a load replays from them is
  // checked; its length shows a stray record that a replay would hide.
  void CheckJournal(const char* after, const std::string& path) {
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(path, error);
    FUZZ_CHECK(size == m_model.JournalSize(path), "%s: %s has %jd bytes, expected %zu", after,
               path.c_str(), intmax_t(size), m_model.JournalSize(path));
  }

  void CheckFiles() {
    for (const auto& file : m_model.files) {
      std::string bytes;
      FUZZ_CHECK(ReadFile(file.first, bytes) && bytes == file.second, "%s differs",
                 file.first.c_str());
    }
    for (const auto& journal : m_model.journals) CheckJournal("files", journal.first);
    const auto& aside = m_model.aside;
    size_t onDisk = 0;
    for (const auto& entry : std::filesystem::directory_iterator("scriptfiles")) {
      ++onDisk;
      const std::string path = "scriptfiles/" + entry.path().filename().string();
      FUZZ_CHECK(m_model.files.count(path) || m_model.journals.count(path) ||
                     std::count(aside.begin(), aside.end(), path),
                 "unexpected file %s", entry.path().c_str());
    }
    FUZZ_CHECK(onDisk == m_model.files.size() + m_model.journals.size() + aside.size(),
               "files on disk");
  }

  ByteReader& m_in;
  std::unique_ptr<LinkedPlugin> m_plugin;
  Script m_script;
  NativesModel m_model;
  std::map<std::string, Promise> m_promises;  // by pool file
  size_t m_stackCells = 0;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  EnterFuzzDirectory();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::filesystem::remove_all("scriptfiles");
  std::filesystem::create_directory("scriptfiles");
  ByteReader in(data, size);
  Session session(in);
  for (int calls = 0; calls < 200 && !in.empty(); ++calls) session.Step();
  session.Finish();
  return 0;
}
