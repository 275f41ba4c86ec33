#pragma once
// Tag identifiers of the host's tag lists. The high nibble tells the value's
// kind: 0x1 integer, 0x2 double, 0x3 text, 0x6 pointer, 0x8 identifier text.
#include <cstdint>

using TagID = uint32_t;

constexpr TagID TAG_DONE = 0;

// Registry record of a tool class.
constexpr TagID REG_Factory = 0x60000000;
constexpr TagID REG_RegInit = 0x60000001;
constexpr TagID REG_RegCleanup = 0x60000002;
constexpr TagID REG_ScriptInfo = 0x60000005;
constexpr TagID REG_BaseClassID = 0x60000011;
constexpr TagID REG_ClassKind = 0x10000000;
constexpr TagID REG_ResourceID = 0x10000004;
constexpr TagID REG_IconID = 0x10000017;
constexpr TagID REG_Name = 0x30000002;
constexpr TagID REG_Category = 0x30000003;
constexpr TagID REG_ShortName = 0x30000004;
constexpr TagID REG_Help = 0x30000005;
constexpr TagID REG_About = 0x30000007;
constexpr TagID REG_BuildText = 0x30000008;
constexpr TagID REG_Company = 0x30000009;
constexpr TagID REG_HelpURL = 0x3000000a;

// Input and output creation.
constexpr TagID INP_DataType = 0x88020000;
constexpr TagID INP_ControlType = 0x80030000;
constexpr TagID INP_AcceptMin = 0x20030000;
constexpr TagID INP_AcceptMax = 0x20030001;
constexpr TagID INP_SliderMin = 0x20030002;
constexpr TagID INP_SliderMax = 0x20030003;
constexpr TagID INP_Default = 0x20030004;
constexpr TagID INP_Required = 0x10030002;
constexpr TagID INP_Precision = 0x10030007;
constexpr TagID INP_Notify = 0x1003000a;
constexpr TagID INP_Integer = 0x1003000c;
constexpr TagID INP_KeepTogether = 0x1003000e;
constexpr TagID INP_DefaultText = 0x30030003;
constexpr TagID INP_LinkNumber = 0x10020001;
constexpr TagID MBC_AddButton = 0x38040000;
constexpr TagID MBC_ButtonStyle = 0x1005000a;
constexpr TagID TEC_Lines = 0x10050000;
constexpr TagID TEC_ReadOnly = 0x10050002;

// Control attributes, given at creation or later through SetAttrs.
constexpr TagID IC_Visible = 0x10040008;
constexpr TagID IC_DisplayName = 0x30040000;

// Images.
constexpr TagID IMG_Like = 0x60020000;
constexpr TagID IMG_Width = 0x10020000;
constexpr TagID IMG_Height = 0x10020001;
constexpr TagID IMG_Depth = 0x10020002;
constexpr TagID IMG_ResolutionDivisor = 0x10020005;
constexpr TagID IMG_Channel = 0x18020000;
constexpr TagID RSZ_Width = 0x10000000;
constexpr TagID RSZ_Height = 0x10000001;
constexpr TagID RSZ_Filter = 0x10000003;

// Operator creation (host's own): the document a new tool reports to.
constexpr TagID OBJ_Document = 0x60ff0001;
