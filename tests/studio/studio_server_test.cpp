// The studio's pieces below the browser: names inside the output folder, the
// request guard, and the session's edits, keys and cancelled renders.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <future>
#include <set>
#include <thread>

#include "host/Tags.h"
#include "studio/client_error.h"
#include "studio/out_names.h"
#include "studio/request_guard.h"
#include "studio/tool_session.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tool_fixture.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

TEST(PathInsideFolder, NamesThatStayInsideAndNamesThatLeave) {
  const testing_support::TempDir out, elsewhere;
  fs::create_directories(out.dir / "shots");
  fs::create_symlink(elsewhere.dir, out.dir / "link");  // a link inside that points outside
  const std::string root = fs::canonical(out.dir).string();
  struct Case {
    const char* name;
    const char* inside;  // null: refused
  } cases[] = {
      {"a.comp", "a.comp"},
      {"shots/out.####.exr", "shots/out.####.exr"},
      {"new/folder/out.exr", "new/folder/out.exr"},
      {"./a.exr", "a.exr"},
      {"", nullptr},
      {"/etc/passwd", nullptr},
      {"../a.exr", nullptr},
      {"shots/../../a.exr", nullptr},
      {"shots/..", nullptr},
      {"link/a.exr", nullptr},
      {"shots/", nullptr},
      {".", nullptr},
      {"a\nb.exr", nullptr},
  };
  for (const Case& c : cases) {
    if (c.inside) {
      EXPECT_EQ(PathInsideFolder(out.dir.string(), c.name), root + "/" + c.inside) << c.name;
    } else {
      try {
        PathInsideFolder(out.dir.string(), c.name);
        ADD_FAILURE() << "accepted " << c.name;
      } catch (const ClientError& e) {
        EXPECT_EQ(e.Status, 400) << c.name;
      }
    }
  }
}

TEST(RequestGuard, HostHeadersAndTokens) {
  RequestGuard g{"0123456789abcdef0123456789abcdef", AllowedHosts("127.0.0.1"), 8123};
  struct Case {
    const char* host;
    bool allowed;
  } cases[] = {
      {"127.0.0.1:8123", true},   {"127.0.0.1", true},          {"localhost:8123", true},
      {"LOCALHOST:8123", true},   {"[::1]:8123", true},         {"[::1]", true},
      {"127.0.0.1:8124", false},  {"127.0.0.1:", false},        {"127.0.0.1:81x3", false},
      {"evil.example", false},    {"evil.example:8123", false}, {"127.0.0.1.evil.example:8123", false},
      {"", false},                {"[::1", false},              {"[::1]x", false},
      {"127.0.0.1:999999", false},
  };
  for (const Case& c : cases) EXPECT_EQ(g.HostAllowed(c.host), c.allowed) << c.host;

  EXPECT_TRUE(g.TokenMatches("0123456789abcdef0123456789abcdef"));
  for (const char* bad : {"", "0123456789abcdef0123456789abcdee", "0123456789abcdef", "0123456789abcdef0123456789abcdef0"})
    EXPECT_FALSE(g.TokenMatches(bad)) << bad;
  EXPECT_FALSE(RequestGuard{}.TokenMatches("")) << "no token set means nothing matches";

  // Another listening address is allowed by name, besides the loopback names.
  RequestGuard lan{"t", AllowedHosts("192.168.1.20"), 80};
  EXPECT_TRUE(lan.HostAllowed("192.168.1.20:80"));
  EXPECT_TRUE(lan.HostAllowed("127.0.0.1:80"));
  EXPECT_FALSE(lan.HostAllowed("192.168.1.21:80"));
}

TEST(RequestGuard, TokensAreFreshHexadecimal) {
  std::set<std::string> seen;
  for (int i = 0; i < 50; ++i) {
    const std::string t = NewToken();
    EXPECT_EQ(t.size(), 32u);
    EXPECT_EQ(t.find_first_not_of("0123456789abcdef"), std::string::npos) << t;
    seen.insert(t);
  }
  EXPECT_EQ(seen.size(), 50u);
}

// A session over the bundled example, with the tool linked in.
class SessionTest : public ::testing::Test {
 protected:
  SessionTest() {
    options_.input = std::string(QUORVEX_SOURCE_DIR) + "/examples/scene.exr";
    options_.frame_list = {1, 2, 3, 4, 5};
    tool_ = factory_.Create(&console_doc_);
    session_ = std::make_unique<ToolSession>(options_, *tool_, nullptr, log_);
  }
  ~SessionTest() override {
    session_.reset();
    tool_->Recycle();
  }
  json Control(const json& panel, const std::string& id) {
    for (const json& c : panel["controls"])
      if (c["id"] == id) return c;
    ADD_FAILURE() << "no control " << id;
    return {};
  }

  StudioOptions options_;
  testing_support::ToolFactory factory_;
  ConsoleLog log_;
  HostDoc console_doc_{[this](int kind, const std::string& text) { log_.Add(kind, text); }};
  Quorvex* tool_ = nullptr;
  std::unique_ptr<ToolSession> session_;
};

TEST_F(SessionTest, KeyButtonAndEditsOfKeyedControls) {
  auto key = [&] { return session_->ToggleKey({{"id", "Scale Velocity"}}); };
  auto frame = [&](int f) { return session_->SetFrame({{"frame", f}}); };
  auto edit = [&](double v) { return session_->Edit({{"id", "Scale Velocity"}, {"value", v}}); };

  json p = key();  // a constant becomes one key at frame 1
  EXPECT_EQ(Control(p, "Scale Velocity")["keys"], json::parse("[[1.0, 1.0]]"));
  frame(5);
  p = edit(3.0);  // an edit of a keyed control keys the current frame
  EXPECT_EQ(Control(p, "Scale Velocity")["keys"], json::parse("[[1.0, 1.0], [5.0, 3.0]]"));
  p = frame(3);
  EXPECT_DOUBLE_EQ(Control(p, "Scale Velocity")["value"].get<double>(), 2.0);
  EXPECT_FALSE(Control(p, "Scale Velocity")["key_here"].get<bool>());
  p = key();  // no key here: one at the interpolated value
  EXPECT_EQ(Control(p, "Scale Velocity")["keys"], json::parse("[[1.0, 1.0], [3.0, 2.0], [5.0, 3.0]]"));
  key();
  frame(1);
  key();
  frame(5);
  p = key();  // the last key gone: its value stays as a constant
  EXPECT_FALSE(Control(p, "Scale Velocity")["animated"].get<bool>());
  EXPECT_DOUBLE_EQ(Control(p, "Scale Velocity")["value"].get<double>(), 3.0);
}

TEST_F(SessionTest, RefusedRequestsLeaveTheToolAsItWas) {
  const json before = session_->Panel();
  const json bad[] = {
      json{{"id", "NoSuchControl"}, {"value", 1}}, json{{"id", "FocalLength"}, {"value", "x"}},
      json{{"id", "FocalLength"}}, json{{"value", 1}}, json{{"id", "Input"}, {"value", 1}},
      json{{"id", "DocUrl"}, {"value", 2}}, json::array(),
  };
  for (const json& b : bad) {
    EXPECT_THROW(session_->Edit(b), ClientError) << b.dump();
  }
  EXPECT_THROW(session_->SetFrame({{"frame", 9}}), ClientError);
  EXPECT_THROW(session_->SetFrame({{"frame", 1.5}}), ClientError);
  EXPECT_THROW(session_->SetView({{"view", "focus"}}), ClientError) << "no engine services: no focus view";
  EXPECT_THROW(session_->FocusAt({{"x", 1}, {"y", 1}}), ClientError) << "no engine services: no focus tool";
  // Checked before the tool is touched: no render was stopped, no new picture is due.
  EXPECT_EQ(session_->Panel(), before);
}

TEST_F(SessionTest, ProxyThenFullAndAChangeCancelsTheRenderInFlight) {
  uint64_t gen = session_->Generation();
  ASSERT_TRUE(session_->WantsProxy());
  auto proxy = session_->Render(gen, kProxyStage);
  ASSERT_TRUE(proxy);
  EXPECT_EQ(proxy->divisor, 2) << "a fast frame gets a half-size proxy";
  EXPECT_EQ(proxy->width, 240);
  EXPECT_EQ(proxy->height, 135);
  auto full = session_->Render(gen, kFullStage);
  ASSERT_TRUE(full);
  EXPECT_EQ(full->width, 480);
  EXPECT_EQ(full->rgba.size(), size_t(480 * 270 * 4));

  // The widest blur makes a render of seconds; an edit in the middle stops it.
  session_->Edit({{"id", "EnableDepth"}, {"value", 1}});
  session_->Edit({{"id", "MaxBlurSize"}, {"value", 25}});
  gen = session_->Generation();
  auto running = std::async(std::launch::async, [&] { return session_->Render(gen, kFullStage); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  session_->Edit({{"id", "MaxBlurSize"}, {"value", 0.5}});
  EXPECT_EQ(running.get(), nullptr) << "the render of the old state was cancelled";
  EXPECT_EQ(session_->Render(gen, kFullStage), nullptr) << "an old state is not rendered again";
  auto next = session_->Render(session_->Generation(), kFullStage);
  ASSERT_TRUE(next) << "the abort flag is down again for the new state";
  EXPECT_FALSE(next->failed);
}

}  // namespace
