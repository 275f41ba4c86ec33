#include "plugin/filter_interface.h"

#include "plugin/control_tags.h"
#include "plugin/number_utils.h"

void filter_interface::CreateKernelControls(Operator* op) {
  using namespace controls;
  InBlurStyle = op->AddInput("Blur Style", "BlurStyle",
                             {NumberType(), Control("MultiButtonControl"), Button("Disk"), Button("Polygon"),
                              Button("Gaussian"), Button("Airy Disk"), Button("Laplacian"), Default(0), ButtonStyle(),
                              Notify()});
  InBadBokeh = op->AddInput("Bad Bokeh", "BadBokeh",
                            {NumberType(), Control("SliderControl"), AcceptMin(0), SliderMax(1), Default(0)});
  InPolygonSideCount = op->AddInput("Polygon Side Count", "PolygonSideCount",
                                    {NumberType(), Control("SliderControl"), AcceptMin(3), SliderMax(12), Default(6),
                                     {INP_Integer, 1}});
  InKernelAngle = op->AddInput("Kernel Angle", "KernelAngle",
                               {NumberType(), Control("SliderControl"), AcceptMin(0), SliderMax(90), Default(0)});
}

void filter_interface::KernelControlsChanged(Input* in, Parameter* param) {
  if (in != InBlurStyle || !param) return;
  BlurStyleIndex = TruncToInt32(ParamValue(param));
  const bool s = DepthControlsShown;
  const int k = BlurStyleIndex;
  InBadBokeh->SetAttrs({{IC_Visible, int(s && (k == 0 || k == 1))}});
  InKernelAngle->SetAttrs({{IC_Visible, int(s && k == 1)}});
  InPolygonSideCount->SetAttrs({{IC_Visible, int(s && k == 1)}});
}
