#include "filter/core/filter.h"

#include <cstring>

#include "filter/logging/crash_guard.h"
#include "filter/logging/program_messages.h"
#include "platform/net.h"

namespace sentrel {

Filter::Filter(platform::Clock& clock, std::string bootstrapPath)
    : clock_(clock), bootstrapPath_(std::move(bootstrapPath)), log_(clock) {}

void Filter::ProgramMessage(const std::string& text) {
  log_.WriteLog("Log", text, "", LogMode::Immediate);
}

BOOL Filter::GetFilterVersion(HTTP_FILTER_VERSION* version) {
  if (!ReadFolderPath(bootstrapPath_, settings_.FolderPath)) return FALSE;
  crashDumps_.Configure(settings_.FolderPath, clock_);

  ReadGeneralSettings(settings_);
  log_.Configure(settings_.FolderPath, settings_.LogMin);
  settings_.returnPage = ReadResponsePage(settings_.FolderPath + "Return.html");
  ReadPictureCodeSettings(settings_);
  if (settings_.PictureCodeEnabled()) {
    settings_.codePage = ReadResponsePage(settings_.FolderPath + "Code.html");
  }

  if (version != nullptr) {
    version->dwFilterVersion = kFilterRevision;
    std::strncpy(version->lpszFilterDesc, kFilterDescription, SF_MAX_FILTER_DESC_LEN - 1);
    version->lpszFilterDesc[SF_MAX_FILTER_DESC_LEN - 1] = '\0';
    version->dwFlags = kFilterFlags;
  }

  ScanModuleFolder(settings_.FolderPath + "Action", registry_);
  registry_.OrderScannedPaths();

  if (registry_.modulePaths.empty()) {
    ProgramMessage(messages::kNoModule);
    return FALSE;
  }
  if (registry_.modulePaths.size() > kMaxModuleFiles) {
    ProgramMessage(messages::kTooManyModules);
    return FALSE;
  }
  ProgramMessage(messages::kLoaded);
  startupPending_.store(1, std::memory_order_release);
  lastStageTime_.store(clock_.Now());
  return TRUE;
}

// The whole body runs inside the crash guard: a fault or an exception during
// the notification leaves a crash dump, the locks the interrupted work held are
// released, and the request is passed on.
DWORD Filter::HttpFilterProc(HTTP_FILTER_CONTEXT* context, DWORD notificationType, void*) {
  DWORD status = SF_STATUS_REQ_NEXT_NOTIFICATION;
  auto body = [&] {
    crashDumps_.KeepLocalTimeCurrent();
    status = Dispatch(context, notificationType);
  };
  if (!RunGuarded(crashDumps_, body)) return SF_STATUS_REQ_NEXT_NOTIFICATION;
  return status;
}

DWORD Filter::Dispatch(HTTP_FILTER_CONTEXT* context, DWORD notificationType) {
  switch (notificationType) {
    case SF_NOTIFY_END_OF_NET_SESSION:
      return SF_STATUS_REQ_NEXT_NOTIFICATION;
    case SF_NOTIFY_URL_MAP:
      if (startupPending_.load(std::memory_order_acquire) != 0) {
        return SF_STATUS_REQ_NEXT_NOTIFICATION;
      }
      return HandleUrlMap(context);
    default:
      return SF_STATUS_REQ_NEXT_NOTIFICATION;
  }
}

BOOL Filter::TerminateExtension(DWORD) {
  log_.FlushAll();
  ProgramMessage(messages::kUnloaded);
  return TRUE;
}

DWORD Filter::HandleUrlMap(HTTP_FILTER_CONTEXT* context) {
  char address[32] = {};
  DWORD size = sizeof(address);
  if (!context->GetServerVariable(context, const_cast<char*>("REMOTE_ADDR"), address, &size)) {
    size = sizeof(address);
    if (!context->GetServerVariable(context, const_cast<char*>("REMOTE_ADDR"), address, &size)) {
      return SF_STATUS_REQ_NEXT_NOTIFICATION;
    }
  }
  address[sizeof(address) - 1] = '\0';
  std::uint32_t key = platform::Ntohl(platform::InetAddr(address));
  if (key == 0 || key == 0xFFFFFFFFu) return SF_STATUS_REQ_NEXT_NOTIFICATION;
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}

}  // namespace sentrel
