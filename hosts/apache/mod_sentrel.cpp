// mod_sentrel: hosts a filter library of the ISAPI filter interface in Apache
// httpd 2.4, the way the filter's native server does.
//
//   SentrelFilter    /path/to/libSentrel.so
//   SentrelBootstrap /path/to/folder/sh_Sentrel.ini
//
// Every child process loads the library, makes the bootstrap file's folder its
// current directory around GetFilterVersion, and then hands the filter:
//   - the preprocessing-headers and URL-mapping notifications of every main
//     request (not of subrequests or internal redirects), right after the
//     request has been read and mod_remoteip has set the client address, so a
//     request the filter answers is never served by anything else;
//   - the end-of-net-session notification when a connection closes;
// and calls TerminateExtension when the child exits. A configuration the
// filter cannot run with is logged once and the server serves unfiltered.
#include <httpd.h>
#include <http_config.h>
#include <http_connection.h>
#include <http_core.h>
#include <http_log.h>
#include <http_main.h>
#include <http_protocol.h>
#include <http_request.h>
#include <http_ssl.h>

#include <apr_strings.h>

#include <sys/stat.h>

#include <atomic>
#include <string>

#include "filter/core/isapi.h"
#include "hosts/apache/filter_context.h"
#include "hosts/common/filter_answers.h"
#include "hosts/common/filter_library.h"

extern ::module sentrel_module __attribute__((visibility("default")));
APLOG_USE_MODULE(sentrel);

namespace sentrel::apache {
namespace {

using hosts::FilterLibrary;

// The filter reads this name in its current directory.
constexpr char kBootstrapName[] = "sh_Sentrel.ini";

struct ServerConfig {
  const char* filterPath = nullptr;
  const char* bootstrapPath = nullptr;
  // Set by the parent when the library could not be opened; children then do
  // not try (and do not log the same error again).
  bool unusable = false;
};

// The filter of this process. One filter instance serves the whole server, as
// on the filter's native server; its tables are per process.
FilterLibrary& ProcessFilter() {
  static FilterLibrary library;
  return library;
}

ServerConfig* ConfigOf(server_rec* s) {
  return static_cast<ServerConfig*>(ap_get_module_config(s->module_config, &sentrel_module));
}

void* CreateServerConfig(apr_pool_t* pool, server_rec*) {
  void* memory = apr_pcalloc(pool, sizeof(ServerConfig));
  return new (memory) ServerConfig();
}

const char* SetFilter(cmd_parms* cmd, void*, const char* arg) {
  if (const char* err = ap_check_cmd_context(cmd, GLOBAL_ONLY)) return err;
  ConfigOf(cmd->server)->filterPath = ap_server_root_relative(cmd->pool, arg);
  return nullptr;
}

const char* SetBootstrap(cmd_parms* cmd, void*, const char* arg) {
  if (const char* err = ap_check_cmd_context(cmd, GLOBAL_ONLY)) return err;
  ConfigOf(cmd->server)->bootstrapPath = ap_server_root_relative(cmd->pool, arg);
  return nullptr;
}

// The folder made current around GetFilterVersion: the bootstrap path itself
// when it names a folder, else the folder of the named file; the ServerRoot
// when no bootstrap file is configured.
std::string BootstrapFolderOf(const ServerConfig& config) {
  if (config.bootstrapPath == nullptr) return ap_server_root;
  struct stat info{};
  if (::stat(config.bootstrapPath, &info) == 0 && S_ISDIR(info.st_mode)) {
    return config.bootstrapPath;
  }
  return hosts::BootstrapFolder(config.bootstrapPath);
}

int PostConfig(apr_pool_t*, apr_pool_t*, apr_pool_t*, server_rec* s) {
  // The configuration is read twice at start-up; check on the real pass only.
  if (ap_state_query(AP_SQ_MAIN_STATE) == AP_SQ_MS_CREATE_PRE_CONFIG) return OK;
  ServerConfig* config = ConfigOf(s);
  if (config->filterPath == nullptr) {
    if (config->bootstrapPath != nullptr) {
      ap_log_error(APLOG_MARK, APLOG_WARNING, 0, s,
                   "SentrelBootstrap is set but SentrelFilter is not: no filter is loaded");
    }
    return OK;
  }
  FilterLibrary probe;
  std::string error;
  if (!probe.Open(config->filterPath, error)) {
    config->unusable = true;
    ap_log_error(APLOG_MARK, APLOG_ERR, 0, s,
                 "%s; requests are served without the filter", error.c_str());
    return OK;
  }
  probe.Close();

  if (config->bootstrapPath != nullptr) {
    struct stat info{};
    if (::stat(config->bootstrapPath, &info) != 0) {
      ap_log_error(APLOG_MARK, APLOG_WARNING, 0, s,
                   "SentrelBootstrap %s does not exist; the filter will not find its settings",
                   config->bootstrapPath);
    } else if (!S_ISDIR(info.st_mode)) {
      std::string path = config->bootstrapPath;
      std::string name = path.substr(path.rfind('/') + 1);
      if (name != kBootstrapName) {
        ap_log_error(APLOG_MARK, APLOG_WARNING, 0, s,
                     "SentrelBootstrap %s: the filter reads the file named %s in that folder, "
                     "not %s",
                     config->bootstrapPath, kBootstrapName, name.c_str());
      }
    }
  }
  return OK;
}

apr_status_t ChildExit(void*) {
  ProcessFilter().Terminate();
  return APR_SUCCESS;
}

void ChildInit(apr_pool_t* pchild, server_rec* s) {
  ServerConfig* config = ConfigOf(s);
  if (config->filterPath == nullptr || config->unusable) return;
  FilterLibrary& filter = ProcessFilter();
  std::string error;
  if (!filter.Open(config->filterPath, error)) {
    ap_log_error(APLOG_MARK, APLOG_ERR, 0, s, "%s; requests are served without the filter",
                 error.c_str());
    return;
  }
  // Runs before the child starts its request threads: changing the current
  // directory for the filter's start cannot disturb a request.
  const std::string folder = BootstrapFolderOf(*config);
  if (!filter.Start(folder, error)) {
    ap_log_error(APLOG_MARK, APLOG_ERR, 0, s,
                 "filter %s did not start with the bootstrap folder %s: %s; requests are "
                 "served without the filter",
                 config->filterPath, folder.c_str(), error.c_str());
    filter.Close();
    return;
  }
  ap_log_error(APLOG_MARK, APLOG_INFO, 0, s, "filter %s started (%s), bootstrap folder %s",
               config->filterPath, filter.Description().c_str(), folder.c_str());
  apr_pool_cleanup_register(pchild, nullptr, ChildExit, apr_pool_cleanup_null);
}

bool Wants(DWORD type, bool secure) {
  const FilterLibrary& filter = ProcessFilter();
  return filter.Running() && hosts::WantsNotification(filter.Flags(), type, secure);
}

apr_status_t EndOfSession(void* data) {
  auto* state = static_cast<ConnectionState*>(data);
  FilterLibrary& filter = ProcessFilter();
  if (!filter.Running()) return APR_SUCCESS;
  FilterExchange exchange(state);
  filter.Notify(exchange.Context(), SF_NOTIFY_END_OF_NET_SESSION, nullptr);
  return APR_SUCCESS;
}

int PreConnection(conn_rec* c, void*) {
  // Secondary connections (HTTP/2 streams) and the proxy's outgoing
  // connections are not client sessions.
  if (c->master != nullptr || c->outgoing) return OK;
  if (!ProcessFilter().Running()) return OK;
  void* memory = apr_pcalloc(c->pool, sizeof(ConnectionState));
  auto* state = new (memory) ConnectionState();
  state->connection = c;
  // Runs after mod_ssl has set up the connection (see RegisterHooks).
  state->secure = ap_ssl_conn_is_ssl(c) != 0;
  ap_set_module_config(c->conn_config, &sentrel_module, state);
  if (Wants(SF_NOTIFY_END_OF_NET_SESSION, state->secure)) {
    apr_pool_cleanup_register(c->pool, state, EndOfSession, apr_pool_cleanup_null);
  }
  return OK;
}

ConnectionState* StateOf(conn_rec* c) {
  conn_rec* session = c->master != nullptr ? c->master : c;
  return static_cast<ConnectionState*>(ap_get_module_config(session->conn_config, &sentrel_module));
}

// Runs one request notification. Returns DECLINED to go on, DONE when the
// filter answered, or an HTTP error status.
int Notify(request_rec* r, ConnectionState* state, DWORD type, bool secure) {
  static std::atomic<bool> exceptionLogged{false};
  FilterLibrary& filter = ProcessFilter();
  FilterExchange exchange(r, state, secure);
  DWORD status = filter.Notify(exchange.Context(), type, nullptr);
  if (filter.EscapedExceptions() != 0 && !exceptionLogged.exchange(true)) {
    ap_log_rerror(APLOG_MARK, APLOG_WARNING, 0, r,
                  "an exception escaped the filter's HttpFilterProc; such requests pass on "
                  "unfiltered (logged once)");
  }
  hosts::Outcome outcome = hosts::ClassifyStatus(status);
  // Bytes a filter has sent are on their way to the client on its native
  // server, whatever it returns; so anything sent makes the answer final.
  if (outcome == hosts::Outcome::Finished || exchange.Answered()) return exchange.FinishAnswer();
  if (outcome == hosts::Outcome::Error) return HTTP_INTERNAL_SERVER_ERROR;
  return DECLINED;
}

int PostReadRequest(request_rec* r) {
  if (r->main != nullptr || r->prev != nullptr) return DECLINED;
  conn_rec* c = r->connection;
  if (!ProcessFilter().Running()) return DECLINED;
  ConnectionState* state = StateOf(c);
  const bool secure = state != nullptr ? state->secure : ap_ssl_conn_is_ssl(c) != 0;
  for (DWORD type : {SF_NOTIFY_PREPROC_HEADERS, SF_NOTIFY_URL_MAP}) {
    if (!Wants(type, secure)) continue;
    int result = Notify(r, state, type, secure);
    if (result != DECLINED) return result;
  }
  return DECLINED;
}

void RegisterHooks(apr_pool_t*) {
  // The client address must be the one mod_remoteip derived.
  static const char* const kAfterRemoteIp[] = {"mod_remoteip.c", nullptr};
  ap_hook_post_config(PostConfig, nullptr, nullptr, APR_HOOK_MIDDLE);
  ap_hook_child_init(ChildInit, nullptr, nullptr, APR_HOOK_MIDDLE);
  // After mod_ssl, so that the connection's TLS state is known.
  ap_hook_pre_connection(PreConnection, nullptr, nullptr, APR_HOOK_LAST);
  ap_hook_post_read_request(PostReadRequest, kAfterRemoteIp, nullptr, APR_HOOK_FIRST);
}

// Directive handlers are stored with a generic function type.
template <typename F>
cmd_func Directive(F* handler) {
  return reinterpret_cast<cmd_func>(reinterpret_cast<void (*)()>(handler));
}

const command_rec kCommands[] = {
    AP_INIT_TAKE1("SentrelFilter", Directive(SetFilter), nullptr, RSRC_CONF,
                  "path of the filter library to load"),
    AP_INIT_TAKE1("SentrelBootstrap", Directive(SetBootstrap), nullptr, RSRC_CONF,
                  "path of the filter's bootstrap file sh_Sentrel.ini (or of its folder)"),
    {nullptr, nullptr, nullptr, 0, RAW_ARGS, nullptr},
};

}  // namespace
}  // namespace sentrel::apache

::module sentrel_module = {
    STANDARD20_MODULE_STUFF,
    nullptr,                                      // per-directory config creator
    nullptr,                                      // per-directory config merger
    sentrel::apache::CreateServerConfig,          // server config creator
    nullptr,                                      // server config merger
    sentrel::apache::kCommands,                   // directives
    sentrel::apache::RegisterHooks,               // hooks
    AP_MODULE_FLAG_NONE,
};
