#include <gtest/gtest.h>

#include <regex>

#include "host/Module.h"
#include "host/Registry.h"
#include "host/SimdLevel.h"
#include "host/ToolServices.h"
#include "tests/support/tool_fixture.h"

TEST(PluginModule, LoadingRegistersTheClassAndUnloadingRemovesIt) {
  ASSERT_EQ(HostClassRegistry().Find("tessalyworks.Quorvex"), nullptr);
  {
    auto m = PluginModule::Load(QUORVEX_PLUGIN_FILE);
    ASSERT_EQ(m->Classes().size(), 1u);
    EXPECT_EQ(HostClassRegistry().Find("tessalyworks.Quorvex"), m->Classes()[0]);
  }
  EXPECT_EQ(HostClassRegistry().Find("tessalyworks.Quorvex"), nullptr);
}

TEST(PluginModule, RegistryRecordCarriesEveryTagInOrder) {
  auto m = PluginModule::Load(QUORVEX_PLUGIN_FILE);
  const TagList& t = m->Classes()[0]->Tags;
  std::vector<TagID> order;
  for (const Tag& tag : t.tags()) order.push_back(tag.id);
  EXPECT_EQ(order, (std::vector<TagID>{0x60000001, 0x60000002, 0x10000000, 0x30000008, 0x60000011, 0x60000005,
                                       0x60000000, 0x30000002, 0x10000004, 0x30000003, 0x30000004, 0x30000005,
                                       0x30000007, 0x30000009, 0x10000017, 0x3000000a}));
  EXPECT_EQ(t.GetLong(REG_ClassKind, 0), 3);
  EXPECT_EQ(t.GetString(REG_Name, ""), "Quorvex");
  EXPECT_EQ(t.GetString(REG_Category, ""), "Lumora");
  EXPECT_EQ(t.GetString(REG_ShortName, ""), "Qrvx");
  EXPECT_EQ(t.GetString(REG_Help, ""), "Simulates depth of field and motion blurring");
  EXPECT_EQ(t.GetString(REG_About, ""), "Tessaly Software Plugin. Please visit our website for more quality plugins.");
  EXPECT_EQ(t.GetString(REG_Company, ""), "Tessaly Software");
  EXPECT_EQ(t.GetLong(REG_ResourceID, 0), 101);
  EXPECT_EQ(t.GetLong(REG_IconID, 0), 101);
  EXPECT_TRUE(std::regex_match(t.GetString(REG_BuildText, ""),
                               std::regex("Built: (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 1-3][0-9] [0-9]{4}")));
  EXPECT_EQ(t.GetPtr(REG_BaseClassID, nullptr), &ThreadedOperator::ClassID);
  EXPECT_NE(t.GetPtr(REG_Factory, nullptr), nullptr);
  EXPECT_NE(t.GetPtr(REG_ScriptInfo, nullptr), nullptr);
}

TEST(PluginModule, CarriesBitmap101AsA160By120UncompressedBmp) {
  auto m = PluginModule::Load(QUORVEX_PLUGIN_FILE);
  std::vector<uint8_t> bmp = m->Resource(101);
  ASSERT_GE(bmp.size(), 54u);
  auto u32 = [&](size_t o) { return uint32_t(bmp[o]) | uint32_t(bmp[o + 1]) << 8 | uint32_t(bmp[o + 2]) << 16 | uint32_t(bmp[o + 3]) << 24; };
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(bmp[1], 'M');
  EXPECT_EQ(u32(18), 160u);
  EXPECT_EQ(u32(22), 120u);
  EXPECT_EQ(bmp[28], 24) << "bits per pixel";
  EXPECT_EQ(u32(30), 0u) << "uncompressed";
  EXPECT_EQ(bmp.size(), 54u + 160u * 3u * 120u);
  EXPECT_TRUE(m->Resource(102).empty());
}

TEST(PluginModule, AFileThatRegistersNoClassIsRejected) {
  // The host library itself loads but registers nothing.
  std::string host_lib = std::string(QUORVEX_PLUGIN_FILE);
  host_lib = host_lib.substr(0, host_lib.rfind("/quorvex/")) + "/libquorvexhost.so";
  try {
    PluginModule::Load(host_lib);
    FAIL() << "a module without a class must be rejected";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("registers no tool class"), std::string::npos);
  }
  EXPECT_THROW(PluginModule::Load("/nonexistent/quorvex.so"), std::runtime_error);
}

TEST(PluginModule, ToolsMadeThroughTheModuleRenderAndAreFreed) {
  auto m = PluginModule::Load(QUORVEX_PLUGIN_FILE);
  const int64_t before = RefObject::LiveObjects();
  testing_support::Console console;
  Operator* op = m->Classes()[0]->Create(&console.doc);
  ASSERT_EQ(op->Inputs().size(), 36u);
  FltPixel p;
  p.R = 0.5f;
  p.A = 1.0f;
  Image* in = testing_support::Flat(4, 3, p);
  op->FindInput("Input")->Connect(in);
  Image* out;
  {
    Request req(op, 0);
    op->Process(&req);
    out = static_cast<Image*>(req.TakeResult(op->FindOutput("Output")));
  }
  ASSERT_NE(out, nullptr);
  FltPixel q;
  out->GetPixel(2, 1, q);
  EXPECT_NEAR(q.R, 0.5f, 1e-6) << "the alpha patch lifts alpha above 1, and the cap scales colour back";
  EXPECT_FLOAT_EQ(q.A, 1.0f);
  op->FindInput("Input")->Connect(nullptr);
  out->Recycle();
  in->Recycle();
  op->Recycle();
  EXPECT_EQ(RefObject::LiveObjects(), before) << "every host object given back exactly once";
  EXPECT_EQ(RefObject::SurplusRecycles(), 0);
}

// Hosts reach the engine's rules through the module's services table: the
// depth the tool reads under a pixel and each pixel's blur diameter.
TEST(PluginModule, ServicesAnswerWithTheToolsOwnRules) {
  auto m = PluginModule::Load(QUORVEX_PLUGIN_FILE);
  const ToolServices* s = m->Services();
  ASSERT_NE(s, nullptr) << "the module exports no services table";
  EXPECT_EQ(std::string(s->SimdLevel()), ActiveSimdLevel());
  testing_support::Console console;
  Operator* op = m->Classes()[0]->Create(&console.doc);
  ASSERT_NE(op, nullptr);
  // Depth value x / 9 across; Simple mode, focus at 0, largest blur 10 % of
  // 40 pixels: a sample at value v is blurred by 4 * v / (1 + v) pixels.
  Image* in = testing_support::MakeImage(40, 2, [](int x, int) {
    FltPixel p{0.5f, 0.5f, 0.5f, 1};
    p.Z = float(x % 10) / 9.0f;
    p.R = 0.25f;
    return p;
  });
  op->FindInput("Input")->Connect(in);
  for (auto c : {std::make_pair("EnableDepth", 1.0), std::make_pair("MaxBlurSize", 10.0),
                 std::make_pair("FocusPosition", 0.0)})
    op->FindInput(c.first)->Edit(c.second);
  {
    Request req(op, 0.0);
    float value = 0;
    char error[200] = "";
    EXPECT_EQ(s->DepthValueAt(op, &req, in, 3, 1, &value, error, sizeof error), 1);
    EXPECT_FLOAT_EQ(value, 3.0f / 9.0f);
    op->FindInput("BlurChannel")->Edit(1);  // "Red"
    EXPECT_EQ(s->DepthValueAt(op, &req, in, 3, 1, &value, error, sizeof error), 1);
    EXPECT_FLOAT_EQ(value, 0.25f);
    EXPECT_EQ(s->DepthValueAt(op, &req, in, 40, 0, &value, error, sizeof error), 0);
    EXPECT_NE(std::string(error).find("outside"), std::string::npos) << error;
    op->FindInput("BlurChannel")->Edit(0);

    std::vector<float> d(80, -1.0f);
    ASSERT_EQ(s->BlurDiameters(op, &req, d.data(), error, sizeof error), 1) << error;
    for (int x = 0; x < 10; ++x) {
      const double v = x / 9.0, blur = 4.0 * v / (1.0 + v);
      EXPECT_NEAR(d[size_t(x)], std::floor(blur * 100.0 + 1e-3) / 100.0, 0.011) << x;
    }
  }
  op->FindInput("Input")->Connect(nullptr);
  op->Recycle();
  in->Recycle();
}
