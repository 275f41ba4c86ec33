#pragma once
#include <httplib.h>

#include "studio/console_log.h"
#include "studio/live_render.h"
#include "studio/range_render.h"
#include "studio/request_guard.h"
#include "studio/tool_session.h"

// Everything the studio's server answers. Every request must pass the guard
// (403 otherwise); a bad request gets a 4xx answer with {"error": text}.
struct StudioParts {
  const StudioOptions& options;
  const RequestGuard& guard;
  ToolSession& session;
  LiveRender& live;
  RangeRender& range;
  ConsoleLog& console;
};

// Largest request body the server reads (413 beyond).
constexpr size_t kMaxBodyBytes = 64 * 1024;

void InstallRoutes(httplib::Server& server, StudioParts parts);
