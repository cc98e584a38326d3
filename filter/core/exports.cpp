// The three entry points the web server calls. They operate on the process's
// single filter instance, created on first use with the system clock.
#include "filter/core/filter.h"
#include "filter/core/isapi.h"

namespace {

sentrel::Filter& ProcessFilter() {
  static sentrel::platform::SystemClock clock;
  static sentrel::Filter filter(clock);
  return filter;
}

}  // namespace

SENTREL_EXPORT BOOL SENTREL_WINAPI GetFilterVersion(HTTP_FILTER_VERSION* pVer) {
  return ProcessFilter().GetFilterVersion(pVer);
}

SENTREL_EXPORT DWORD SENTREL_WINAPI HttpFilterProc(HTTP_FILTER_CONTEXT* pfc, DWORD notificationType,
                                                   LPVOID pvNotification) {
  return ProcessFilter().HttpFilterProc(pfc, notificationType, pvNotification);
}

SENTREL_EXPORT BOOL SENTREL_WINAPI TerminateExtension(DWORD dwFlags) {
  return ProcessFilter().TerminateExtension(dwFlags);
}
