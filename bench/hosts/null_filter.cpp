// A filter library that asks for every request notification and does
// nothing with it. The server benchmarks run it to tell what handing a
// request to a filter costs a server from what the filter's own work costs.
#include <cstdio>

#include "filter/core/isapi.h"

SENTREL_EXPORT BOOL SENTREL_WINAPI GetFilterVersion(HTTP_FILTER_VERSION* version) {
  version->dwFilterVersion = 0x00070000;
  std::snprintf(version->lpszFilterDesc, SF_MAX_FILTER_DESC_LEN, "%s", "Null filter");
  version->dwFlags = SF_NOTIFY_ORDER_MEDIUM | SF_NOTIFY_PREPROC_HEADERS | SF_NOTIFY_URL_MAP |
                     SF_NOTIFY_END_OF_NET_SESSION;
  return TRUE;
}

SENTREL_EXPORT DWORD SENTREL_WINAPI HttpFilterProc(HTTP_FILTER_CONTEXT*, DWORD, LPVOID) {
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}

SENTREL_EXPORT BOOL SENTREL_WINAPI TerminateExtension(DWORD) { return TRUE; }
