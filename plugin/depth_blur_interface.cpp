#include "plugin/depth_blur_interface.h"

#include "plugin/control_tags.h"
#include "plugin/number_utils.h"

void depth_blur_interface::CreateDepthControls(Operator* op) {
  using namespace controls;
  InEnableDepth = op->AddInput("Enable Depth Processing", "EnableDepth",
                               {NumberType(), Control("CheckboxControl"), Notify(), Default(0)});
  InBlurChannel = op->AddInput("Depth Channel", "BlurChannel",
                               {NumberType(), Control("MultiButtonControl"), Default(0), Button("Z"), Button("Red"),
                                Button("Green"), Button("Blue"), Button("Alpha"), ButtonStyle()});
  InSettingsType = op->AddInput("Settings Type", "SettingsType",
                                {NumberType(), Control("MultiButtonControl"), Default(0), Button("Simple"),
                                 Button("Advanced"), ButtonStyle(), Notify()});
  InFocusPosition = op->AddInput("Focus Position", "FocusPosition",
                                 {NumberType(), Control("ColorControl"), {INP_Precision, 12}, Notify()});
  InMinWeight = op->AddInput("Minimum Brightness Weight", "MinWeight",
                             {NumberType(), Control("SliderControl"), AcceptMin(Single(1e-7)), AcceptMax(1), Default(1)});
  InMaxBlurSize = op->AddInput("Max Blur Size (% of Image Width)", "MaxBlurSize",
                               {NumberType(), Control("SliderControl"), AcceptMin(0), SliderMax(10), AcceptMax(25),
                                Default(1)});
  InFocalLength = op->AddInput("Focal Length (mm)", "FocalLength",
                               {NumberType(), Control("SliderControl"), AcceptMin(1), SliderMax(250), Default(35), Notify()});
  InFStop = op->AddInput("F-Stop", "FStop",
                         {NumberType(), Control("SliderControl"), AcceptMin(1), SliderMax(100), Default(2), Notify()});
  InApertureDiameter = op->AddInput("Aperture Diameter (mm)", "ApertureDiameter",
                                    {NumberType(), Control("SliderControl"), AcceptMin(Single(0.0001)), SliderMax(350),
                                     Default(17.5), Notify()});
  InFilmbackWidth = op->AddInput("Filmback Width (mm)", "FilmbackWidth",
                                 {NumberType(), Control("SliderControl"), AcceptMin(1), SliderMax(100),
                                  Default(Single(24.896)), Notify()});
  InDepthMapType = op->AddInput("Depth Map Type", "DepthMapType",
                                {NumberType(), Control("MultiButtonControl"), Default(0), Button("Distance"),
                                 Button("Normalized"), ButtonStyle(), Notify()});
  InDepthMapUnits = op->AddInput("Depth Map Units", "DepthMapUnits",
                                 {NumberType(), Control("MultiButtonControl"), Default(0), Button("mm"), Button("meter"),
                                  Button("inch"), Button("feet"), ButtonStyle()});
  InNearDistance = op->AddInput("Near Distance (Depth map = 0.0)", "NearDistance",
                                {NumberType(), Control("SliderControl"), AcceptMin(Single(0.0001)), SliderMax(5000),
                                 Default(300)});
  InFarDistance = op->AddInput("Far Distance (Depth map = 1.0)", "FarDistance",
                               {NumberType(), Control("SliderControl"), AcceptMin(Single(0.0001)), SliderMax(5000),
                                Default(1000)});
  InInvertDepthMap = op->AddInput("Invert Depth Map ( Near = 1.0 )", "InvertDepthMap",
                                  {NumberType(), Control("CheckboxControl"), Default(0)});
  InNormalize = op->AddInput("Apply Normalization", "Normalize", {NumberType(), Control("CheckboxControl"), Default(0)});
  CreateKernelControls(op);
  InDepthMap = op->AddInput("Depth map image", "DepthMap", {ImageType(), Link(2), OptionalImage()});
}

namespace {
void Show(Input* in, bool shown) { in->SetAttrs({{IC_Visible, shown ? 1 : 0}}); }

// Reads another control's value at a time, giving the host's object back.
float ReadSingle(Input* in, TimeStamp time) {
  Parameter* p = in->GetSource(time);
  float v = float(ParamValue(p));
  if (p) p->Recycle();
  return v;
}
}  // namespace

void depth_blur_interface::DepthControlsChanged(Input* in, Parameter* param, TimeStamp time) {
  if (!in || !param) return;
  const float changed = float(ParamValue(param));
  if (in == InEnableDepth) {
    ShowDepthControls(ParamValue(param) > 0.5);
  } else if (in == InFocalLength) {
    AutoNumber aperture(double(changed / ReadSingle(InFStop, time)));
    InApertureDiameter->SetSource(aperture, time, nullptr, nullptr);
  } else if (in == InApertureDiameter) {
    AutoNumber fstop(double(ReadSingle(InFocalLength, time) / changed));
    InFStop->SetSource(fstop, time, nullptr, nullptr);
  } else if (in == InFStop) {
    AutoNumber aperture(double(ReadSingle(InFocalLength, time) / changed));
    InApertureDiameter->SetSource(aperture, time, nullptr, nullptr);
  } else if (in == InSettingsType || in == InDepthMapType) {
    ApplySettingsRule(time);
  } else {
    KernelControlsChanged(in, param);
  }
}

void depth_blur_interface::ApplySettingsRule(TimeStamp time) {
  if (!DepthControlsShown) return;
  Parameter* settings = InSettingsType->GetSource(time);
  AdvancedSettings = float(ParamValue(settings)) > 0.5f;
  const bool a = AdvancedSettings;
  Show(InMaxBlurSize, !a);
  Show(InInvertDepthMap, !a);
  for (Input* in : {InFocalLength, InApertureDiameter, InFStop, InFilmbackWidth, InDepthMapType, InDepthMapUnits,
                    InNearDistance, InFarDistance})
    Show(in, a);
  if (a) {
    Parameter* type = InDepthMapType->GetSource(time);
    NormalizedDepthMap = float(ParamValue(type)) > 0.5f;
    Show(InInvertDepthMap, NormalizedDepthMap);
    Show(InNearDistance, NormalizedDepthMap);
    Show(InFarDistance, NormalizedDepthMap);
    if (type) type->Recycle();
  }
  if (settings) settings->Recycle();
}

void depth_blur_interface::ShowDepthControls(bool v) {
  DepthControlsShown = v;
  const bool a = AdvancedSettings;
  const bool n = a && NormalizedDepthMap;
  const int k = BlurStyleIndex;
  Show(InBlurStyle, v);
  Show(InBadBokeh, v && (k == 0 || k == 1));
  Show(InKernelAngle, v && k == 1);
  Show(InPolygonSideCount, v && k == 1);
  for (Input* in : {InSettingsType, InFocusPosition, InMinWeight, InNormalize}) Show(in, v);
  Show(InMaxBlurSize, v && !a);
  for (Input* in : {InFocalLength, InApertureDiameter, InFStop, InFilmbackWidth, InDepthMapType, InDepthMapUnits})
    Show(in, v && a);
  Show(InNearDistance, v && a && n);
  Show(InFarDistance, v && a && n);
  Show(InInvertDepthMap, v && (!a || n));
}
