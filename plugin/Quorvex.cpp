#include "plugin/Quorvex.h"

#include "plugin/control_tags.h"
#include "plugin/number_utils.h"

Quorvex::Quorvex(Registry* reg, const ScriptVal& sv, const TagList& tags) : ThreadedOperator(reg, sv, tags) {
  SampleList.clear();
  ScaleLockState = false;
  AddControlPage("Motion Blur");
  CreateMotionControls();
  AddControlPage("Depth Blur");
  CreateDepthControls(this);
  CreateInfoControls(this);
  CreateImageInputs();
}

Quorvex::~Quorvex() {
  SampleList.clear();
  SampleList.shrink_to_fit();
}

void Quorvex::CreateMotionControls() {
  using namespace controls;
  InVelocityChannel = AddInput("Velocity X/Y Channel", "VelocityChannel",
                               {NumberType(), Control("MultiButtonControl"), Default(0), Button("VectX/VectY"),
                                Button("Red/Green"), Button("Green/Blue"), ButtonStyle()});
  InNormalizedVelocity = AddInput("Clamped Velocity (Range 0.0 to 1.0)", "NormalizedVelocity",
                                  {NumberType(), Control("CheckboxControl"), Default(0)});
  InAntialiasedVelocity = AddInput("Antialiased Velocity", "AntialiasedVelocity",
                                   {NumberType(), Control("CheckboxControl"), Default(0)});
  InScaleVelocityLocked = AddInput("Scale Velocity X/Y Locked", "ScaleVelocityLocked",
                                   {NumberType(), Control("CheckboxControl"), {INP_KeepTogether, 1}, Notify(), Default(1)});
  InScaleVelocity = AddInput("Scale Velocity", "Scale Velocity",
                             {NumberType(), Control("SliderControl"), SliderMin(-10), SliderMax(10), Default(1)});
  InScaleVelocityY = AddInput("Scale Velocity Y", "Scale Velocity Y",
                              {NumberType(), Control("SliderControl"), SliderMin(-10), SliderMax(10), Default(1), Hidden()});
  // Accepted 0 to 1: a patch far outside would fill the output with
  // infinities (half floats) or turn it into NaN.
  InAlphaPatcher = AddInput("Alpha Patcher", "AlphaPatcher",
                            {NumberType(), Control("SliderControl"), AcceptMin(0), AcceptMax(1), SliderMin(0),
                             SliderMax(Single(0.1)), Default(Single(0.010001))});
  InEdgeCondition = AddInput("Edges", "EdgeCondition",
                             {NumberType(), Control("MultiButtonControl"), Default(0), Button("Duplicate"), Button("Black"),
                              Button("Mirror"), ButtonStyle()});
}

void Quorvex::CreateImageInputs() {
  using namespace controls;
  InImage = AddInput("Input image", "Input", {ImageType(), Link(1)});
  InMotionImage = AddInput("Motion image", "Motion Image", {ImageType(), Link(3), OptionalImage()});
  InBlurImage = AddInput("Blur image", "BlurImage", {ImageType(), Link(4), OptionalImage()});
  OutImage = AddOutput("Output image", "Output", {ImageType(), Link(1)});
}

void Quorvex::NotifyChanged(Input* in, Parameter* param, TimeStamp time, TagList*) {
  if (!param) {
    ThreadedOperator::NotifyChanged(in, nullptr, time, nullptr);
    return;
  }
  if (in == InScaleVelocityLocked) {
    ApplyScaleLock(param, time);
    return;
  }
  DepthControlsChanged(in, param, time);
}

void Quorvex::ApplyScaleLock(Parameter* param, TimeStamp time) {
  const bool locked = ParamValue(param) > 0.5;
  if (locked != ScaleLockState) {
    Parameter* x = InScaleVelocity->GetSource(time);
    ScaleLockState = locked;
    InScaleVelocityY->SetSource(x, time, nullptr, nullptr);
    if (x) x->Recycle();
  }
  InScaleVelocityY->SetAttrs({{IC_Visible, ScaleLockState ? 0 : 1}});
  InScaleVelocity->SetAttrs({{IC_DisplayName, ScaleLockState ? "Scale Velocity" : "Scale Velocity X"}});
}
