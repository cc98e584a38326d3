#include "filter/core/filter.h"

#include <cstdio>
#include <cstring>

#include "filter/core/evaluation.h"
#include "filter/core/block_response.h"
#include "filter/core/picture_challenge_flow.h"
#include "filter/crash/crash_guard.h"
#include "filter/logging/program_messages.h"
#include "filter/settings/settings_folder.h"
#include "filter/tracking/address_lists.h"
#include "platform/net.h"

namespace sentrel {

Filter::Filter(platform::Clock& clock, std::string bootstrapPath)
    : clock_(clock),
      bootstrapPath_(std::move(bootstrapPath)),
      log_(clock),
      clients_(clock, startupPending_, registry_.progressTemplate, listed_),
      journal_(clock),
      startup_(clock, log_, startupPending_) {}

BOOL Filter::GetFilterVersion(HTTP_FILTER_VERSION* version) {
  if (!ReadFolderPath(bootstrapPath_, settings_.FolderPath)) return FALSE;
  crashDumps_.Configure(settings_.FolderPath, clock_);

  ReadSettingsFolder(settings_, registry_);
  log_.Configure(settings_.FolderPath, settings_.LogMin);
  journal_.Configure(settings_.FolderPath, settings_.CacheMin);
  clients_.SetMaxClients(settings_.MaxClients);

  if (version != nullptr) {
    version->dwFilterVersion = kFilterRevision;
    std::strncpy(version->lpszFilterDesc, kFilterDescription, SF_MAX_FILTER_DESC_LEN - 1);
    version->lpszFilterDesc[SF_MAX_FILTER_DESC_LEN - 1] = '\0';
    version->dwFlags = kFilterFlags;
  }

  if (registry_.modulePaths.empty()) {
    log_.WriteProgramMessage(messages::kNoModule);
    return FALSE;
  }
  if (registry_.modulePaths.size() > kMaxModuleFiles) {
    log_.WriteProgramMessage(messages::kTooManyModules);
    return FALSE;
  }
  log_.WriteProgramMessage(messages::kLoaded);
  startupPending_.store(1, std::memory_order_release);
  startup_.Arm();
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
      RunStartupStage();
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
  journal_.Flush();
  log_.FlushAll();
  log_.WriteProgramMessage(messages::kUnloaded);
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

  ClientTable::Client tracked = clients_.LookupClient(key);
  if (!tracked) {
    // The table is full of clients it may not give up: pass unchecked.
    if (clients_.TakeFullReport(clock_.Now())) {
      char text[128];
      std::snprintf(text, sizeof(text), messages::kClientLimitFormat, clients_.MaxClients());
      log_.WriteProgramMessage(text);
    }
    return SF_STATUS_REQ_NEXT_NOTIFICATION;
  }
  ClientTally& client = *tracked;
  const std::string addressText(address);
  const std::int64_t now = clock_.Now();
  if (static_cast<std::int64_t>(client.holdUntil.load(std::memory_order_relaxed)) <= now) {
    EvaluateRequest(EvaluationEnv{registry_, settings_, log_, journal_, clock_, patterns_,
                                  decisionObserver_ ? &decisionObserver_ : nullptr},
                    context, addressText, client);
  }

  switch (client.state.load(std::memory_order_relaxed)) {
    case ClientState::Blocked:
      SendBlockResponse(context, settings_);
      return SF_STATUS_REQ_FINISHED;
    case ClientState::PictureCode: {
      if (!settings_.PictureCodeEnabled()) return SF_STATUS_REQ_NEXT_NOTIFICATION;
      const PictureCodeResult result = HandlePictureCode(
          PictureCodeEnv{settings_, PictureCodes(), journal_, clock_}, context, addressText, client);
      if (result == PictureCodeResult::Blocked) {
        SendBlockResponse(context, settings_);
        return SF_STATUS_REQ_FINISHED;
      }
      return result == PictureCodeResult::Answered ? SF_STATUS_REQ_FINISHED
                                                   : SF_STATUS_REQ_NEXT_NOTIFICATION;
    }
    default:
      return SF_STATUS_REQ_NEXT_NOTIFICATION;
  }
}

picturecode::PictureCodeMaker& Filter::PictureCodes() {
  if (picturecode::PictureCodeMaker* ready = pictureCodesReady_.load(std::memory_order_acquire)) {
    return *ready;
  }
  platform::ScopedLock hold(pictureCodesLock_);
  if (!pictureCodes_) {
    pictureCodes_ = std::make_unique<picturecode::PictureCodeMaker>(
        clock_, picturecode::PictureCodeSettings{settings_.Length, settings_.Width, settings_.height});
  }
  pictureCodesReady_.store(pictureCodes_.get(), std::memory_order_release);
  return *pictureCodes_;
}

void Filter::RunStartupStage() {
  startup_.RunStartupStage(Startup::Stages{
      [this] {
        LoadAddressList(settings_.FolderPath, kAllowListFile, ClientState::Allowed, listed_);
        LoadAddressList(settings_.FolderPath, kDenyListFile, ClientState::Blocked, listed_);
      },
      [this] { journal_.LoadCacheFiles(clients_); },
      [this] { return LoadModules(registry_, settings_, &log_); }});
}

}  // namespace sentrel
