// The web server's filter interface: the records and callbacks through which a
// server hands requests to the filter, with their documented layout, and the
// notification, status and request codes the filter uses. Every host (the test
// host, the Apache module, the native server) fills an HTTP_FILTER_CONTEXT and
// calls the three exported entry points.
#pragma once

#include <cstddef>

#include <cstdint>

#if defined(_WIN32)
#define SENTREL_WINAPI __stdcall
#define SENTREL_EXPORT extern "C" __declspec(dllexport)
#else
#define SENTREL_WINAPI
#define SENTREL_EXPORT extern "C" __attribute__((visibility("default")))
#endif

#if defined(_WIN32)
// The system's own types, spelled as its headers spell them, so that this
// header and the system headers can be included in either order.
typedef unsigned long DWORD;
typedef int BOOL;
typedef char CHAR;
typedef CHAR* LPSTR;
typedef void* LPVOID;
typedef void* PVOID;
typedef DWORD* LPDWORD;
typedef unsigned long long ULONG_PTR;
#elif !defined(_WINDEF_)
typedef std::uint32_t DWORD;
typedef int BOOL;
typedef char CHAR;
typedef char* LPSTR;
typedef void* LPVOID;
typedef void* PVOID;
typedef DWORD* LPDWORD;
typedef std::uintptr_t ULONG_PTR;
#endif

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

inline constexpr int SF_MAX_FILTER_DESC_LEN = 256 + 1;

// Notification types.
inline constexpr DWORD SF_NOTIFY_SECURE_PORT = 0x00000001;
inline constexpr DWORD SF_NOTIFY_NONSECURE_PORT = 0x00000002;
inline constexpr DWORD SF_NOTIFY_READ_RAW_DATA = 0x00008000;
inline constexpr DWORD SF_NOTIFY_PREPROC_HEADERS = 0x00004000;
inline constexpr DWORD SF_NOTIFY_AUTHENTICATION = 0x00002000;
inline constexpr DWORD SF_NOTIFY_URL_MAP = 0x00001000;
inline constexpr DWORD SF_NOTIFY_ACCESS_DENIED = 0x00000800;
inline constexpr DWORD SF_NOTIFY_SEND_RESPONSE = 0x00000040;
inline constexpr DWORD SF_NOTIFY_SEND_RAW_DATA = 0x00000400;
inline constexpr DWORD SF_NOTIFY_LOG = 0x00000200;
inline constexpr DWORD SF_NOTIFY_END_OF_REQUEST = 0x00000080;
inline constexpr DWORD SF_NOTIFY_END_OF_NET_SESSION = 0x00000100;

// Notification priority.
inline constexpr DWORD SF_NOTIFY_ORDER_HIGH = 0x00080000;
inline constexpr DWORD SF_NOTIFY_ORDER_MEDIUM = 0x00040000;
inline constexpr DWORD SF_NOTIFY_ORDER_LOW = 0x00020000;
inline constexpr DWORD SF_NOTIFY_ORDER_DEFAULT = SF_NOTIFY_ORDER_LOW;

// Status codes a filter returns.
inline constexpr DWORD SF_STATUS_REQ_FINISHED = 0x08000000;
inline constexpr DWORD SF_STATUS_REQ_FINISHED_KEEP_CONN = 0x08000001;
inline constexpr DWORD SF_STATUS_REQ_NEXT_NOTIFICATION = 0x08000002;
inline constexpr DWORD SF_STATUS_REQ_HANDLED_NOTIFICATION = 0x08000003;
inline constexpr DWORD SF_STATUS_REQ_ERROR = 0x08000004;
inline constexpr DWORD SF_STATUS_REQ_READ_NEXT = 0x08000005;

// Requests to ServerSupportFunction.
enum SF_REQ_TYPE {
  SF_REQ_SEND_RESPONSE_HEADER = 0,
  SF_REQ_ADD_HEADERS_ON_DENIAL = 1,
  SF_REQ_SET_NEXT_READ_SIZE = 2,
  SF_REQ_SET_PROXY_INFO = 3,
  SF_REQ_GET_CONNID = 4,
  SF_REQ_SET_CERTIFICATE_INFO = 5,
  SF_REQ_GET_PROPERTY = 6,
  SF_REQ_NORMALIZE_URL = 7,
  SF_REQ_DISABLE_NOTIFICATIONS = 8,
};

typedef struct _HTTP_FILTER_VERSION {
  DWORD dwServerFilterVersion;
  DWORD dwFilterVersion;
  CHAR lpszFilterDesc[SF_MAX_FILTER_DESC_LEN];
  DWORD dwFlags;
} HTTP_FILTER_VERSION, *PHTTP_FILTER_VERSION;

typedef struct _HTTP_FILTER_CONTEXT {
  DWORD cbSize;
  DWORD Revision;
  PVOID ServerContext;
  DWORD ulReserved;
  BOOL fIsSecurePort;
  PVOID pFilterContext;

  BOOL(SENTREL_WINAPI* GetServerVariable)(struct _HTTP_FILTER_CONTEXT* pfc,
                                          LPSTR lpszVariableName, LPVOID lpvBuffer,
                                          LPDWORD lpdwSize);
  BOOL(SENTREL_WINAPI* AddResponseHeaders)(struct _HTTP_FILTER_CONTEXT* pfc, LPSTR lpszHeaders,
                                           DWORD dwReserved);
  BOOL(SENTREL_WINAPI* WriteClient)(struct _HTTP_FILTER_CONTEXT* pfc, LPVOID Buffer,
                                    LPDWORD lpdwBytes, DWORD dwReserved);
  LPVOID(SENTREL_WINAPI* AllocMem)(struct _HTTP_FILTER_CONTEXT* pfc, DWORD cbSize,
                                   DWORD dwReserved);
  BOOL(SENTREL_WINAPI* ServerSupportFunction)(struct _HTTP_FILTER_CONTEXT* pfc,
                                              enum SF_REQ_TYPE sfReq, PVOID pData, ULONG_PTR ul1,
                                              ULONG_PTR ul2);
} HTTP_FILTER_CONTEXT, *PHTTP_FILTER_CONTEXT;

// The server fills and reads these records by offset, whatever compiler
// built the filter: their 64-bit layout is fixed byte for byte.
static_assert(sizeof(DWORD) == 4 && sizeof(BOOL) == 4 && sizeof(SF_REQ_TYPE) == 4);
static_assert(sizeof(ULONG_PTR) == 8 && sizeof(PVOID) == 8);
static_assert(SF_MAX_FILTER_DESC_LEN == 257);
static_assert(offsetof(HTTP_FILTER_VERSION, dwServerFilterVersion) == 0);
static_assert(offsetof(HTTP_FILTER_VERSION, dwFilterVersion) == 4);
static_assert(offsetof(HTTP_FILTER_VERSION, lpszFilterDesc) == 8);
static_assert(offsetof(HTTP_FILTER_VERSION, dwFlags) == 268);  // after 257 bytes, 4-aligned
static_assert(sizeof(HTTP_FILTER_VERSION) == 272 && alignof(HTTP_FILTER_VERSION) == 4);
static_assert(offsetof(HTTP_FILTER_CONTEXT, cbSize) == 0);
static_assert(offsetof(HTTP_FILTER_CONTEXT, Revision) == 4);
static_assert(offsetof(HTTP_FILTER_CONTEXT, ServerContext) == 8);
static_assert(offsetof(HTTP_FILTER_CONTEXT, ulReserved) == 16);
static_assert(offsetof(HTTP_FILTER_CONTEXT, fIsSecurePort) == 20);
static_assert(offsetof(HTTP_FILTER_CONTEXT, pFilterContext) == 24);
static_assert(offsetof(HTTP_FILTER_CONTEXT, GetServerVariable) == 32);
static_assert(offsetof(HTTP_FILTER_CONTEXT, AddResponseHeaders) == 40);
static_assert(offsetof(HTTP_FILTER_CONTEXT, WriteClient) == 48);
static_assert(offsetof(HTTP_FILTER_CONTEXT, AllocMem) == 56);
static_assert(offsetof(HTTP_FILTER_CONTEXT, ServerSupportFunction) == 64);
static_assert(sizeof(HTTP_FILTER_CONTEXT) == 72 && alignof(HTTP_FILTER_CONTEXT) == 8);

// The three entry points the library exports.
extern "C" {
BOOL SENTREL_WINAPI GetFilterVersion(HTTP_FILTER_VERSION* pVer);
DWORD SENTREL_WINAPI HttpFilterProc(HTTP_FILTER_CONTEXT* pfc, DWORD notificationType,
                                    LPVOID pvNotification);
BOOL SENTREL_WINAPI TerminateExtension(DWORD dwFlags);
}

// Function pointer types for hosts that load the library at run time.
typedef BOOL(SENTREL_WINAPI* PFN_GetFilterVersion)(HTTP_FILTER_VERSION*);
typedef DWORD(SENTREL_WINAPI* PFN_HttpFilterProc)(HTTP_FILTER_CONTEXT*, DWORD, LPVOID);
typedef BOOL(SENTREL_WINAPI* PFN_TerminateExtension)(DWORD);
