// The answers the filter sends itself: a status line and a page, written
// through the server's callbacks. The block answer is the Status line with
// the Return page; the picture-code challenge sends its own pages with them.
#pragma once

#include <cstddef>

#include "filter/core/isapi.h"
#include "filter/settings/filter_settings.h"

namespace sentrel {

// Sends the configured Status line as the response header.
void SendStatus(HTTP_FILTER_CONTEXT* context, const FilterSettings& settings);
// Writes bytes to the client.
void SendBytes(HTTP_FILTER_CONTEXT* context, const void* bytes, std::size_t size);

// Sends the Status line and the Return page (when it is not empty).
void SendBlockResponse(HTTP_FILTER_CONTEXT* context, const FilterSettings& settings);

}  // namespace sentrel
