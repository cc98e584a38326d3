// Sentrel.dll as the web server sees it: loaded with LoadLibraryA, its three
// entry points found by name with GetProcAddress and called through the test
// host. The library runs on the system clock; the test moves that clock by
// pointing the library's import of the C runtime's time routine at a clock
// of its own, so that the start-up stages fall due without waiting.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <set>
#include <string>

#include "filter/logging/program_messages.h"
#include "hosts/common/filter_library.h"
#include "hosts/testhost/test_host.h"
#include "tests/support/filter_under_test.h"
#include "platform/win32/windows_api.h"

namespace sentrel {
namespace {

const unsigned char* ImageBase(HMODULE module) { return reinterpret_cast<const unsigned char*>(module); }

const IMAGE_DATA_DIRECTORY& Directory(HMODULE module, int entry) {
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(ImageBase(module) + dos->e_lfanew);
  return nt->OptionalHeader.DataDirectory[entry];
}

// The names in the library's export directory, and how many entry points it
// exports in all (by name or by ordinal only).
struct Exports {
  std::set<std::string> names;
  DWORD functions = 0;
};

Exports ExportsOf(HMODULE module) {
  Exports result;
  const IMAGE_DATA_DIRECTORY& dir = Directory(module, IMAGE_DIRECTORY_ENTRY_EXPORT);
  if (dir.VirtualAddress == 0) return result;
  const auto* exports =
      reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(ImageBase(module) + dir.VirtualAddress);
  const auto* names = reinterpret_cast<const DWORD*>(ImageBase(module) + exports->AddressOfNames);
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
    result.names.insert(reinterpret_cast<const char*>(ImageBase(module) + names[i]));
  }
  result.functions = exports->NumberOfFunctions;
  return result;
}

// Points the library's import of `function` from `dll` at `replacement`.
bool RedirectImport(HMODULE module, const char* dll, const char* function, void* replacement) {
  const IMAGE_DATA_DIRECTORY& dir = Directory(module, IMAGE_DIRECTORY_ENTRY_IMPORT);
  auto* base = const_cast<unsigned char*>(ImageBase(module));
  for (auto* import = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
       import->Name != 0; ++import) {
    if (_stricmp(reinterpret_cast<const char*>(base + import->Name), dll) != 0) continue;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA64*>(base + import->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA64*>(base + import->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL64(names->u1.Ordinal)) continue;
      const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
      DWORD protection = 0;
      if (!::VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection)) {
        return false;
      }
      slots->u1.Function = reinterpret_cast<ULONGLONG>(replacement);
      ::VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
      return true;
    }
  }
  return false;
}

// The clock the library reads once its time import is redirected.
std::atomic<long long> gLibraryNow{1700000000};

__time64_t __cdecl LibraryTime(__time64_t* out) {
  const __time64_t now = gLibraryNow.load();
  if (out != nullptr) *out = now;
  return now;
}

class LoadedLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(filter_.Open(SENTREL_LIBRARY_PATH, error)) << error;
    library_ = static_cast<HMODULE>(filter_.NativeHandle());
  }
  void TearDown() override {
    filter_.Terminate();
    filter_.Close();
  }
  template <typename T>
  T Entry(const char* name) {
    return reinterpret_cast<T>(reinterpret_cast<void*>(::GetProcAddress(library_, name)));
  }

  hosts::FilterLibrary filter_;
  HMODULE library_ = nullptr;
};

TEST_F(LoadedLibrary, ExportsExactlyTheThreeEntryPointsByName) {
  const Exports exports = ExportsOf(library_);
  EXPECT_EQ(exports.names,
            (std::set<std::string>{"GetFilterVersion", "HttpFilterProc", "TerminateExtension"}));
  EXPECT_EQ(exports.functions, 3u);
  // Undecorated names: no leading underscore, no "@bytes" suffix.
  EXPECT_NE(Entry<FARPROC>("GetFilterVersion"), nullptr);
  EXPECT_EQ(Entry<FARPROC>("_GetFilterVersion@4"), nullptr);
  EXPECT_EQ(Entry<FARPROC>("GetFilterVersion@4"), nullptr);
}

std::string Find(const test::SettingsFolder& folder, const std::string& relativeFolder,
                 const std::string& prefix) {
  for (const std::string& name : folder.List(relativeFolder)) {
    if (name.rfind(prefix, 0) == 0) return folder.Read(relativeFolder + "/" + name);
  }
  return {};
}

TEST_F(LoadedLibrary, BotIsBlockedAtItsThirdRequest) {
  test::SettingsFolder folder;
  folder.Write("Config.ini", "[Config]\r\nLogMin=1\r\nCacheMin=1\r\nDateline=3600\r\n");
  folder.Write("Return.html", "<h1>Blocked</h1>\r\n");
  test::ModuleText bot = test::AgentModule("Bot", "0", "3");
  folder.AddModule("bot.ini", bot);

  ASSERT_TRUE(RedirectImport(library_, "msvcrt.dll", "_time64", reinterpret_cast<void*>(&LibraryTime)));
  // The bootstrap file is ".\sh_Sentrel.ini" in the folder made current.
  std::string error;
  ASSERT_TRUE(filter_.Start(folder.Folder().Path(), error)) << error;
  const HTTP_FILTER_VERSION& version = filter_.Version();
  EXPECT_STREQ(version.lpszFilterDesc, "Tarnwick ISAPI filter, Version 4.3");
  EXPECT_EQ(version.dwFilterVersion, 0x00070000u);
  EXPECT_EQ(version.dwFlags, 0x00045100u);
  testhost::TestHost host(filter_);

  auto request = [&](const std::string& address, const std::string& agent,
                     std::string* status = nullptr, std::string* body = nullptr) {
    testhost::TestRequest r({{"REMOTE_ADDR", address}, {"HTTP_USER_AGENT", agent}});
    const DWORD result = host.Request(r);
    if (status != nullptr) *status = r.statusLine;
    if (body != nullptr) *body = r.body;
    return result;
  };

  // Until the start-up has run, requests pass unevaluated.
  for (int i = 0; i < 4; ++i) EXPECT_EQ(request("10.0.0.7", "EvilBot/1.0"), SF_STATUS_REQ_NEXT_NOTIFICATION);
  // The stages fall due more than 3 seconds apart: lists, cache, modules, start.
  for (int stage = 0; stage < 4; ++stage) {
    gLibraryNow += 4;
    EXPECT_EQ(host.EndOfSession(), SF_STATUS_REQ_NEXT_NOTIFICATION);
  }
  const std::string startLog = Find(folder, "Log", "Log_");
  EXPECT_NE(startLog.find(std::string(messages::kStarted) + "\r\n"), std::string::npos) << startLog;

  std::string status, body;
  EXPECT_EQ(request("10.0.0.7", "EvilBot/1.0"), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_EQ(request("10.0.0.7", "EvilBot/1.0"), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_EQ(request("10.0.0.7", "EvilBot/1.0", &status, &body), SF_STATUS_REQ_FINISHED);
  EXPECT_EQ(status, "404 Object Not Found");
  EXPECT_EQ(body, "<h1>Blocked</h1>\n");
  // Held: answered from the state alone, whatever it sends now.
  EXPECT_EQ(request("10.0.0.7", "Mozilla/5.0"), SF_STATUS_REQ_FINISHED);
  // Another client is untouched.
  EXPECT_EQ(request("10.0.0.8", "Mozilla/5.0"), SF_STATUS_REQ_NEXT_NOTIFICATION);
  // The decision is journaled with the hold's end on the library's clock.
  EXPECT_EQ(Find(folder, "Cache", ""), std::to_string(gLibraryNow.load() + 600) + ",0,10.0.0.7\r\n");

  filter_.Terminate();
  const std::string log = Find(folder, "Log", "Log_");
  EXPECT_NE(log.find(messages::kLoaded), std::string::npos);
  EXPECT_NE(log.find(messages::kUnloaded), std::string::npos);
}

}  // namespace
}  // namespace sentrel
