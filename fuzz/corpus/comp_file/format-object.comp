{
  "format": {
    "EnableDepth": 1,
    "SettingsType": 0,
    "FocusPosition": 4000,
    "FcgoaLnelth": 50,
    "FStop": 1.4
  }
}
