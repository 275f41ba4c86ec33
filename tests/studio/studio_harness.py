"""Starting quorvex-studio and a headless Chromium for the studio's tests."""
import http.client
import json
import os
import re
import select
import shutil
import subprocess
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

BUILD = os.path.abspath(os.environ.get("QUORVEX_BUILD", "build"))
STUDIO = os.path.join(BUILD, "bin", "quorvex-studio")
RENDER = os.path.join(BUILD, "bin", "quorvex-render")
MAKE_EXAMPLE = os.path.join(BUILD, "bin", "make_example")
OUTPUT = os.path.abspath(os.environ.get("QUORVEX_STUDIO_TEST_OUT", os.path.join(BUILD, "studio-test-output")))
PLUGIN = os.environ.get("QUORVEX_PLUGIN_PATH", "")


def plugin_args():
    return ["--plugin-path", PLUGIN] if PLUGIN else []


class Studio:
    """One quorvex-studio process; stopped (by its own process id) on close."""

    def __init__(self, *args, cwd=None):
        self.proc = subprocess.Popen([STUDIO, *args, *plugin_args(), "--threads", "2"], stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True, cwd=cwd)
        line = self._read_line(15.0)
        m = re.search(r"http://127\.0\.0\.1:(\d+)/\?token=([0-9a-f]+)", line or "")
        if not m:
            self.close()
            raise RuntimeError("quorvex-studio printed no address: %r %s" % (line, self.proc.stderr.read()))
        self.port, self.token = int(m.group(1)), m.group(2)
        self.url = "http://127.0.0.1:%d/?token=%s" % (self.port, self.token)

    def _read_line(self, timeout):
        ready, _, _ = select.select([self.proc.stdout], [], [], timeout)
        return self.proc.stdout.readline() if ready else None

    def request(self, method, path, body=None, token=True, host=None, raw=None):
        """(status, parsed JSON or bytes) of one request; the token rides in the header."""
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
        headers = {}
        if token:
            headers["X-Quorvex-Token"] = self.token if token is True else token
        if host is not None:
            headers["Host"] = host
        data = raw if raw is not None else (json.dumps(body).encode() if body is not None else None)
        if data is not None:
            headers["Content-Type"] = "application/json"
        conn.request(method, path, body=data, headers=headers)
        r = conn.getresponse()
        payload = r.read()
        conn.close()
        if r.getheader("Content-Type", "").startswith("application/json"):
            payload = json.loads(payload)
        return r.status, payload

    def alive(self):
        return self.proc.poll() is None

    def close(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc.stdout.close()
        self.proc.stderr.close()


def make_frame(path, width, height):
    subprocess.run([MAKE_EXAMPLE, path, str(width), str(height)], check=True, capture_output=True)


def command(*args):
    """quorvex-render with the same module; returns (exit status, stderr)."""
    r = subprocess.run([RENDER, *args, *plugin_args()], capture_output=True, text=True)
    return r.returncode, r.stderr


def same_pixels(a, b):
    """(True, report) when two image files hold the same pixels (idiff ignores the write time in the header).

    The blur pass adds samples in the order the worker threads reach them, so a half-float result may differ
    by one unit in the last place from one run to the next; more than that is a different picture."""
    r = subprocess.run(["idiff", "-fail", "0.001", "-warn", "0.001", a, b], capture_output=True, text=True)
    return r.returncode == 0, r.stdout + r.stderr


def list_controls(*sets):
    """quorvex-render --list-controls: [(page, id, name, value, shown)] in creation order."""
    args = ["--list-controls"]
    for s in sets:
        args += ["--set", s]
    r = subprocess.run([RENDER, *args, *plugin_args()], capture_output=True, text=True, check=True)
    return [tuple(line.split("\t")) for line in r.stdout.splitlines()]


def start_browser():
    profile = tempfile.mkdtemp(prefix="quorvex-studio-chromium-")
    opts = webdriver.ChromeOptions()
    opts.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
    for a in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
              "--disable-component-update", "--disable-sync", "--no-first-run", "--disable-quic",
              "--disable-dev-shm-usage", "--window-size=1400,900", "--user-data-dir=" + profile]:
        opts.add_argument(a)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=opts)
    driver.set_page_load_timeout(30)
    return driver, profile


class Page:
    """The studio page in the browser, seen as a user sees it."""

    def __init__(self, driver, studio):
        self.d, self.studio = driver, studio
        self.d.get(studio.url)
        self.wait_picture()

    def wait(self, condition, timeout=20, what="condition"):
        return WebDriverWait(self.d, timeout, poll_frequency=0.05).until(lambda d: condition(), what)

    def js(self, script, *args):
        return self.d.execute_script(script, *args)

    def generation(self):
        return int(self.js("return document.body.dataset.generation || 0"))

    def wait_picture(self, timeout=30):
        """Waits until the full picture of the panel's latest state is on the canvas."""
        self.wait(lambda: self.js("return document.body.dataset.shown || ''") == "%d:2" % self.generation(),
                  timeout, "the full picture of the latest edit")

    def row(self, cid):
        return self.d.find_element(By.CSS_SELECTOR, '.control[data-id="%s"]' % cid)

    def shown(self, cid):
        return self.row(cid).get_attribute("data-visible") == "1"

    def tab(self, page):
        self.d.find_element(By.CSS_SELECTOR, '#tabs button[data-page="%s"]' % page).click()

    def edited(self, action):
        """Runs a user action that edits a control and waits for the server's answer."""
        before = self.generation()
        action()
        self.wait(lambda: self.generation() > before and self.js("return document.body.dataset.busy") == "0",
                  what="the panel after the edit")

    def click_button(self, cid, label):
        row = self.row(cid)
        button = [b for b in row.find_elements(By.CSS_SELECTOR, ".buttons button") if b.text == label][0]
        self.edited(button.click)

    def toggle(self, cid):
        self.edited(self.row(cid).find_element(By.CSS_SELECTOR, "input[type=checkbox]").click)

    def type_number(self, cid, value):
        box = self.row(cid).find_element(By.CSS_SELECTOR, "input[type=number]")
        box.clear()
        self.edited(lambda: box.send_keys(str(value) + "\n"))

    def number(self, cid):
        return float(self.row(cid).find_element(By.CSS_SELECTOR, "input[type=number]").get_attribute("value"))

    def render(self, name=None):
        """Clicks Render (into `name` when given) and waits for it to end: (state, the page's message)."""
        if name is not None:
            box = self.d.find_element(By.ID, "render-name")
            box.clear()
            box.send_keys(name)
        self.d.find_element(By.ID, "render").click()
        self.wait(lambda: self.js("return document.body.dataset.render || ''") != "", 60, "the render to finish")
        return self.js("return document.body.dataset.render"), self.d.find_element(By.ID, "out-message").text

    def snapshot_canvas(self):
        """Keeps the canvas's pixels in the page, for canvas_changes()."""
        self.js("""const c = document.getElementById('view');
            window.__snapshot = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;""")

    def canvas_changes(self):
        """How many canvas pixels differ from the snapshot."""
        return self.js("""const c = document.getElementById('view');
            const now = c.getContext('2d').getImageData(0, 0, c.width, c.height).data, was = window.__snapshot;
            let n = 0;
            for (let i = 0; i < now.length; i += 4)
              if (now[i] !== was[i] || now[i + 1] !== was[i + 1] || now[i + 2] !== was[i + 2]) ++n;
            return n;""")

    def screenshot(self, name):
        os.makedirs(OUTPUT, exist_ok=True)
        path = os.path.join(OUTPUT, name)
        self.d.save_screenshot(path)
        return path
