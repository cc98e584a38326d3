#include "hosts/common/native_library.h"

#include <windows.h>

namespace sentrel::hosts {

namespace {

std::string LastErrorText() {
  const DWORD code = ::GetLastError();
  char text[512] = {};
  DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  code, 0, text, sizeof(text), nullptr);
  while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n')) text[--length] = '\0';
  return length > 0 ? std::string(text, length) : "error " + std::to_string(code);
}

}  // namespace

void* OpenNativeLibrary(const std::string& path, std::string& error) {
  HMODULE module = ::LoadLibraryA(path.c_str());
  if (module == nullptr) error = LastErrorText();
  return reinterpret_cast<void*>(module);
}

void* NativeSymbol(void* handle, const char* name) {
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(handle), name));
}

void CloseNativeLibrary(void* handle) { ::FreeLibrary(static_cast<HMODULE>(handle)); }

CurrentFolder::CurrentFolder() {
  char path[MAX_PATH + 1] = {};
  DWORD length = ::GetCurrentDirectoryA(sizeof(path), path);
  if (length > 0 && length < sizeof(path)) remembered_.assign(path, length);
}

CurrentFolder::~CurrentFolder() = default;

bool CurrentFolder::Enter(const std::string& folder, std::string& error) {
  if (remembered_.empty()) {
    error = "cannot remember the current directory: " + LastErrorText();
    return false;
  }
  if (!::SetCurrentDirectoryA(folder.c_str())) {
    error = "cannot enter the bootstrap folder " + folder + ": " + LastErrorText();
    return false;
  }
  return true;
}

bool CurrentFolder::Restore() const {
  return !remembered_.empty() && ::SetCurrentDirectoryA(remembered_.c_str());
}

}  // namespace sentrel::hosts
