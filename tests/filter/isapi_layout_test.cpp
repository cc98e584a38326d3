// The records the server and the filter share must have the interface's
// documented 64-bit layout, byte for byte: the server fills and reads them by
// offset, whatever compiler built the filter.
#include <gtest/gtest.h>

#include <cstddef>

#include "filter/core/isapi.h"

namespace sentrel {
namespace {

TEST(IsapiLayout, BasicTypes) {
  EXPECT_EQ(sizeof(DWORD), 4u);
  EXPECT_EQ(sizeof(BOOL), 4u);
  EXPECT_EQ(sizeof(ULONG_PTR), 8u);
  EXPECT_EQ(sizeof(PVOID), 8u);
  EXPECT_EQ(sizeof(SF_REQ_TYPE), 4u);
  EXPECT_EQ(SF_MAX_FILTER_DESC_LEN, 257);
}

TEST(IsapiLayout, FilterVersionRecord) {
  struct Field {
    const char* name;
    std::size_t offset, expected;
  };
  const Field fields[] = {
      {"dwServerFilterVersion", offsetof(HTTP_FILTER_VERSION, dwServerFilterVersion), 0},
      {"dwFilterVersion", offsetof(HTTP_FILTER_VERSION, dwFilterVersion), 4},
      {"lpszFilterDesc", offsetof(HTTP_FILTER_VERSION, lpszFilterDesc), 8},
      {"dwFlags", offsetof(HTTP_FILTER_VERSION, dwFlags), 268},  // after 257 bytes, 4-aligned
  };
  for (const Field& f : fields) EXPECT_EQ(f.offset, f.expected) << f.name;
  EXPECT_EQ(sizeof(HTTP_FILTER_VERSION::lpszFilterDesc), 257u);
  EXPECT_EQ(sizeof(HTTP_FILTER_VERSION), 272u);
  EXPECT_EQ(alignof(HTTP_FILTER_VERSION), 4u);
}

TEST(IsapiLayout, FilterContextRecord) {
  struct Field {
    const char* name;
    std::size_t offset, expected;
  };
  const Field fields[] = {
      {"cbSize", offsetof(HTTP_FILTER_CONTEXT, cbSize), 0},
      {"Revision", offsetof(HTTP_FILTER_CONTEXT, Revision), 4},
      {"ServerContext", offsetof(HTTP_FILTER_CONTEXT, ServerContext), 8},
      {"ulReserved", offsetof(HTTP_FILTER_CONTEXT, ulReserved), 16},
      {"fIsSecurePort", offsetof(HTTP_FILTER_CONTEXT, fIsSecurePort), 20},
      {"pFilterContext", offsetof(HTTP_FILTER_CONTEXT, pFilterContext), 24},
      {"GetServerVariable", offsetof(HTTP_FILTER_CONTEXT, GetServerVariable), 32},
      {"AddResponseHeaders", offsetof(HTTP_FILTER_CONTEXT, AddResponseHeaders), 40},
      {"WriteClient", offsetof(HTTP_FILTER_CONTEXT, WriteClient), 48},
      {"AllocMem", offsetof(HTTP_FILTER_CONTEXT, AllocMem), 56},
      {"ServerSupportFunction", offsetof(HTTP_FILTER_CONTEXT, ServerSupportFunction), 64},
  };
  for (const Field& f : fields) EXPECT_EQ(f.offset, f.expected) << f.name;
  EXPECT_EQ(sizeof(HTTP_FILTER_CONTEXT), 72u);
  EXPECT_EQ(alignof(HTTP_FILTER_CONTEXT), 8u);
}

}  // namespace
}  // namespace sentrel
