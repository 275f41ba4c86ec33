#!/usr/bin/python3
"""Latency of a slider edit in quorvex-studio, driven over HTTP as the page drives it.

    /usr/bin/python3 bench/studio_latency.py [BUILD_DIR] [--edits N] [--threads N]

For the bundled example (examples/scene.exr with examples/example.comp) and a
1280 x 720 frame with motion and depth (make_example, the same comp), it
starts the studio, keeps a picture request waiting as the page does, sends
slider edits of "FocusPosition" and measures, from sending the edit, the time
until the proxy picture and the full picture have arrived. The command's own
render time of the same frame (quorvex-render --stats) is the reference for
the full picture: the target is the proxy within 150 ms and the full frame
within the command's render time plus 50 ms.
"""
import argparse
import http.client
import json
import os
import re
import select
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


class Studio:
    def __init__(self, build, frame, comp, threads):
        self.proc = subprocess.Popen([os.path.join(build, "bin", "quorvex-studio"), frame, "--comp", comp,
                                      "--threads", str(threads), "--out-dir", tempfile.gettempdir()],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        ready, _, _ = select.select([self.proc.stdout], [], [], 30)
        line = self.proc.stdout.readline() if ready else ""
        m = re.search(r":(\d+)/\?token=([0-9a-f]+)", line)
        if not m:
            self.close()
            sys.exit("quorvex-studio printed no address: %r" % line)
        self.port, self.token = int(m.group(1)), m.group(2)

    def request(self, method, path, body=None):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=60)
        headers = {"X-Quorvex-Token": self.token, "Content-Type": "application/json"}
        conn.request(method, path, body=json.dumps(body) if body is not None else None, headers=headers)
        r = conn.getresponse()
        data = r.read()
        done = time.perf_counter()
        conn.close()
        return r, data, done

    def picture_after(self, gen, stage):
        r, data, done = self.request("GET", "/api/picture?gen=%d&stage=%d" % (gen, stage))
        if r.status != 200:
            return None
        self.render_ms = float(r.getheader("X-Render-Ms"))
        return int(r.getheader("X-Generation")), int(r.getheader("X-Stage")), int(r.getheader("X-Divisor")), done

    def close(self):
        self.proc.terminate()
        self.proc.wait()
        self.proc.stdout.close()


def command_render_ms(build, frame, comp, threads, focus):
    """The render time quorvex-render --stats reports for the same frame and settings."""
    r = subprocess.run([os.path.join(build, "bin", "quorvex-render"), "-i", frame, "-o",
                        os.path.join(tempfile.gettempdir(), "studio_latency_ref.exr"), "--comp", comp,
                        "--set", "FocusPosition=%g" % focus, "--threads", str(threads), "--stats", "-q"],
                       capture_output=True, text=True, check=True)
    return float(re.search(r"render (\d+) ms", r.stderr).group(1))


def measure(build, name, frame, comp, edits, threads):
    studio = Studio(build, frame, comp, threads)
    try:
        gen, stage = 0, 0
        while stage != 2:  # the first full picture
            gen, stage, _, _ = studio.picture_after(gen, stage)
        proxy_ms, full_ms, server_ms, ref_ms, divisors = [], [], [], [], set()
        for i in range(edits):
            # The page's picture request is already waiting when the edit goes out.
            got = []
            waiter = threading.Thread(target=lambda: got.append(studio.picture_after(gen, 2)))
            waiter.start()
            time.sleep(0.05)
            start = time.perf_counter()
            focus = 2000 + (i % 2)
            r, data, _ = studio.request("POST", "/api/edit", {"id": "FocusPosition", "value": focus})
            new_gen = json.loads(data)["generation"]
            waiter.join()
            g, s, div, done = got[0]
            if g == new_gen and s == 1:
                proxy_ms.append((done - start) * 1000)
                divisors.add(div)
                g, s, div, done = studio.picture_after(g, s)
            while (g, s) != (new_gen, 2):
                g, s, div, done = studio.picture_after(g, s)
            full_ms.append((done - start) * 1000)
            server_ms.append(studio.render_ms)
            gen = new_gen
            # The command's time for the same settings, taken between edits (the studio is idle then), so
            # that both see the same load on the machine.
            ref_ms.append(command_render_ms(build, frame, comp, threads, focus))
    finally:
        studio.close()
    med = statistics.median
    ref = med(ref_ms)
    over = med([f - r for f, r in zip(full_ms, ref_ms)])
    proxy = ("median %.0f ms, max %.0f ms (1/%s size, %d of %d edits)" %
             (med(proxy_ms), max(proxy_ms), "/".join(map(str, sorted(divisors))), len(proxy_ms), edits)
             if proxy_ms else "none (the frame renders without a proxy)")
    print("%s\n  proxy picture: %s\n  full picture:  median %.0f ms, max %.0f ms (the tool's Process in the studio: "
          "median %.0f ms)\n"
          "  quorvex-render --stats render time: median %.0f ms; full picture minus the command's render, "
          "edit by edit: median %+.0f ms (target: at most +50 ms)" %
          (name, proxy, med(full_ms), max(full_ms), med(server_ms), ref, over))
    sys.stdout.flush()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build", nargs="?", default=os.path.join(ROOT, "build"))
    ap.add_argument("--edits", type=int, default=10)
    ap.add_argument("--threads", type=int, default=2)
    a = ap.parse_args()
    build = os.path.abspath(a.build)
    comp = os.path.join(ROOT, "examples", "example.comp")
    hd = os.path.join(tempfile.mkdtemp(prefix="studio-latency-"), "hd.exr")
    subprocess.run([os.path.join(build, "bin", "make_example"), hd, "1280", "720"], check=True, capture_output=True)
    print("slider edit latency, %d threads, %d edits each (from sending the edit to the picture received)" %
          (a.threads, a.edits))
    measure(build, "bundled example (examples/scene.exr, 480 x 270)", os.path.join(ROOT, "examples", "scene.exr"),
            comp, a.edits, a.threads)
    measure(build, "1280 x 720 with motion and depth (make_example)", hd, comp, a.edits, a.threads)
    os.remove(hd)


if __name__ == "__main__":
    main()
