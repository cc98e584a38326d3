#include "hosts/common/host_context.h"

#include <cerrno>

#include "hosts/common/server_variables.h"

namespace sentrel::hosts {

namespace {

// Failures are told through errno, as the filter's native server tells them
// through the thread's last error.
BOOL Fail(int error) {
  errno = error;
  return FALSE;
}

constexpr DWORD kServerRevision = 0x00070000;

}  // namespace

HostContext::HostContext() {
  context_.cbSize = sizeof(HTTP_FILTER_CONTEXT);
  context_.Revision = kServerRevision;
  context_.ServerContext = this;
  context_.GetServerVariable = &HostContext::GetServerVariable;
  context_.AddResponseHeaders = &HostContext::AddResponseHeaders;
  context_.WriteClient = &HostContext::WriteClient;
  context_.AllocMem = &HostContext::AllocMem;
  context_.ServerSupportFunction = &HostContext::ServerSupportFunction;
}

HostContext* HostContext::Of(HTTP_FILTER_CONTEXT* pfc) {
  return pfc != nullptr ? static_cast<HostContext*>(pfc->ServerContext) : nullptr;
}

void* HostContext::Allocate(DWORD size) {
  allocations_.emplace_front(size != 0 ? size : 1, '\0');
  return allocations_.front().data();
}

BOOL SENTREL_WINAPI HostContext::GetServerVariable(HTTP_FILTER_CONTEXT* pfc, LPSTR name,
                                                   LPVOID buffer, LPDWORD size) {
  HostContext* self = Of(pfc);
  if (self == nullptr || name == nullptr || size == nullptr) return Fail(EINVAL);
  std::string scratch;
  std::string_view value;
  if (!self->FindVariable(name, scratch, value)) return Fail(ENOENT);
  switch (CopyVariableValue(value, buffer, size)) {
    case CopyResult::Copied:
      return TRUE;
    case CopyResult::BufferTooSmall:
      return Fail(ENOBUFS);
    default:
      return Fail(EINVAL);
  }
}

BOOL SENTREL_WINAPI HostContext::AddResponseHeaders(HTTP_FILTER_CONTEXT* pfc, LPSTR headers, DWORD) {
  HostContext* self = Of(pfc);
  if (self == nullptr) return Fail(EINVAL);
  return self->AddHeaders(headers) ? TRUE : FALSE;
}

BOOL SENTREL_WINAPI HostContext::WriteClient(HTTP_FILTER_CONTEXT* pfc, LPVOID buffer, LPDWORD bytes,
                                             DWORD) {
  HostContext* self = Of(pfc);
  if (self == nullptr || bytes == nullptr || (buffer == nullptr && *bytes != 0)) return Fail(EINVAL);
  return self->WriteBody(static_cast<const char*>(buffer), *bytes) ? TRUE : FALSE;
}

LPVOID SENTREL_WINAPI HostContext::AllocMem(HTTP_FILTER_CONTEXT* pfc, DWORD size, DWORD) {
  HostContext* self = Of(pfc);
  if (self == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  return self->Allocate(size);
}

BOOL SENTREL_WINAPI HostContext::ServerSupportFunction(HTTP_FILTER_CONTEXT* pfc,
                                                       enum SF_REQ_TYPE request, PVOID data,
                                                       ULONG_PTR ul1, ULONG_PTR) {
  HostContext* self = Of(pfc);
  if (self == nullptr) return Fail(EINVAL);
  if (request != SF_REQ_SEND_RESPONSE_HEADER) return Fail(ENOTSUP);
  return self->SendResponseHeader(static_cast<const char*>(data), reinterpret_cast<const char*>(ul1))
             ? TRUE
             : FALSE;
}

}  // namespace sentrel::hosts
