"""Where the package finds the plug-in module, and cmake --install."""
import os
import subprocess
import sys

from conftest import BUILD

PROBE = "import quorvex, numpy; print(quorvex.plugin_files()[0]); quorvex.Tool().render(numpy.ones((2, 2, 4), 'f'))"


def python(code, env_changes, pythonpath):
    env = dict(os.environ, PYTHONPATH=str(pythonpath))
    env.pop("QUORVEX_PLUGIN_PATH", None)
    env.update(env_changes)
    return subprocess.run(["/usr/bin/python3", "-c", code], capture_output=True, text=True, env=env, cwd="/")


def test_build_tree_and_plugin_path():
    module = BUILD / "lib" / "quorvex" / "quorvex.so"
    r = python(PROBE, {}, BUILD / "python")
    assert r.returncode == 0 and r.stdout.strip() == str(module), r.stderr
    r = python(PROBE, {"QUORVEX_PLUGIN_PATH": str(module)}, BUILD / "python")
    assert r.returncode == 0 and r.stdout.strip() == str(module), r.stderr
    r = python(PROBE, {"QUORVEX_PLUGIN_PATH": "/nonexistent/quorvex.so"}, BUILD / "python")
    assert r.returncode != 0 and "QUORVEX_PLUGIN_PATH: no plug-in found at /nonexistent/quorvex.so" in r.stderr


def test_cmake_install_gives_an_importable_package(tmp_path):
    r = subprocess.run(["cmake", "--install", str(BUILD), "--prefix", str(tmp_path)], capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    v = sys.version_info
    site = tmp_path / "lib" / f"python{v[0]}.{v[1]}" / "dist-packages"
    assert (site / "quorvex" / "__init__.pyi").is_file() and (site / "quorvex" / "py.typed").is_file()
    r = python(PROBE, {}, site)
    assert r.returncode == 0, r.stderr
    assert r.stdout.strip() == str(tmp_path / "lib" / "quorvex" / "quorvex.so")
