#include "filter/core/block_response.h"

namespace sentrel {

void SendStatus(HTTP_FILTER_CONTEXT* context, const FilterSettings& settings) {
  context->ServerSupportFunction(context, SF_REQ_SEND_RESPONSE_HEADER,
                                 const_cast<char*>(settings.Status.c_str()), 0, 0);
}

void SendBytes(HTTP_FILTER_CONTEXT* context, const void* bytes, std::size_t size) {
  DWORD length = static_cast<DWORD>(size);
  context->WriteClient(context, const_cast<void*>(bytes), &length, 0);
}

void SendBlockResponse(HTTP_FILTER_CONTEXT* context, const FilterSettings& settings) {
  SendStatus(context, settings);
  if (!settings.returnPage.empty()) {
    SendBytes(context, settings.returnPage.data(), settings.returnPage.size());
  }
}

}  // namespace sentrel
