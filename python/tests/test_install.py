"""`cmake --install` of the build under test into a folder of its own, and the examples built
and run against that tree only: the C example through find_package(ucap) and through
pkg-config, the Python example and the installed tool."""

import os
import subprocess
from pathlib import Path

import pytest

import ucap
from conftest import BUILD, REPO


def run(*args, **kwargs):
    result = subprocess.run([str(a) for a in args], capture_output=True, text=True, timeout=300, **kwargs)
    assert result.returncode == 0, result.stdout + result.stderr
    return result.stdout


@pytest.fixture(scope="module")
def prefix(tmp_path_factory):
    tree = tmp_path_factory.mktemp("installed")
    run("cmake", "--install", BUILD, "--prefix", tree)
    return tree


def clean_env(**extra):
    """No way back to the build tree: the library only where the installed tree has it."""
    env = {k: v for k, v in os.environ.items() if k not in ("UCAP_LIBRARY", "LD_LIBRARY_PATH", "PYTHONPATH")}
    env.update(extra)
    return env


def test_c_example_with_find_package(prefix, tmp_path):
    run("cmake", "-S", REPO / "examples" / "c", "-B", tmp_path, "-G", "Ninja", "-DCMAKE_PREFIX_PATH=%s" % prefix)
    run("cmake", "--build", tmp_path)
    assert "snap: 2584 x 1936 grey, mean" in run(tmp_path / "snap", env=clean_env())


def test_c_example_with_pkg_config(prefix, tmp_path):
    pc = next(prefix.glob("**/pkgconfig/ucap.pc"))
    flags = run("pkg-config", "--cflags", "--libs", "ucap", env=clean_env(PKG_CONFIG_PATH=str(pc.parent))).split()
    assert Path(flags[0][2:]).resolve() == (prefix / "include").resolve()  # -I of the installed tree
    run("cc", REPO / "examples" / "c" / "snap.c", *flags, "-o", tmp_path / "snap")
    library_dir = pc.parent.parent
    out = run(tmp_path / "snap", env=clean_env(LD_LIBRARY_PATH=str(library_dir)))
    assert "snap: 2584 x 1936 grey, mean" in out
    # One version, from the build: the tool's, pkg-config's, the CMake package's, Python's.
    version = run("pkg-config", "--modversion", "ucap", env=clean_env(PKG_CONFIG_PATH=str(pc.parent))).strip()
    assert run(prefix / "bin" / "ucap", "--version", env=clean_env()).strip() == "ucap " + version
    assert 'PACKAGE_VERSION "%s"' % version in next(prefix.glob("**/ucapConfigVersion.cmake")).read_text()
    assert ucap.__version__ == version


def test_python_example_and_tool(prefix, tmp_path):
    package = next(prefix.glob("**/dist-packages/ucap/__init__.py")).parent
    out = run("/usr/bin/python3", REPO / "examples" / "python" / "snap.py", tmp_path / "p.tif",
              env=clean_env(PYTHONPATH=str(package.parent), PYTHONDONTWRITEBYTECODE="1"))
    assert "snap: 2584 x 1936 RGB" in out and (tmp_path / "p.tif").exists()
    assert run(prefix / "bin" / "ucap", "list", env=clean_env()).strip() == "1"
