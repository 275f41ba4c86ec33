{"format": "quorvex-comp", "version": 1, "controls": {"EnableDepth": 1, "FocusPosition": {"keys": [[1, 0.2], [24, 0.8]]}, "DocUrl": "x"}}
