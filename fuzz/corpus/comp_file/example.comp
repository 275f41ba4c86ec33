{
  "format": "quorvex-comp",
  "version": 1,
  "tool": "tessalyworks.Quorvex",
  "controls": {
    "EnableDepth": 1,
    "SettingsType": 1,
    "FocusPosition": 2000,
    "FocalLength": 50,
    "FStop": 1.4
  }
}
