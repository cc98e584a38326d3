// ngx_http_sentrel_module: hosts a filter library of the ISAPI filter
// interface in nginx, the way the filter's native server does.
//
//   load_module /path/to/ngx_http_sentrel_module.so;
//   http {
//     sentrel_filter      /path/to/libSentrel.so;
//     sentrel_bootstrap   /path/to/folder/sh_Sentrel.ini;
//     sentrel_thread_pool default;     # optional; a pool named by thread_pool
//   }
//
// Every worker process loads the library at its start, makes the bootstrap
// file's folder its current directory around GetFilterVersion, and then hands
// the filter:
//   - the preprocessing-headers and URL-mapping notifications of every main
//     request (not of subrequests or internal redirects), at the end of the
//     post-read phase: after the real-IP module has set the client address
//     and before any rewrite, access check or content handler;
//   - the end-of-net-session notification when a client connection closes;
// and calls TerminateExtension when the worker exits. A configuration the
// filter cannot run with is logged and the server serves unfiltered.
//
// A filter call can block (waits for a missing variable, the picture-code
// lock, disk writes), and one worker serves all its connections from one
// thread; so every filter call runs on a thread of an nginx thread pool, and
// the request waits, without holding up the event loop, until it returns.
// The requests read in one turn of the event loop go to the pool together
// (see call_batch.h).
#include "hosts/nginx/nginx_headers.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "filter/core/isapi.h"
#include "hosts/common/filter_answers.h"
#include "hosts/common/filter_library.h"
#include "hosts/nginx/call_batch.h"
#include "hosts/nginx/nginx_exchange.h"

extern "C" {
extern ngx_module_t ngx_http_sentrel_module __attribute__((visibility("default")));
}

namespace sentrel::nginx {
namespace {

using hosts::FilterLibrary;

// The filter reads this name in its current directory.
constexpr char kBootstrapName[] = "sh_Sentrel.ini";

struct MainConfig {
  ngx_str_t filterPath;
  ngx_str_t bootstrapPath;
  ngx_str_t poolName;
  ngx_thread_pool_t* pool;
  // Why the library cannot be used, found while reading the configuration;
  // each worker logs it into the error log and serves unfiltered.
  ngx_str_t unusable;
};

// The filter of this worker process. One filter instance serves all of the
// worker's connections; its tables are per process.
FilterLibrary& ProcessFilter() {
  static FilterLibrary library;
  return library;
}

ngx_thread_pool_t* filterPool = nullptr;
// The worker is exiting: the thread pool is gone, nothing more is posted.
bool exiting = false;

std::string Text(const ngx_str_t& s) { return std::string(View(s)); }

bool Wants(DWORD type, bool secure) {
  const FilterLibrary& filter = ProcessFilter();
  return filter.Running() && hosts::WantsNotification(filter.Flags(), type, secure);
}

// ---------------------------------------------------------------- configuration

void* CreateMainConfig(ngx_conf_t* cf) {
  return ngx_pcalloc(cf->pool, sizeof(MainConfig));
}

char* SetPath(ngx_conf_t* cf, ngx_command_t* cmd, void* conf) {
  auto* field = reinterpret_cast<ngx_str_t*>(static_cast<char*>(conf) + cmd->offset);
  if (field->data != nullptr) return const_cast<char*>("is duplicate");
  *field = static_cast<ngx_str_t*>(cf->args->elts)[1];
  if (cmd->offset != offsetof(MainConfig, poolName) && ngx_conf_full_name(cf->cycle, field, 0) != NGX_OK) {
    return static_cast<char*>(NGX_CONF_ERROR);
  }
  return NGX_CONF_OK;
}

// The folder made current around GetFilterVersion: the bootstrap path itself
// when it names a folder, else the folder of the named file; nginx's prefix
// when no bootstrap file is configured.
std::string BootstrapFolderOf(const MainConfig& config, ngx_cycle_t* cycle) {
  if (config.bootstrapPath.data == nullptr) return Text(cycle->prefix);
  const std::string path = Text(config.bootstrapPath);
  struct stat info{};
  if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return path;
  return hosts::BootstrapFolder(path);
}

ngx_str_t PoolString(ngx_pool_t* pool, const std::string& text) {
  ngx_str_t s{0, nullptr};
  s.data = static_cast<u_char*>(ngx_pnalloc(pool, text.size() + 1));
  if (s.data != nullptr) {
    std::memcpy(s.data, text.data(), text.size());
    s.data[text.size()] = '\0';
    s.len = text.size();
  }
  return s;
}

void CheckBootstrap(ngx_conf_t* cf, const MainConfig& config) {
  if (config.bootstrapPath.data == nullptr) return;
  const std::string path = Text(config.bootstrapPath);
  struct stat info{};
  if (::stat(path.c_str(), &info) != 0) {
    ngx_conf_log_error(NGX_LOG_WARN, cf, 0,
                       "sentrel_bootstrap %s does not exist; the filter will not find its settings",
                       path.c_str());
    return;
  }
  if (S_ISDIR(info.st_mode)) return;
  const std::string name = path.substr(path.rfind('/') + 1);
  if (name != kBootstrapName) {
    ngx_conf_log_error(NGX_LOG_WARN, cf, 0,
                       "sentrel_bootstrap %s: the filter reads the file named %s in that folder, not %s",
                       path.c_str(), kBootstrapName, name.c_str());
  }
}

ngx_int_t PostReadHandler(ngx_http_request_t* r);

ngx_int_t PostConfiguration(ngx_conf_t* cf) {
  auto* config = static_cast<MainConfig*>(ngx_http_conf_get_module_main_conf(cf, ngx_http_sentrel_module));
  if (config->filterPath.data == nullptr) {
    if (config->bootstrapPath.data != nullptr) {
      ngx_conf_log_error(NGX_LOG_WARN, cf, 0,
                         "sentrel_bootstrap is set but sentrel_filter is not: no filter is loaded");
    }
    return NGX_OK;
  }
  FilterLibrary probe;
  std::string error;
  if (!probe.Open(Text(config->filterPath), error)) {
    config->unusable = PoolString(cf->pool, error);
    ngx_conf_log_error(NGX_LOG_WARN, cf, 0, "%s; requests are served without the filter", error.c_str());
    return NGX_OK;
  }
  probe.Close();
  CheckBootstrap(cf, *config);

  config->pool = ngx_thread_pool_add(cf, config->poolName.data != nullptr ? &config->poolName : nullptr);
  if (config->pool == nullptr) return NGX_ERROR;

  // Last in the post-read phase, whose handlers run in the reverse order of
  // their registration: after the real-IP module has set the client address.
  auto* core = static_cast<ngx_http_core_main_conf_t*>(ngx_http_conf_get_module_main_conf(cf, ngx_http_core_module));
  ngx_array_t& handlers = core->phases[NGX_HTTP_POST_READ_PHASE].handlers;
  if (ngx_array_push(&handlers) == nullptr) return NGX_ERROR;
  auto* list = static_cast<ngx_http_handler_pt*>(handlers.elts);
  std::memmove(list + 1, list, (handlers.nelts - 1) * sizeof *list);
  list[0] = PostReadHandler;
  return NGX_OK;
}

// ---------------------------------------------------------------- connections

void RunEndOfSession(void* data, ngx_log_t*) {
  auto* state = static_cast<ConnectionState*>(data);
  FilterLibrary& filter = ProcessFilter();
  if (filter.Running()) {
    FilterExchange exchange(state);
    filter.Notify(exchange.Context(), SF_NOTIFY_END_OF_NET_SESSION, nullptr);
  }
  delete state;
}

void FreeTask(ngx_event_t* event) { ngx_free(event->data); }

// Runs `handler(data)` on the filter's thread pool, or here when it cannot be
// posted (no pool, a full queue). Returns whether it was posted.
bool PostOrRun(ngx_thread_task_t* task, ngx_log_t* log) {
  if (filterPool != nullptr && !exiting && ngx_thread_task_post(filterPool, task) == NGX_OK) return true;
  static std::atomic<bool> logged{false};
  if (filterPool != nullptr && !exiting && !logged.exchange(true)) {
    ngx_log_error(NGX_LOG_WARN, log, 0,
                  "the filter's thread pool did not take a call; it runs on the event loop instead "
                  "(logged once; see thread_pool max_queue)");
  }
  task->handler(task->ctx, log);
  return false;
}

// Pool clean-up of a client connection: the end-of-session notification,
// with the connection's own addresses (the real-IP module has put back the
// ones it replaced for the request).
void ConnectionClosed(void* data) {
  auto* state = static_cast<ConnectionState*>(data);
  ngx_connection_t* c = state->connection;
  state->secure = state->secure || c->ssl != nullptr;
  if (exiting || !Wants(SF_NOTIFY_END_OF_NET_SESSION, state->secure)) {
    delete state;
    return;
  }
  state->remoteAddr = std::string(View(c->addr_text));
  state->remotePort = PortText(c->sockaddr);
  state->localAddr = AddressText(c->local_sockaddr, c->local_socklen);
  state->localPort = PortText(c->local_sockaddr);
  // The task outlives the connection: it frees itself when done.
  auto* task = static_cast<ngx_thread_task_t*>(ngx_calloc(sizeof(ngx_thread_task_t), c->log));
  if (task == nullptr) {
    RunEndOfSession(state, c->log);
    return;
  }
  task->ctx = state;
  task->handler = RunEndOfSession;
  task->event.handler = FreeTask;
  task->event.data = task;
  task->event.log = ngx_cycle->log;
  if (!PostOrRun(task, c->log)) ngx_free(task);
}

ngx_connection_handler_pt httpInitConnection = nullptr;

// Takes the place of nginx's connection handler on the HTTP listening
// sockets: every client connection gets its state before nginx reads from it.
void InitConnection(ngx_connection_t* c) {
  if (ProcessFilter().Running()) {
    // The address the connection came in on, while its socket is open.
    ngx_connection_local_sockaddr(c, nullptr, 0);
    ngx_pool_cleanup_t* cleanup = ngx_pool_cleanup_add(c->pool, 0);
    if (cleanup != nullptr) {
      auto* state = new (std::nothrow) ConnectionState();
      if (state != nullptr) {
        state->connection = c;
        cleanup->handler = ConnectionClosed;
        cleanup->data = state;
      }
    }
  }
  httpInitConnection(c);
}

// The state of the client connection a request came on (for HTTP/2, of the
// connection that carries the stream).
ConnectionState* StateOf(ngx_http_request_t* r) {
  ngx_connection_t* c = r->connection;
#if (NGX_HTTP_V2)
  if (r->stream != nullptr) c = r->stream->connection->connection;
#endif
  for (ngx_pool_cleanup_t* cleanup = c->pool->cleanup; cleanup != nullptr; cleanup = cleanup->next) {
    if (cleanup->handler == ConnectionClosed) return static_cast<ConnectionState*>(cleanup->data);
  }
  return nullptr;
}

// ---------------------------------------------------------------- requests

// One request's filter calls: made on a pool thread, concluded on the event loop.
struct RequestJob {
  enum class Phase { Waiting, Returned, Concluded };
  ngx_http_request_t* request = nullptr;
  ConnectionState* state = nullptr;
  bool secure = false;
  Phase phase = Phase::Waiting;
  hosts::Outcome outcome = hosts::Outcome::Continue;
  Answer answer;
};

void DeleteJob(void* data) { delete static_cast<RequestJob*>(data); }

// On a pool thread: the preprocessing-headers and URL-mapping notifications,
// until the filter answers or fails the request.
void RunRequestJob(void* data, ngx_log_t*) {
  auto* job = static_cast<RequestJob*>(data);
  FilterLibrary& filter = ProcessFilter();
  for (DWORD type : {SF_NOTIFY_PREPROC_HEADERS, SF_NOTIFY_URL_MAP}) {
    if (!Wants(type, job->secure)) continue;
    FilterExchange exchange(job->request, job->state, job->secure, job->answer);
    hosts::Outcome outcome = hosts::ClassifyStatus(filter.Notify(exchange.Context(), type, nullptr));
    // Bytes a filter has sent are on their way to the client on its native
    // server, whatever it returns; so anything sent makes the answer final.
    if (outcome == hosts::Outcome::Finished || job->answer.Answered()) {
      job->outcome = hosts::Outcome::Finished;
      break;
    }
    if (outcome == hosts::Outcome::Error) {
      job->outcome = outcome;
      break;
    }
  }
  job->phase = RequestJob::Phase::Returned;
}

// Back on the event loop: the request goes on through its phases.
void ResumeRequest(void* call) {
  ngx_http_request_t* r = static_cast<RequestJob*>(call)->request;
  ngx_connection_t* c = r->connection;
  r->main->blocked--;
  r->aio = 0;
  r->write_event_handler(r);
  ngx_http_run_posted_requests(c);
}

// ---------------------------------------------------------------- hand-over

// Calls in one task: enough to spare most wake-ups under load, few enough
// that a burst still spreads over several pool threads.
constexpr std::size_t kMaxBatch = 64;
// How long a batch of several calls may be out before the event loop looks
// at it, so that calls queued behind one that blocks are handed over again.
constexpr ngx_msec_t kReviewAfterMs = 1;

// A batch on its way through the pool.
struct BatchTask {
  explicit BatchTask(const std::vector<void*>& calls) : batch(calls) {}
  CallBatch batch;
  ngx_thread_task_t task{};
  ngx_event_t review{};
};

// The calls of this turn of the event loop, handed over at its end.
std::vector<void*> turnCalls;
ngx_event_t handOverEvent;

void QueueCall(void* call) {
  turnCalls.push_back(call);
  if (!handOverEvent.posted) {
    ngx_post_event(&handOverEvent, &ngx_posted_events);
  }
}

void RunBatch(void* data, ngx_log_t*) {
  static_cast<BatchTask*>(data)->batch.Run([](void* call) { RunRequestJob(call, nullptr); });
}

void BatchReturned(ngx_event_t* event) {
  auto* batch = static_cast<BatchTask*>(event->data);
  if (batch->review.timer_set) ngx_del_timer(&batch->review);
  batch->batch.Returned(ResumeRequest);
  delete batch;
}

void ReviewBatch(ngx_event_t* event) {
  auto* batch = static_cast<BatchTask*>(event->data);
  if (batch->batch.Review(ResumeRequest, QueueCall)) ngx_add_timer(&batch->review, kReviewAfterMs);
}

void PostBatch(const std::vector<void*>& calls) {
  auto* batch = new (std::nothrow) BatchTask(calls);
  if (batch == nullptr) {
    for (void* call : calls) {
      RunRequestJob(call, nullptr);
      ResumeRequest(call);
    }
    return;
  }
  batch->task.ctx = batch;
  batch->task.handler = RunBatch;
  batch->task.event.handler = BatchReturned;
  batch->task.event.data = batch;
  batch->task.event.log = ngx_cycle->log;
  if (calls.size() > 1) {
    batch->review.handler = ReviewBatch;
    batch->review.data = batch;
    batch->review.log = ngx_cycle->log;
    ngx_add_timer(&batch->review, kReviewAfterMs);
  }
  if (!PostOrRun(&batch->task, ngx_cycle->log)) BatchReturned(&batch->task.event);
}

void HandOver(ngx_event_t*) {
  std::vector<void*> calls;
  calls.swap(turnCalls);
  for (std::size_t first = 0; first < calls.size(); first += kMaxBatch) {
    const std::size_t last = std::min(calls.size(), first + kMaxBatch);
    PostBatch(std::vector<void*>(calls.begin() + static_cast<std::ptrdiff_t>(first),
                                 calls.begin() + static_cast<std::ptrdiff_t>(last)));
  }
}

// ---------------------------------------------------------------- answers

bool PushHeader(ngx_http_request_t* r, const std::string& name, const std::string& value) {
  auto* header = static_cast<ngx_table_elt_t*>(ngx_list_push(&r->headers_out.headers));
  if (header == nullptr) return false;
  header->hash = 1;
  header->key = PoolString(r->pool, name);
  header->value = PoolString(r->pool, value);
  header->lowcase_key = nullptr;
  return header->key.data != nullptr && header->value.data != nullptr;
}

// "Name: value" lines for the response; a Content-Type line sets the
// response's content type, Content-Length is left to nginx.
bool AddResponseHeaders(ngx_http_request_t* r, const HeaderList& headers) {
  for (const auto& [name, value] : headers) {
    if (strcasecmp(name.c_str(), "Content-Length") == 0) continue;
    if (strcasecmp(name.c_str(), "Content-Type") == 0) {
      r->headers_out.content_type = PoolString(r->pool, value);
      r->headers_out.content_type_len = r->headers_out.content_type.len;
      r->headers_out.content_type_lowcase = nullptr;
      continue;
    }
    if (!PushHeader(r, name, value)) return false;
  }
  return true;
}

// Sends what the filter answered and ends the request; the connection closes
// after it, as on the filter's native server.
ngx_int_t SendAnswer(ngx_http_request_t* r, const Answer& answer) {
  if (!answer.badStatus.empty()) {
    static std::atomic<bool> logged{false};
    if (!logged.exchange(true)) {
      ngx_log_error(NGX_LOG_WARN, r->connection->log, 0,
                    "the filter sent an unusable status line \"%s\" (it must start with a "
                    "three-digit code); the answer goes out with status 500",
                    answer.badStatus.c_str());
    }
  }
  ngx_int_t rc = ngx_http_discard_request_body(r);
  if (rc != NGX_OK) return rc;
  r->keepalive = 0;
  r->headers_out.status = answer.headerSent ? answer.code : NGX_HTTP_OK;
  if (answer.headerSent && !answer.statusLine.empty()) {
    r->headers_out.status_line = PoolString(r->pool, answer.statusLine);
  }
  if (!AddResponseHeaders(r, answer.headers)) return NGX_ERROR;
  r->headers_out.content_length_n = static_cast<off_t>(answer.body.size());

  rc = ngx_http_send_header(r);
  if (rc == NGX_ERROR || rc > NGX_OK || r->header_only) return rc;
  ngx_buf_t* b = static_cast<ngx_buf_t*>(ngx_calloc_buf(r->pool));
  if (b == nullptr) return NGX_ERROR;
  if (!answer.body.empty()) {
    b->start = b->pos = static_cast<u_char*>(ngx_pnalloc(r->pool, answer.body.size()));
    if (b->pos == nullptr) return NGX_ERROR;
    b->end = b->last = ngx_cpymem(b->pos, answer.body.data(), answer.body.size());
    b->memory = 1;
  }
  b->last_buf = 1;
  b->last_in_chain = 1;
  ngx_chain_t out{b, nullptr};
  return ngx_http_output_filter(r, &out);
}

// What the request does after the filter has returned.
ngx_int_t Conclude(ngx_http_request_t* r, RequestJob& job) {
  static std::atomic<bool> exceptionLogged{false};
  if (ProcessFilter().EscapedExceptions() != 0 && !exceptionLogged.exchange(true)) {
    ngx_log_error(NGX_LOG_WARN, r->connection->log, 0,
                  "an exception escaped the filter's HttpFilterProc; such requests pass on "
                  "unfiltered (logged once)");
  }
  if (!AddResponseHeaders(r, job.answer.added)) return NGX_HTTP_INTERNAL_SERVER_ERROR;
  if (job.outcome == hosts::Outcome::Finished) {
    ngx_http_finalize_request(r, SendAnswer(r, job.answer));
    return NGX_DONE;
  }
  if (job.outcome == hosts::Outcome::Error) return NGX_HTTP_INTERNAL_SERVER_ERROR;
  return NGX_DECLINED;
}

ngx_int_t PostReadHandler(ngx_http_request_t* r) {
  // Main requests only: subrequests and internal redirects do not pass here
  // again, but a request the phases are restarted for might.
  if (r != r->main || r->internal || !ProcessFilter().Running()) return NGX_DECLINED;
  auto* job = static_cast<RequestJob*>(ngx_http_get_module_ctx(r, ngx_http_sentrel_module));
  if (job != nullptr) {
    switch (job->phase) {
      case RequestJob::Phase::Waiting:
        return NGX_AGAIN;  // woken before the filter returned
      case RequestJob::Phase::Returned:
        job->phase = RequestJob::Phase::Concluded;
        return Conclude(r, *job);
      case RequestJob::Phase::Concluded:
        return NGX_DECLINED;
    }
  }

  const bool secure = r->http_connection->ssl != 0;
  if (!Wants(SF_NOTIFY_PREPROC_HEADERS, secure) && !Wants(SF_NOTIFY_URL_MAP, secure)) return NGX_DECLINED;
  ngx_pool_cleanup_t* cleanup = ngx_pool_cleanup_add(r->pool, 0);
  if (cleanup == nullptr) return NGX_HTTP_INTERNAL_SERVER_ERROR;
  job = new (std::nothrow) RequestJob();
  if (job == nullptr) return NGX_HTTP_INTERNAL_SERVER_ERROR;
  cleanup->handler = DeleteJob;
  cleanup->data = job;
  ngx_http_set_ctx(r, job, ngx_http_sentrel_module);
  job->request = r;
  job->secure = secure;
  job->state = StateOf(r);
  if (job->state != nullptr) {
    std::lock_guard<std::mutex> guard(job->state->lock);
    job->state->secure = secure;
    job->state->serverName = RequestServerName(r);
  }
  // What the filter's thread reads must be in place before it runs.
  ngx_connection_local_sockaddr(r->connection, nullptr, 0);

  // Keeps the request (and what the pool thread reads of it) until the
  // filter has returned.
  r->main->blocked++;
  r->aio = 1;
  QueueCall(job);
  return NGX_AGAIN;
}

// ---------------------------------------------------------------- worker life

ngx_int_t InitProcess(ngx_cycle_t* cycle) {
  auto* config = static_cast<MainConfig*>(ngx_http_cycle_get_module_main_conf(cycle, ngx_http_sentrel_module));
  if (config == nullptr || config->filterPath.data == nullptr) return NGX_OK;
  if (config->unusable.data != nullptr) {
    ngx_log_error(NGX_LOG_ERR, cycle->log, 0, "%s; requests are served without the filter",
                  config->unusable.data);
    return NGX_OK;
  }
  const std::string path = Text(config->filterPath);
  FilterLibrary& filter = ProcessFilter();
  std::string error;
  if (!filter.Open(path, error)) {
    ngx_log_error(NGX_LOG_ERR, cycle->log, 0, "%s; requests are served without the filter", error.c_str());
    return NGX_OK;
  }
  // The pool's threads are idle: changing the current directory for the
  // filter's start cannot disturb them.
  const std::string folder = BootstrapFolderOf(*config, cycle);
  if (!filter.Start(folder, error)) {
    ngx_log_error(NGX_LOG_ERR, cycle->log, 0,
                  "filter %s did not start with the bootstrap folder %s: %s; requests are "
                  "served without the filter",
                  path.c_str(), folder.c_str(), error.c_str());
    filter.Close();
    return NGX_OK;
  }
  filterPool = config->pool;
  handOverEvent.handler = HandOver;
  handOverEvent.log = cycle->log;
  turnCalls.reserve(kMaxBatch);
  ngx_log_error(NGX_LOG_NOTICE, cycle->log, 0, "filter %s started (%s), bootstrap folder %s",
                path.c_str(), filter.Description().c_str(), folder.c_str());

  auto* listening = static_cast<ngx_listening_t*>(cycle->listening.elts);
  for (ngx_uint_t i = 0; i < cycle->listening.nelts; ++i) {
    if (listening[i].handler != ngx_http_init_connection) continue;
    httpInitConnection = listening[i].handler;
    listening[i].handler = InitConnection;
  }
  return NGX_OK;
}

void ExitProcess(ngx_cycle_t*) {
  // The thread pools have finished their queues and stopped before this.
  exiting = true;
  ProcessFilter().Terminate();
}

ngx_command_t kCommands[] = {
    {ngx_string("sentrel_filter"), NGX_HTTP_MAIN_CONF | NGX_CONF_TAKE1, SetPath,
     NGX_HTTP_MAIN_CONF_OFFSET, offsetof(MainConfig, filterPath), nullptr},
    {ngx_string("sentrel_bootstrap"), NGX_HTTP_MAIN_CONF | NGX_CONF_TAKE1, SetPath,
     NGX_HTTP_MAIN_CONF_OFFSET, offsetof(MainConfig, bootstrapPath), nullptr},
    {ngx_string("sentrel_thread_pool"), NGX_HTTP_MAIN_CONF | NGX_CONF_TAKE1, SetPath,
     NGX_HTTP_MAIN_CONF_OFFSET, offsetof(MainConfig, poolName), nullptr},
    ngx_null_command,
};

ngx_http_module_t kContext = {
    nullptr,            // preconfiguration
    PostConfiguration,  // postconfiguration
    CreateMainConfig,   // create main configuration
    nullptr,            // init main configuration
    nullptr,            // create server configuration
    nullptr,            // merge server configuration
    nullptr,            // create location configuration
    nullptr,            // merge location configuration
};

}  // namespace
}  // namespace sentrel::nginx

ngx_module_t ngx_http_sentrel_module = {
    NGX_MODULE_V1,
    &sentrel::nginx::kContext,
    sentrel::nginx::kCommands,
    NGX_HTTP_MODULE,
    nullptr,                          // init master
    nullptr,                          // init module
    sentrel::nginx::InitProcess,      // init process
    nullptr,                          // init thread
    nullptr,                          // exit thread
    sentrel::nginx::ExitProcess,      // exit process
    nullptr,                          // exit master
    NGX_MODULE_V1_PADDING,
};
