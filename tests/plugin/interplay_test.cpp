#include <gtest/gtest.h>

#include "tests/support/tool_test.h"

namespace {
class Interplay : public testing_support::ToolTest {
 protected:
  double V(const char* id) { return q->FindInput(id)->ValueAt(0); }
  bool Shown(const char* id) { return q->FindInput(id)->Visible(); }
  void Edit(const char* id, double v) { q->FindInput(id)->Edit(v); }
  std::vector<std::string> ShownOf(std::initializer_list<const char*> ids) {
    std::vector<std::string> out;
    for (const char* id : ids)
      if (Shown(id)) out.push_back(id);
    return out;
  }
};

const std::initializer_list<const char*> kSettingsControls = {
    "MaxBlurSize", "InvertDepthMap", "FocalLength", "ApertureDiameter", "FStop", "FilmbackWidth",
    "DepthMapType", "DepthMapUnits", "NearDistance", "FarDistance"};
}  // namespace

TEST_F(Interplay, LensValuesFollowEachOtherInSinglePrecision) {
  Edit("FocalLength", 70);
  EXPECT_DOUBLE_EQ(V("ApertureDiameter"), 35);
  Edit("FStop", 4);
  EXPECT_DOUBLE_EQ(V("ApertureDiameter"), 17.5);
  Edit("ApertureDiameter", 10);
  EXPECT_DOUBLE_EQ(V("FStop"), 7);
  EXPECT_DOUBLE_EQ(V("FocalLength"), 70) << "the changed input is never written back";
  Edit("FStop", 2.3);
  EXPECT_EQ(V("FStop"), 2.3) << "a typed f-stop keeps its last bits";
  EXPECT_EQ(V("ApertureDiameter"), double(70.0f / 2.3f));
}

TEST_F(Interplay, ScaleLockCopiesOnEveryChangeAndRenames) {
  EXPECT_TRUE(q->ScaleLockState) << "the first notification locked the scale";
  EXPECT_FALSE(Shown("Scale Velocity Y"));
  EXPECT_EQ(q->FindInput("Scale Velocity")->Name(), "Scale Velocity");
  Edit("Scale Velocity", 3);
  Edit("ScaleVelocityLocked", 0);
  EXPECT_FALSE(q->ScaleLockState);
  EXPECT_TRUE(Shown("Scale Velocity Y"));
  EXPECT_DOUBLE_EQ(V("Scale Velocity Y"), 3);
  EXPECT_EQ(q->FindInput("Scale Velocity")->Name(), "Scale Velocity X");
  Edit("Scale Velocity Y", -2);
  Edit("Scale Velocity", 5);
  Edit("ScaleVelocityLocked", 1);
  EXPECT_DOUBLE_EQ(V("Scale Velocity Y"), 5) << "relocking copies too";
  EXPECT_FALSE(Shown("Scale Velocity Y"));
  EXPECT_EQ(q->FindInput("Scale Velocity")->Name(), "Scale Velocity");
}

TEST_F(Interplay, ALockNotificationThatChangesNothingOnlyReappliesTheLook) {
  Edit("Scale Velocity", 3);
  q->FindInput("Scale Velocity Y")->SetAttrs({{IC_Visible, 1}, {IC_DisplayName, "x"}});
  q->FindInput("Scale Velocity")->SetAttrs({{IC_DisplayName, "y"}});
  AutoNumber on(1.0);
  q->NotifyChanged(q->FindInput("ScaleVelocityLocked"), on, 0, nullptr);
  EXPECT_DOUBLE_EQ(V("Scale Velocity Y"), 1) << "no copy when the state did not change";
  EXPECT_FALSE(Shown("Scale Velocity Y"));
  EXPECT_EQ(q->FindInput("Scale Velocity")->Name(), "Scale Velocity");
}

TEST_F(Interplay, BlurStylesShowTheirKernelControls) {
  Edit("EnableDepth", 1);
  const std::initializer_list<const char*> kernel = {"BadBokeh", "KernelAngle", "PolygonSideCount"};
  const std::vector<std::vector<std::string>> expected = {
      {"BadBokeh"}, {"BadBokeh", "KernelAngle", "PolygonSideCount"}, {}, {}, {}};
  for (int style : {1, 2, 3, 4, 0}) {
    Edit("BlurStyle", style);
    EXPECT_EQ(ShownOf(kernel), expected[size_t(style)]) << "style " << style;
    EXPECT_TRUE(Shown("BlurStyle"));
    EXPECT_EQ(q->DepthBlur().BlurStyleIndex, style);
  }
}

TEST_F(Interplay, SettingsRowsOfTheVisibilityTable) {
  Edit("EnableDepth", 1);
  using V = std::vector<std::string>;
  EXPECT_EQ(ShownOf(kSettingsControls), (V{"MaxBlurSize", "InvertDepthMap"}));
  Edit("SettingsType", 1);
  EXPECT_EQ(ShownOf(kSettingsControls),
            (V{"FocalLength", "ApertureDiameter", "FStop", "FilmbackWidth", "DepthMapType", "DepthMapUnits"}));
  Edit("DepthMapType", 1);
  EXPECT_EQ(ShownOf(kSettingsControls), (V{"InvertDepthMap", "FocalLength", "ApertureDiameter", "FStop", "FilmbackWidth",
                                           "DepthMapType", "DepthMapUnits", "NearDistance", "FarDistance"}));
  Edit("EnableDepth", 0);
  EXPECT_TRUE(ShownOf(kSettingsControls).empty());
  for (const char* id : {"BlurStyle", "SettingsType", "FocusPosition", "MinWeight", "Normalize"}) EXPECT_FALSE(Shown(id));
  for (const char* id : {"EnableDepth", "BlurChannel", "DepthMap"}) EXPECT_TRUE(Shown(id)) << id;
}

TEST_F(Interplay, SettingsEditsWhileDepthIsOffWaitForTheNextNotification) {
  Edit("SettingsType", 1);
  EXPECT_FALSE(q->DepthBlur().AdvancedSettings);
  EXPECT_TRUE(ShownOf(kSettingsControls).empty());
  Edit("EnableDepth", 1);
  EXPECT_EQ(ShownOf(kSettingsControls), (std::vector<std::string>{"MaxBlurSize", "InvertDepthMap"}))
      << "re-enabling uses the last applied settings";
  AutoNumber advanced(1.0);
  q->NotifyChanged(q->FindInput("SettingsType"), advanced, 0, nullptr);
  EXPECT_TRUE(q->DepthBlur().AdvancedSettings);
  EXPECT_TRUE(Shown("FocalLength"));
}

TEST_F(Interplay, ANotificationWithoutAParameterReachesOnlyTheBase) {
  const int base = q->BaseNotifications;
  const double aperture = V("ApertureDiameter");
  q->NotifyChanged(q->FindInput("FStop"), nullptr, 0, nullptr);
  EXPECT_EQ(q->BaseNotifications, base + 1);
  EXPECT_EQ(V("ApertureDiameter"), aperture);
  AutoNumber four(4.0);
  q->NotifyChanged(q->FindInput("FStop"), four, 0, nullptr);
  EXPECT_EQ(q->BaseNotifications, base + 1);
}
