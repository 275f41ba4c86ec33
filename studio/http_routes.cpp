#include "studio/http_routes.h"

#include <cstring>
#include <nlohmann/json.hpp>

#include "app/usage_error.h"
#include "studio/client_error.h"
#include "studio/out_names.h"
#include "studio/page_files.h"

using json = nlohmann::json;

namespace {

constexpr const char* kTokenHeader = "X-Quorvex-Token";

void SendJson(httplib::Response& res, const json& body, int status = 200) {
  res.status = status;
  res.set_header("Cache-Control", "no-store");
  res.set_content(body.dump(), "application/json");
}

void SendError(httplib::Response& res, int status, const std::string& message) {
  SendJson(res, json{{"error", message}}, status);
}

json Body(const httplib::Request& req) {
  try {
    return json::parse(req.body);
  } catch (const json::exception& e) {
    throw ClientError(400, std::string("the request body is not JSON: ") + e.what());
  }
}

// Runs a handler; its refusals become 4xx answers, other failures 500.
httplib::Server::Handler Guarded(std::function<void(const httplib::Request&, httplib::Response&)> f) {
  return [f = std::move(f)](const httplib::Request& req, httplib::Response& res) {
    try {
      f(req, res);
    } catch (const ClientError& e) {
      SendError(res, e.Status, e.what());
    } catch (const UsageError& e) {
      SendError(res, 400, e.what());
    } catch (const json::exception& e) {
      SendError(res, 400, e.what());
    } catch (const std::logic_error& e) {  // a query number that does not read
      SendError(res, 400, std::string("bad request: ") + e.what());
    } catch (const std::exception& e) {
      SendError(res, 500, e.what());
    }
  };
}

const char* MimeType(const std::string& path) {
  auto ends = [&](const char* ext) {
    const size_t n = std::strlen(ext);
    return path.size() >= n && path.compare(path.size() - n, n, ext) == 0;
  };
  if (ends(".html")) return "text/html; charset=utf-8";
  if (ends(".css")) return "text/css; charset=utf-8";
  if (ends(".js")) return "text/javascript; charset=utf-8";
  return "application/octet-stream";
}

void SendFloats(httplib::Response& res, const std::vector<float>& rgba) {
  res.set_header("Cache-Control", "no-store");
  res.set_content(reinterpret_cast<const char*>(rgba.data()), rgba.size() * sizeof(float),
                  "application/octet-stream");
}

}  // namespace

void InstallRoutes(httplib::Server& server, StudioParts p) {
  server.set_payload_max_length(kMaxBodyBytes);
  server.set_pre_routing_handler([&guard = p.guard](const httplib::Request& req, httplib::Response& res) {
    if (!guard.HostAllowed(req.get_header_value("Host"))) {
      SendError(res, 403, "this server answers only requests addressed to the loopback address");
      return httplib::Server::HandlerResponse::Handled;
    }
    std::string token = req.get_header_value(kTokenHeader);
    if (token.empty()) token = req.get_param_value("token");
    if (!guard.TokenMatches(token)) {
      SendError(res, 403, "missing or wrong token: open the address quorvex-studio printed");
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });

  // The page; its links carry the token on to the style sheet and the script.
  const std::string token = p.guard.token;
  server.Get("/(|index.html|studio.css|studio.js)", [token](const httplib::Request& req, httplib::Response& res) {
    const std::string path = req.path == "/" ? "/index.html" : req.path;
    for (const PageFile& f : PageFiles()) {
      if (path != f.path) continue;
      std::string text(reinterpret_cast<const char*>(f.data), f.size);
      if (path == "/index.html")
        for (size_t at; (at = text.find("__TOKEN__")) != std::string::npos;) text.replace(at, 9, token);
      res.set_header("Cache-Control", "no-store");
      res.set_content(text, MimeType(path));
      return;
    }
    SendError(res, 404, "no such page file");
  });

  ToolSession& s = p.session;
  server.Get("/api/panel", Guarded([&s](auto&, auto& res) { SendJson(res, s.Panel()); }));
  server.Post("/api/edit", Guarded([&s](auto& req, auto& res) { SendJson(res, s.Edit(Body(req))); }));
  server.Post("/api/key", Guarded([&s](auto& req, auto& res) { SendJson(res, s.ToggleKey(Body(req))); }));
  server.Post("/api/frame", Guarded([&s](auto& req, auto& res) { SendJson(res, s.SetFrame(Body(req))); }));
  server.Post("/api/view", Guarded([&s](auto& req, auto& res) { SendJson(res, s.SetView(Body(req))); }));
  server.Post("/api/focus", Guarded([&s](auto& req, auto& res) { SendJson(res, s.FocusAt(Body(req))); }));

  // The newest picture after (gen, stage), waiting for it up to 20 s (204 when none came).
  server.Get("/api/picture", Guarded([&live = p.live](const httplib::Request& req, httplib::Response& res) {
    const uint64_t gen = req.has_param("gen") ? std::stoull(req.get_param_value("gen")) : 0;
    const int stage = req.has_param("stage") ? std::stoi(req.get_param_value("stage")) : 0;
    auto pic = live.WaitNewer(gen, stage, std::chrono::seconds(20));
    if (!pic) {
      res.status = 204;
      return;
    }
    res.set_header("X-Generation", std::to_string(pic->generation));
    res.set_header("X-Stage", std::to_string(pic->stage));
    res.set_header("X-Width", std::to_string(pic->width));
    res.set_header("X-Height", std::to_string(pic->height));
    res.set_header("X-Divisor", std::to_string(pic->divisor));
    res.set_header("X-View", pic->view);
    res.set_header("X-Failed", pic->failed ? "1" : "0");
    res.set_header("X-Render-Ms", std::to_string(int(pic->render_ms + 0.5)));
    char ramp[64];
    std::snprintf(ramp, sizeof ramp, "%.3f %.3f", pic->ramp.smallest, pic->ramp.largest);
    res.set_header("X-Ramp", ramp);
    SendFloats(res, pic->rgba);
  }));

  server.Get("/api/source", Guarded([&s](auto&, httplib::Response& res) {
    const ToolSession::Source src = s.CurrentSource();
    res.set_header("X-Frame", std::to_string(src.frame));
    res.set_header("X-Width", std::to_string(src.width));
    res.set_header("X-Height", std::to_string(src.height));
    SendFloats(res, *src.rgba);
  }));

  server.Get("/api/console", Guarded([&console = p.console](const httplib::Request& req, httplib::Response& res) {
    const long long after = req.has_param("after") ? std::stoll(req.get_param_value("after")) : 0;
    json lines = json::array();
    for (const ConsoleLog::Line& l : console.After(after))
      lines.push_back({{"seq", l.seq}, {"kind", l.kind}, {"text", l.text}});
    SendJson(res, json{{"lines", lines}});
  }));

  server.Post("/api/save-comp", Guarded([&s, &o = p.options](auto& req, auto& res) {
    const json body = Body(req);
    if (!body.is_object() || !body.contains("name") || !body["name"].is_string())
      throw ClientError(400, "the request needs \"name\": the comp file's name, e.g. shot.comp");
    const std::string path = PathInsideFolder(o.out_dir, body["name"].get<std::string>());
    s.SaveComp(path);
    SendJson(res, json{{"saved", path}});
  }));
  server.Post("/api/render", Guarded([&range = p.range](auto& req, auto& res) { SendJson(res, range.Start(Body(req))); }));
  server.Get("/api/render", Guarded([&range = p.range](auto&, auto& res) { SendJson(res, range.Status()); }));

  server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (res.body.empty()) SendError(res, res.status, res.status == 413 ? "the request is too large" : "no such address");
  });
}
