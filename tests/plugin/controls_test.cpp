#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "plugin/control_tags.h"
#include "tests/support/tool_test.h"

using testing_support::Console;
using testing_support::ToolFactory;
using ControlSet = testing_support::ToolTest;

namespace {
constexpr double kInf = std::numeric_limits<double>::infinity();

struct Row {
  const char* page;
  const char* id;
  const char* name;
  const char* control;
  double accept_min, accept_max, slider_min, slider_max, def;
  std::vector<std::string> buttons;
  bool notify;
};

// The whole control set in creation order.
const std::vector<Row>& Table() {
  using controls::Single;
  static const std::vector<Row> rows{
      {"Motion Blur", "VelocityChannel", "Velocity X/Y Channel", "MultiButtonControl", -kInf, kInf, -kInf, kInf, 0, {"VectX/VectY", "Red/Green", "Green/Blue"}, false},
      {"Motion Blur", "NormalizedVelocity", "Clamped Velocity (Range 0.0 to 1.0)", "CheckboxControl", -kInf, kInf, -kInf, kInf, 0, {}, false},
      {"Motion Blur", "AntialiasedVelocity", "Antialiased Velocity", "CheckboxControl", -kInf, kInf, -kInf, kInf, 0, {}, false},
      {"Motion Blur", "ScaleVelocityLocked", "Scale Velocity X/Y Locked", "CheckboxControl", -kInf, kInf, -kInf, kInf, 1, {}, true},
      {"Motion Blur", "Scale Velocity", "Scale Velocity", "SliderControl", -kInf, kInf, -10, 10, 1, {}, false},
      {"Motion Blur", "Scale Velocity Y", "Scale Velocity Y", "SliderControl", -kInf, kInf, -10, 10, 1, {}, false},
      {"Motion Blur", "AlphaPatcher", "Alpha Patcher", "SliderControl", 0, 1, 0, 0.10000000149011612, 0.010001000016927719, {}, false},
      {"Motion Blur", "EdgeCondition", "Edges", "MultiButtonControl", -kInf, kInf, -kInf, kInf, 0, {"Duplicate", "Black", "Mirror"}, false},
      {"Depth Blur", "EnableDepth", "Enable Depth Processing", "CheckboxControl", -kInf, kInf, -kInf, kInf, 0, {}, true},
      {"Depth Blur", "BlurChannel", "Depth Channel", "MultiButtonControl", -kInf, kInf, -kInf, kInf, 0, {"Z", "Red", "Green", "Blue", "Alpha"}, false},
      {"Depth Blur", "SettingsType", "Settings Type", "MultiButtonControl", -kInf, kInf, -kInf, kInf, 0, {"Simple", "Advanced"}, true},
      {"Depth Blur", "FocusPosition", "Focus Position", "ColorControl", -kInf, kInf, -kInf, kInf, 0, {}, true},
      {"Depth Blur", "MinWeight", "Minimum Brightness Weight", "SliderControl", Single(1e-7), 1, Single(1e-7), 1, 1, {}, false},
      {"Depth Blur", "MaxBlurSize", "Max Blur Size (% of Image Width)", "SliderControl", 0, 25, 0, 10, 1, {}, false},
      {"Depth Blur", "FocalLength", "Focal Length (mm)", "SliderControl", 1, kInf, 1, 250, 35, {}, true},
      {"Depth Blur", "FStop", "F-Stop", "SliderControl", 1, kInf, 1, 100, 2, {}, true},
      {"Depth Blur", "ApertureDiameter", "Aperture Diameter (mm)", "SliderControl", Single(0.0001), kInf, Single(0.0001), 350, 17.5, {}, true},
      {"Depth Blur", "FilmbackWidth", "Filmback Width (mm)", "SliderControl", 1, kInf, 1, 100, 24.895999908447266, {}, true},
      {"Depth Blur", "DepthMapType", "Depth Map Type", "MultiButtonControl", -kInf, kInf, -kInf, kInf, 0, {"Distance", "Normalized"}, true},
      {"Depth Blur", "DepthMapUnits", "Depth Map Units", "MultiButtonControl", -kInf, kInf, -kInf, kInf, 0, {"mm", "meter", "inch", "feet"}, false},
      {"Depth Blur", "NearDistance", "Near Distance (Depth map = 0.0)", "SliderControl", Single(0.0001), kInf, Single(0.0001), 5000, 300, {}, false},
      {"Depth Blur", "FarDistance", "Far Distance (Depth map = 1.0)", "SliderControl", Single(0.0001), kInf, Single(0.0001), 5000, 1000, {}, false},
      {"Depth Blur", "InvertDepthMap", "Invert Depth Map ( Near = 1.0 )", "CheckboxControl", -kInf, kInf, -kInf, kInf, 0, {}, false},
      {"Depth Blur", "Normalize", "Apply Normalization", "CheckboxControl", -kInf, kInf, -kInf, kInf, 0, {}, false},
      {"Depth Blur", "BlurStyle", "Blur Style", "MultiButtonControl", -kInf, kInf, -kInf, kInf, 0, {"Disk", "Polygon", "Gaussian", "Airy Disk", "Laplacian"}, true},
      {"Depth Blur", "BadBokeh", "Bad Bokeh", "SliderControl", 0, kInf, 0, 1, 0, {}, false},
      {"Depth Blur", "PolygonSideCount", "Polygon Side Count", "SliderControl", 3, kInf, 3, 12, 6, {}, false},
      {"Depth Blur", "KernelAngle", "Kernel Angle", "SliderControl", 0, kInf, 0, 90, 0, {}, false},
  };
  return rows;
}
}  // namespace

TEST_F(ControlSet, NumericControlsMatchTheTableInCreationOrder) {
  const auto& rows = Table();
  const auto& inputs = q->Inputs();
  ASSERT_EQ(inputs.size(), 36u);
  for (size_t i = 0; i < rows.size(); ++i) {
    const Row& r = rows[i];
    const Input* in = inputs[i];
    SCOPED_TRACE(r.id);
    EXPECT_EQ(in->ID, r.id);
    EXPECT_EQ(in->Page, r.page);
    EXPECT_EQ(in->CreationTags.GetString(INP_ControlType, ""), r.control);
    EXPECT_EQ(in->DataType, "Number");
    if (std::string(r.id) != "Scale Velocity") {
      EXPECT_EQ(in->Name(), r.name);  // renamed by the lock at creation
    }
    EXPECT_EQ(in->AcceptMin, r.accept_min);
    EXPECT_EQ(in->AcceptMax, r.accept_max);
    if (std::isfinite(r.slider_max)) {
      EXPECT_EQ(in->SliderMin, r.slider_min);
      EXPECT_EQ(in->SliderMax, r.slider_max);
    }
    EXPECT_EQ(in->Default, r.def) << "defaults are exact, single-precision ones widened";
    EXPECT_EQ(in->Buttons, r.buttons);
    EXPECT_EQ(in->Notifies, r.notify);
    EXPECT_EQ(in->CreationTags.Has(MBC_ButtonStyle), !r.buttons.empty());
  }
  EXPECT_FALSE(q->FindInput("FocusPosition")->CreationTags.Has(INP_Default)) << "no range, no default";
  EXPECT_EQ(q->FindInput("FocusPosition")->CreationTags.GetLong(INP_Precision, 0), 12);
  EXPECT_EQ(q->FindInput("PolygonSideCount")->CreationTags.GetLong(INP_Integer, 0), 1);
  EXPECT_EQ(q->FindInput("ScaleVelocityLocked")->CreationTags.GetLong(INP_KeepTogether, 0), 1);
  EXPECT_EQ(q->FindInput("Scale Velocity Y")->CreationTags.GetLong(IC_Visible, 1), 0);
}

TEST_F(ControlSet, ImageInputsInfoFieldsAndTheOutput) {
  struct Img { const char* id; const char* name; int link; bool optional; };
  const Img imgs[] = {{"DepthMap", "Depth map image", 2, true}, {"Input", "Input image", 1, false},
                      {"Motion Image", "Motion image", 3, true}, {"BlurImage", "Blur image", 4, true}};
  for (const Img& i : imgs) {
    const Input* in = q->FindInput(i.id);
    ASSERT_NE(in, nullptr) << i.id;
    EXPECT_EQ(in->DataType, "Image");
    EXPECT_EQ(in->Name(), i.name);
    EXPECT_EQ(in->LinkNumber, i.link);
    EXPECT_EQ(in->Optional, i.optional);
  }
  EXPECT_EQ(q->Inputs()[28]->ID, "DepthMap") << "the depth map closes the Depth Blur page";
  const char* info[][3] = {{"CompanyName", "Company name", "Tessaly Software"}, {"PackageName", "Package name", "Lumora"},
                           {"PluginName", "Plugin name", "Quorvex"}};
  for (int i = 0; i < 3; ++i) {
    const Input* in = q->Inputs()[29 + i];
    EXPECT_EQ(in->ID, info[i][0]);
    EXPECT_EQ(in->Name(), info[i][1]);
    EXPECT_EQ(in->TextValue(), info[i][2]);
    EXPECT_EQ(in->Page, "Info");
  }
  EXPECT_EQ(q->Inputs()[32]->ID, "DocUrl");
  ASSERT_EQ(q->Outputs().size(), 1u);
  EXPECT_EQ(q->Outputs()[0]->ID, "Output");
  EXPECT_EQ(q->Outputs()[0]->Name, "Output image");
  EXPECT_EQ(q->Pages(), (std::vector<std::string>{"Motion Blur", "Depth Blur", "Info"}));
}

TEST(ToolLifecycle, TwoToolsShareNothingAndAnUnrenderedToolFreesCleanly) {
  const int64_t before = RefObject::LiveObjects();
  {
    ToolFactory f;
    Console c;
    Quorvex* a = f.Create(&c.doc);
    Quorvex* b = f.Create(&c.doc);
    EXPECT_NE(a->FindInput("FStop"), b->FindInput("FStop"));
    a->FindInput("FStop")->Edit(4.0);
    EXPECT_DOUBLE_EQ(b->FindInput("FStop")->ValueAt(0), 2.0);
    EXPECT_DOUBLE_EQ(b->FindInput("ApertureDiameter")->ValueAt(0), 17.5);
    EXPECT_TRUE(a->SampleList.empty());
    EXPECT_TRUE(a->DepthBlur().KernelBank.empty());
    EXPECT_EQ(a->DepthBlur().ColorAccum.width, 0);
    b->Recycle();
    a->Recycle();
  }
  EXPECT_EQ(RefObject::LiveObjects(), before);
}
