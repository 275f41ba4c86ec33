#include "plugin/info_interface.h"

#include "plugin/control_tags.h"

namespace {
void AddInfoField(Operator* op, const char* name, const char* id, const char* text) {
  using namespace controls;
  op->AddInput(name, id, {TextType(), Control("TextEditControl"), {INP_DefaultText, text}, {TEC_ReadOnly, 1}, {TEC_Lines, 1}});
}
}  // namespace

void info_interface::CreateInfoControls(Operator* op) {
  op->AddControlPage("Info");
  AddInfoField(op, "Company name", "CompanyName", "Tessaly Software");
  AddInfoField(op, "Package name", "PackageName", "Lumora");
  AddInfoField(op, "Plugin name", "PluginName", "Quorvex");
  AddInfoField(op, "Documentation URL", "DocUrl", "https://tessaly.software/docs/quorvex");
}
