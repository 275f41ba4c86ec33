"""quorvex-studio in a real browser: the panel, the viewer, saving and the server's refusals.

Run with /usr/bin/python3 tests/studio/test_studio.py (QUORVEX_BUILD names the build folder).
"""
import filecmp
import os
import re
import shutil
import tempfile
import unittest

from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By

from studio_harness import Page, Studio, command, list_controls, make_frame, same_pixels, start_browser

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
driver = None
profile = None
work = None
FRAME = None  # a small frame with depth and motion, made by make_example

# The blur pass adds samples in the order the worker threads reach them: a render of the same state may move a
# few display pixels by one level. A real change moves hundreds.
SUM_ORDER_PIXELS = 100

# The visibility table of the depth settings: (edits, shown, hidden).
LENS = ["FocalLength", "ApertureDiameter", "FStop", "FilmbackWidth", "DepthMapType", "DepthMapUnits"]
VISIBILITY = [
    (("Simple", None), ["MaxBlurSize", "InvertDepthMap"], LENS + ["NearDistance", "FarDistance"]),
    (("Advanced", "Distance"), LENS, ["MaxBlurSize", "InvertDepthMap", "NearDistance", "FarDistance"]),
    (("Advanced", "Normalized"), LENS + ["NearDistance", "FarDistance", "InvertDepthMap"], ["MaxBlurSize"]),
]


def setUpModule():
    global driver, profile, work, FRAME
    work = tempfile.mkdtemp(prefix="quorvex-studio-test-")
    FRAME = os.path.join(work, "frame.exr")
    make_frame(FRAME, 320, 180)
    driver, profile = start_browser()


def tearDownModule():
    if driver:
        driver.quit()
    shutil.rmtree(profile, ignore_errors=True)
    shutil.rmtree(work, ignore_errors=True)


class StudioCase(unittest.TestCase):
    """Each test gets a fresh studio on the small frame and the page open on it."""

    studio_args = ()
    frame = None  # FRAME unless a class names another

    def setUp(self):
        self.out = tempfile.mkdtemp(dir=work)
        self.studio = Studio(self.frame or FRAME, "--out-dir", self.out, *self.studio_args)
        self.addCleanup(self.studio.close)
        self.page = Page(driver, self.studio)

    def need_engine_services(self):
        """The focus tool and the focus view come from the module's exported engine services."""
        panel = self.studio.request("GET", "/api/panel")[1]
        if not panel["focus_tool"]:
            self.skipTest("the loaded module exports no engine services (HostToolServices): no focus tool or view")

    def depth_on(self):
        self.page.tab("Depth Blur")
        self.page.toggle("EnableDepth")

    def assert_displayed(self, ids, displayed):
        for cid in ids:
            self.assertEqual(self.page.row(cid).is_displayed(), displayed, cid)

    def assert_comp_as_command(self, comp, *sets):
        """The comp file the page saved is the one quorvex-render saves for the same --set edits."""
        code, err = command(*[a for s in sets for a in ("--set", s)], "--save-comp", os.path.join(self.out, "cmd.comp"))
        self.assertEqual(code, 0, err)
        self.assertTrue(filecmp.cmp(os.path.join(self.out, comp), os.path.join(self.out, "cmd.comp"), False))


class PanelTest(StudioCase):
    def test_page_shows_the_tools_controls_in_creation_order(self):
        p = self.page
        pages = [b.text for b in driver.find_elements(By.CSS_SELECTOR, "#tabs button")]
        self.assertEqual(pages, ["Motion Blur", "Depth Blur", "Info"])
        rows = driver.find_elements(By.CSS_SELECTOR, "#controls .control")
        expected = [c for c in list_controls() if c[0] != "(image)"]
        self.assertEqual([r.get_attribute("data-id") for r in rows], [c[1] for c in expected])
        for row, (page, cid, name, value, shown) in zip(rows, expected):
            self.assertEqual(row.get_attribute("data-page"), page, cid)
            self.assertEqual(row.get_attribute("data-visible") == "1", shown == "shown", cid)
        # Drawn as their kinds: a slider with its range, a button row, a check box, the lock.
        scale = p.row("Scale Velocity").find_element(By.CSS_SELECTOR, "input[type=range]")
        self.assertEqual((float(scale.get_attribute("min")), float(scale.get_attribute("max"))), (-10.0, 10.0))
        edges = [b.text for b in p.row("EdgeCondition").find_elements(By.CSS_SELECTOR, ".buttons button")]
        self.assertEqual(edges, ["Duplicate", "Black", "Mirror"])
        self.assertEqual(len(p.row("AntialiasedVelocity").find_elements(By.CSS_SELECTOR, "input[type=checkbox]")), 1)
        self.assertEqual(len(p.row("ScaleVelocityLocked").find_elements(By.CSS_SELECTOR, "button.lock.on")), 1)
        self.assertTrue(p.row("Scale Velocity").is_displayed())
        self.assertFalse(p.row("Scale Velocity Y").is_displayed())
        p.screenshot("studio-panel.png")

    def test_enable_depth_and_the_visibility_table(self):
        p = self.page
        depth_controls = ["SettingsType", "FocusPosition", "MinWeight", "Normalize", "BlurStyle", "MaxBlurSize"]
        p.tab("Depth Blur")
        self.assert_displayed(depth_controls, False)
        p.toggle("EnableDepth")
        self.assert_displayed(depth_controls, True)
        for (settings, map_type), shown, hidden in VISIBILITY:
            with self.subTest(settings=settings, map_type=map_type):
                p.click_button("SettingsType", settings)
                if map_type:
                    p.click_button("DepthMapType", map_type)
                self.assert_displayed(shown, True)
                self.assert_displayed(hidden, False)
                # The same as the command reports for the same edits.
                sets = ["EnableDepth=on", "SettingsType=" + settings] + (["DepthMapType=" + map_type] if map_type else [])
                for page, cid, name, value, vis in list_controls(*sets):
                    if page != "(image)":
                        self.assertEqual(p.shown(cid), vis == "shown", cid)
        p.toggle("EnableDepth")
        self.assert_displayed(depth_controls + LENS + ["NearDistance", "FarDistance"], False)

    def test_focal_length_changes_aperture_diameter_on_the_panel(self):
        p = self.page
        self.depth_on()
        p.click_button("SettingsType", "Advanced")
        self.assertEqual(p.number("ApertureDiameter"), 17.5)
        p.type_number("FocalLength", 70)
        self.assertEqual(p.number("ApertureDiameter"), 35)
        p.type_number("FStop", 4)
        self.assertEqual(p.number("ApertureDiameter"), 17.5)
        # The slider is the same control: dragging it moves the aperture too.
        slider = p.row("FocalLength").find_element(By.CSS_SELECTOR, "input[type=range]")
        p.edited(lambda: ActionChains(driver).click_and_hold(slider).move_by_offset(-40, 0).release().perform())
        self.assertAlmostEqual(p.number("ApertureDiameter"), p.number("FocalLength") / 4, places=4)

    def test_scale_lock_shows_scale_velocity_y(self):
        p = self.page
        p.edited(p.row("ScaleVelocityLocked").find_element(By.CSS_SELECTOR, "button.lock").click)
        self.assertTrue(p.row("Scale Velocity Y").is_displayed())
        self.assertEqual(p.row("Scale Velocity").find_element(By.TAG_NAME, "label").text, "Scale Velocity X")


class ViewerTest(StudioCase):
    def test_an_edit_changes_the_picture(self):
        p = self.page
        p.snapshot_canvas()
        p.type_number("Scale Velocity", 6)
        p.wait_picture()
        self.assertGreater(p.canvas_changes(), 500)
        p.snapshot_canvas()
        p.type_number("Scale Velocity", 6)  # no change: the same picture comes back
        p.wait_picture()
        self.assertLess(p.canvas_changes(), SUM_ORDER_PIXELS)

    def test_focus_tool_sets_focus_position_to_the_depth_under_the_pixel(self):
        self.need_engine_services()
        p = self.page
        self.depth_on()
        driver.find_element(By.ID, "one").click()  # one picture pixel per canvas pixel, from the corner
        driver.find_element(By.ID, "tool-focus").click()
        canvas = driver.find_element(By.ID, "view")
        for want_x, want_y in [(60, 150), (250, 40)]:
            with self.subTest(pixel=(want_x, want_y)):
                dx = want_x - canvas.size["width"] // 2
                dy = want_y - canvas.size["height"] // 2
                p.edited(lambda: ActionChains(driver).move_to_element_with_offset(canvas, dx, dy).click().perform())
                x, y = map(int, p.js("return document.body.dataset.focusPixel").split(","))
                self.assertLessEqual(abs(x - want_x) + abs(y - want_y), 2)
                code, err = command("-i", FRAME, "-o", os.path.join(self.out, "focus.exr"), "--focus-at",
                                    "%d,%d" % (x, y), "--set", "EnableDepth=on")
                self.assertEqual(code, 0, err)
                expected = float(re.search(r"focus at \(\d+,\d+\) = (\S+)", err).group(1))
                self.assertAlmostEqual(p.number("FocusPosition"), expected, places=3)
        self.assertNotAlmostEqual(p.number("FocusPosition"), 0.0)

    def test_focus_view_replaces_the_result_and_back(self):
        self.need_engine_services()
        p = self.page
        self.depth_on()
        p.snapshot_canvas()
        p.edited(driver.find_element(By.ID, "view-focus").click)
        p.wait_picture()
        self.assertTrue(driver.find_element(By.ID, "legend").is_displayed())
        self.assertGreater(p.canvas_changes(), 500)
        p.edited(driver.find_element(By.ID, "view-result").click)
        p.wait_picture()
        self.assertLess(p.canvas_changes(), SUM_ORDER_PIXELS)

    def test_wipe_shows_the_source_left_of_the_line(self):
        p = self.page
        p.type_number("Scale Velocity", 8)
        p.wait_picture()
        p.snapshot_canvas()
        driver.find_element(By.ID, "wipe").click()
        self.assertGreater(p.canvas_changes(), 0)
        canvas = driver.find_element(By.ID, "view")
        readout = driver.find_element(By.ID, "readout")
        ActionChains(driver).move_to_element_with_offset(canvas, -canvas.size["width"] // 4, 0).perform()
        self.assertTrue(readout.text.endswith("source"), readout.text)
        ActionChains(driver).move_to_element_with_offset(canvas, canvas.size["width"] // 4, 0).perform()
        self.assertTrue(readout.text.endswith("result"), readout.text)

    def test_console_shows_the_tools_lines(self):
        p = self.page
        p.wait(lambda: "Lumora Quorvex processing time" in driver.find_element(By.ID, "console").text,
               what="the tool's timing line")


class KeyframeTest(StudioCase):
    studio_args = ("--frames", "1-9")

    def test_keys_interpolate_between_frames(self):
        p = self.page
        slider = driver.find_element(By.ID, "frame")
        self.assertTrue(slider.is_displayed())

        def go(frame):
            p.edited(lambda: p.js("const s = arguments[0]; s.value = arguments[1]; s.dispatchEvent(new Event('input'));",
                                  slider, frame - 1))

        p.edited(p.row("Scale Velocity").find_element(By.CSS_SELECTOR, ".key").click)  # key 1 at frame 1
        go(9)
        p.type_number("Scale Velocity", 5)  # a keyed control gets a key where it is edited
        go(5)
        self.assertAlmostEqual(p.number("Scale Velocity"), 3.0)  # 1 + (5 - 1) * 4 / 8
        self.assertIn("anim", p.row("Scale Velocity").find_element(By.CSS_SELECTOR, ".key").get_attribute("class"))
        status, _ = self.studio.request("POST", "/api/save-comp", {"name": "keys.comp"})
        self.assertEqual(status, 200)
        self.assert_comp_as_command("keys.comp", "Scale Velocity=1:1,9:5")


class SequenceTest(StudioCase):
    studio_args = ("--frames", "1-2")

    def setUp(self):
        self.frame = os.path.join(work, "seq.####.exr")
        for f in (1, 2):
            shutil.copyfile(FRAME, os.path.join(work, "seq.%04d.exr" % f))
        super().setUp()

    def test_frame_slider_loads_the_frames_files_and_render_writes_each_frame(self):
        p = self.page
        self.assertEqual(self.studio.request("GET", "/api/source")[0], 200)
        slider = driver.find_element(By.ID, "frame")
        p.edited(lambda: p.js("arguments[0].value = 1; arguments[0].dispatchEvent(new Event('input'));", slider))
        self.assertEqual(driver.find_element(By.ID, "frame-number").text, "2")
        p.wait(lambda: p.js("return view.sourceFrame") == 2, what="frame 2's source")
        self.assertIn("seq.0002.exr", " ".join(r.text for r in driver.find_elements(By.CSS_SELECTOR, "#connections div")))
        self.assertEqual(driver.find_element(By.ID, "render-name").get_attribute("value"), "render.####.exr")
        state, message = p.render()
        self.assertEqual(state, "done", message)
        self.assertEqual(driver.find_element(By.ID, "render-progress").get_attribute("value"), "2")
        self.assertEqual(sorted(os.listdir(self.out)), ["render.0001.exr", "render.0002.exr"])
        status, body = self.studio.request("POST", "/api/frame", {"frame": 3})
        self.assertEqual(status, 400, body)


class SaveAndRenderTest(StudioCase):
    def test_saved_comp_equals_the_commands_for_the_same_edits(self):
        p = self.page
        self.depth_on()
        p.click_button("SettingsType", "Advanced")
        p.type_number("FocalLength", 85)
        p.type_number("FStop", 2.8)
        p.click_button("BlurStyle", "Polygon")
        name = driver.find_element(By.ID, "comp-name")
        name.clear()
        name.send_keys("page.comp")
        driver.find_element(By.ID, "save-comp").click()
        p.wait(lambda: "saved" in driver.find_element(By.ID, "out-message").text, what="the saved message")
        self.assert_comp_as_command("page.comp", "EnableDepth=on", "SettingsType=Advanced", "FocalLength=85", "FStop=2.8",
                                    "BlurStyle=Polygon")

    def test_render_writes_into_the_output_folder_and_refuses_names_that_leave_it(self):
        p = self.page
        p.type_number("Scale Velocity", 3)
        state, message = p.render("shots/out.exr")
        self.assertEqual(state, "done", message)
        self.assertTrue(os.path.isfile(os.path.join(self.out, "shots", "out.exr")))
        # The same file as the command writes for the same settings.
        code, err = command("-i", FRAME, "-o", os.path.join(self.out, "cmd.exr"), "--set", "Scale Velocity=3")
        self.assertEqual(code, 0, err)
        same, report = same_pixels(os.path.join(self.out, "shots", "out.exr"), os.path.join(self.out, "cmd.exr"))
        self.assertTrue(same, report)
        outside = os.path.join(work, "escaped.exr")
        for bad in ["../escaped.exr", outside, "shots/../../escaped.exr", ""]:
            with self.subTest(name=bad):
                status, body = self.studio.request("POST", "/api/render", {"name": bad})
                self.assertEqual(status, 400, body)
                status, body = self.studio.request("POST", "/api/save-comp", {"name": bad})
                self.assertEqual(status, 400, body)
        self.assertFalse(os.path.exists(outside))


class ExampleSceneTest(StudioCase):
    frame = os.path.join(ROOT, "examples", "scene.exr")
    studio_args = ("--comp", os.path.join(ROOT, "examples", "example.comp"))

    def test_comp_on_the_command_line_loads_into_the_panel(self):
        p = self.page
        p.tab("Depth Blur")
        self.assertTrue(p.row("EnableDepth").find_element(By.CSS_SELECTOR, "input").is_selected())
        self.assertEqual((p.number("FocalLength"), p.number("FStop"), p.number("FocusPosition")), (50, 1.4, 2000))
        self.assertAlmostEqual(p.number("ApertureDiameter"), 50 / 1.4, places=4)
        self.assertTrue(p.row("FocalLength").is_displayed())
        self.assertFalse(p.row("MaxBlurSize").is_displayed())
        driver.find_element(By.ID, "wipe").click()
        canvas = driver.find_element(By.ID, "view")
        ActionChains(driver).move_to_element_with_offset(canvas, 60, -40).perform()  # a value in the readout
        self.assertRegex(driver.find_element(By.ID, "readout").text, r"x \d+ y \d+ +R")
        p.screenshot("studio.png")


class SafetyTest(unittest.TestCase):
    """The server's refusals, over plain HTTP."""

    @classmethod
    def setUpClass(cls):
        cls.out = tempfile.mkdtemp(dir=work)
        cls.studio = Studio(FRAME, "--out-dir", cls.out)

    @classmethod
    def tearDownClass(cls):
        cls.studio.close()

    def test_requests_without_the_token_or_with_a_foreign_host_are_refused(self):
        s = self.studio
        port = s.port
        cases = [
            ("no token", dict(token=False), 403),
            ("wrong token", dict(token="0" * 32), 403),
            ("token of another length", dict(token="abc"), 403),
            ("foreign host", dict(host="evil.example:%d" % port), 403),
            ("foreign host without port", dict(host="evil.example"), 403),
            ("loopback on another port", dict(host="127.0.0.1:%d" % (port + 1)), 403),
            ("loopback", dict(host="127.0.0.1:%d" % port), 200),
            ("localhost", dict(host="localhost:%d" % port), 200),
        ]
        for what, kwargs, want in cases:
            with self.subTest(what):
                for path in ["/", "/api/panel", "/studio.js"]:
                    status, _ = s.request("GET", path, **kwargs)
                    self.assertEqual(status, want, path)
        status, _ = s.request("GET", "/?token=" + s.token, token=False)  # the printed address itself
        self.assertEqual(status, 200)

    def test_bad_requests_get_4xx_and_the_server_keeps_running(self):
        s = self.studio
        services = s.request("GET", "/api/panel")[1]["focus_tool"]
        cases = [
            ("unknown control", "/api/edit", {"id": "FocalLenght", "value": 3}, 404),
            ("number control given text", "/api/edit", {"id": "FocalLength", "value": "big"}, 400),
            ("text control given a number", "/api/edit", {"id": "DocUrl", "value": 3}, 400),
            ("image input edited", "/api/edit", {"id": "Input", "value": 1}, 400),
            ("no id", "/api/edit", {"value": 1}, 400),
            ("not an object", "/api/edit", [1, 2], 400),
            ("frame outside the range", "/api/frame", {"frame": 7}, 400),
            ("unknown view", "/api/view", {"view": "x-ray"}, 400),
            ("focus outside the picture", "/api/focus", {"x": 5000, "y": 1}, 400 if services else 409),
            ("key on a text", "/api/key", {"id": "DocUrl"}, 400),
        ]
        for what, path, body, want in cases:
            with self.subTest(what):
                status, answer = s.request("POST", path, body)
                self.assertEqual(status, want, answer)
                self.assertIn("error", answer)
        self.assertEqual(s.request("POST", "/api/edit", raw=b"{not json")[0], 400)
        self.assertEqual(s.request("POST", "/api/edit", raw=b"[" + b"1," * 100000 + b"1]")[0], 413)
        self.assertEqual(s.request("GET", "/api/picture?gen=x")[0], 400)
        self.assertEqual(s.request("GET", "/etc/passwd")[0], 404)
        self.assertTrue(s.alive())
        status, panel = s.request("POST", "/api/edit", {"id": "FocalLength", "value": 70})
        self.assertEqual(status, 200)
        values = {c["id"]: c.get("value") for c in panel["controls"]}
        self.assertEqual(values["ApertureDiameter"], 35)


if __name__ == "__main__":
    unittest.main(verbosity=2)
