// A small filter library for testing hosts: it exports the three entry points
// of the filter interface and behaves in ways a test can observe over HTTP.
//
// GetFilterVersion reads "sh_Sentrel.ini" in the current directory (lines
// "Record=<file>", "Fail=1", "Flags=<hex>"); without that file it refuses to
// load. Every notification is appended to the record file. URL-mapping
// notifications:
//   User-Agent containing "bot"  -> "403 Forbidden" and a short page
//   /_vars?NAME,NAME...          -> "NAME=value" lines ("NAME!missing")
//   /_contract                   -> results of GetServerVariable's buffer contract
//   /_teapot                     -> "418 I'm a teapot", two headers, two writes
//   /_empty                      -> "404 Object Not Found" without a body
//   /_error                      -> SF_STATUS_REQ_ERROR
//   /_throw                      -> a C++ exception escapes HttpFilterProc
//   /_conn                       -> requests seen on this connection so far
//   /_slow?MS                    -> passes on after MS milliseconds
//   /_stats                      -> counts of notifications
// Built a second time without HttpFilterProc, to test a missing export.
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "filter/core/isapi.h"

namespace {

std::mutex recordLock;
std::string recordPath;
std::atomic<int> sessionEnds{0};
std::atomic<int> urlMaps{0};
std::atomic<int> preprocs{0};
std::atomic<bool> cwdRecorded{false};

void Record(const std::string& line) {
  std::lock_guard<std::mutex> guard(recordLock);
  if (recordPath.empty()) return;
  if (FILE* f = std::fopen(recordPath.c_str(), "a")) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
}

std::string CurrentDirectory() {
  char buffer[4096];
  return ::getcwd(buffer, sizeof buffer) != nullptr ? buffer : "?";
}

// Reads a variable through a buffer of `capacity` bytes. Returns false when
// the call failed; `needed` receives what the host reported in the size.
bool ReadVariable(HTTP_FILTER_CONTEXT* pfc, const char* name, std::string& value,
                  DWORD capacity = 1024, DWORD* needed = nullptr) {
  std::vector<char> buffer(capacity + 1, '\0');
  DWORD size = capacity;
  BOOL ok = pfc->GetServerVariable(pfc, const_cast<char*>(name), buffer.data(), &size);
  if (needed != nullptr) *needed = size;
  if (!ok) return false;
  value.assign(buffer.data());
  return true;
}

std::string Variable(HTTP_FILTER_CONTEXT* pfc, const char* name) {
  std::string value;
  return ReadVariable(pfc, name, value) ? value : std::string();
}

[[maybe_unused]] DWORD Answer(HTTP_FILTER_CONTEXT* pfc, const char* status, const char* headers,
             const std::string& body) {
  pfc->ServerSupportFunction(pfc, SF_REQ_SEND_RESPONSE_HEADER, const_cast<char*>(status),
                             reinterpret_cast<ULONG_PTR>(headers), 0);
  if (!body.empty()) {
    DWORD bytes = static_cast<DWORD>(body.size());
    pfc->WriteClient(pfc, const_cast<char*>(body.data()), &bytes, 0);
  }
  return SF_STATUS_REQ_FINISHED;
}

[[maybe_unused]] std::string EchoVariables(HTTP_FILTER_CONTEXT* pfc, const std::string& query) {
  std::ostringstream out;
  std::stringstream names(query);
  std::string name;
  while (std::getline(names, name, ',')) {
    if (name.empty()) continue;
    std::string value;
    DWORD needed = 0;
    if (ReadVariable(pfc, name.c_str(), value, 1024, &needed)) {
      out << name << "=" << value << "\n";
    } else {
      out << name << "!missing size=" << needed << "\n";
    }
  }
  return out.str();
}

[[maybe_unused]] std::string CheckContract(HTTP_FILTER_CONTEXT* pfc) {
  std::ostringstream out;
  std::string url = Variable(pfc, "URL");
  const DWORD needed = static_cast<DWORD>(url.size() + 1);

  DWORD size = 0;
  BOOL ok = pfc->GetServerVariable(pfc, const_cast<char*>("URL"), nullptr, &size);
  out << "null-buffer=" << ((!ok && size == needed) ? "ok" : "bad") << "\n";

  std::vector<char> buffer(needed + 8, '#');
  size = needed - 1;
  ok = pfc->GetServerVariable(pfc, const_cast<char*>("URL"), buffer.data(), &size);
  bool untouched = buffer[0] == '#';
  out << "one-short=" << ((!ok && size == needed && untouched) ? "ok" : "bad") << "\n";

  size = needed;
  ok = pfc->GetServerVariable(pfc, const_cast<char*>("URL"), buffer.data(), &size);
  out << "exact=" << ((ok && size == needed && url == buffer.data()) ? "ok" : "bad") << "\n";

  size = 64;
  ok = pfc->GetServerVariable(pfc, const_cast<char*>("NO_SUCH_VARIABLE"), buffer.data(), &size);
  out << "unknown=" << (!ok ? "ok" : "bad") << "\n";

  std::vector<char> large(1024);
  size = 1024;
  ok = pfc->GetServerVariable(pfc, const_cast<char*>("http_user_agent"), large.data(), &size);
  out << "lower-case-name=" << (ok ? "ok" : "bad") << "\n";

  std::string value;
  DWORD reported = 0;
  ok = ReadVariable(pfc, "HTTP_X_LONG", value, 1024, &reported) ? TRUE : FALSE;
  out << "long=" << (ok ? "fits" : "too-big") << " needed=" << reported << "\n";
  return out.str();
}

}  // namespace

SENTREL_EXPORT BOOL SENTREL_WINAPI GetFilterVersion(HTTP_FILTER_VERSION* version) {
  std::ifstream bootstrap("sh_Sentrel.ini");
  if (!bootstrap) return FALSE;
  std::string line;
  bool fail = false;
  DWORD flags = SF_NOTIFY_ORDER_MEDIUM | SF_NOTIFY_PREPROC_HEADERS | SF_NOTIFY_URL_MAP |
                SF_NOTIFY_END_OF_NET_SESSION;
  while (std::getline(bootstrap, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("Record=", 0) == 0) {
      std::lock_guard<std::mutex> guard(recordLock);
      recordPath = line.substr(7);
    } else if (line == "Fail=1") {
      fail = true;
    } else if (line.rfind("Flags=", 0) == 0) {
      flags = static_cast<DWORD>(std::stoul(line.substr(6), nullptr, 16));
    }
  }
  Record("version cwd=" + CurrentDirectory());
  if (fail) {
    Record("refused");
    return FALSE;
  }
  version->dwFilterVersion = 0x00070000;
  std::snprintf(version->lpszFilterDesc, SF_MAX_FILTER_DESC_LEN, "%s", "Fake test filter");
  version->dwFlags = flags;
  return TRUE;
}

#ifndef FAKE_FILTER_WITHOUT_PROC
SENTREL_EXPORT DWORD SENTREL_WINAPI HttpFilterProc(HTTP_FILTER_CONTEXT* pfc, DWORD type, LPVOID) {
  if (type == SF_NOTIFY_END_OF_NET_SESSION) {
    int count = ++sessionEnds;
    Record("session-end " + std::to_string(count) + " " + Variable(pfc, "REMOTE_ADDR") +
           " url-available=" + (Variable(pfc, "URL").empty() ? "no" : "yes"));
    return SF_STATUS_REQ_NEXT_NOTIFICATION;
  }
  const std::string url = Variable(pfc, "URL");
  if (type == SF_NOTIFY_PREPROC_HEADERS) {
    ++preprocs;
    Record("preproc " + url);
    return SF_STATUS_REQ_NEXT_NOTIFICATION;
  }
  if (type != SF_NOTIFY_URL_MAP) return SF_STATUS_REQ_NEXT_NOTIFICATION;

  ++urlMaps;
  if (!cwdRecorded.exchange(true)) Record("request cwd=" + CurrentDirectory());
  Record("urlmap " + url + " " + Variable(pfc, "REMOTE_ADDR"));

  // Requests seen on this connection, kept through the filter's own context.
  if (pfc->pFilterContext == nullptr) {
    pfc->pFilterContext = pfc->AllocMem(pfc, sizeof(int), 0);
    if (pfc->pFilterContext != nullptr) *static_cast<int*>(pfc->pFilterContext) = 0;
  }
  int onConnection = 0;
  if (pfc->pFilterContext != nullptr) onConnection = ++*static_cast<int*>(pfc->pFilterContext);

  std::string agent = Variable(pfc, "HTTP_USER_AGENT");
  for (char& c : agent) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (agent.find("bot") != std::string::npos) {
    return Answer(pfc, "403 Forbidden", nullptr, "<html>blocked by the fake filter</html>\n");
  }
  const char* text = "Content-Type: text/plain\r\n";
  if (url == "/_vars") return Answer(pfc, "200 OK", text, EchoVariables(pfc, Variable(pfc, "QUERY_STRING")));
  if (url == "/_contract") return Answer(pfc, "200 OK", text, CheckContract(pfc));
  if (url == "/_teapot") {
    pfc->ServerSupportFunction(pfc, SF_REQ_SEND_RESPONSE_HEADER, const_cast<char*>("418 I'm a teapot"),
                               reinterpret_cast<ULONG_PTR>("Content-Type: text/plain\r\nX-Fake: yes\r\n\r\n"), 0);
    for (const char* part : {"short ", "and stout\n"}) {
      DWORD bytes = static_cast<DWORD>(std::strlen(part));
      pfc->WriteClient(pfc, const_cast<char*>(part), &bytes, 0);
    }
    return SF_STATUS_REQ_FINISHED;
  }
  if (url == "/_empty") return Answer(pfc, "404 Object Not Found", nullptr, "");
  if (url == "/_error") return SF_STATUS_REQ_ERROR;
  if (url == "/_slow") {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(Variable(pfc, "QUERY_STRING").c_str())));
    return SF_STATUS_REQ_NEXT_NOTIFICATION;
  }
  if (url == "/_throw") throw std::runtime_error("fake filter fault");
  if (url == "/_conn") {
    return Answer(pfc, "200 OK", text, "requests-on-connection=" + std::to_string(onConnection) + "\n");
  }
  if (url == "/_stats") {
    return Answer(pfc, "200 OK", text,
                  "session-ends=" + std::to_string(sessionEnds.load()) + "\nurl-maps=" +
                      std::to_string(urlMaps.load()) + "\npreprocs=" + std::to_string(preprocs.load()) + "\n");
  }
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}
#endif

SENTREL_EXPORT BOOL SENTREL_WINAPI TerminateExtension(DWORD) {
  Record("terminate");
  return TRUE;
}
