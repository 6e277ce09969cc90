"""What the tests of the maya package share: a PNG writer for images of known
pixels, the built plug-ins, and one initialized host per test process, working
in a folder of its own."""

import os
import struct
import subprocess
import sys
import zlib

import pytest

ECHO_PLUGIN = os.environ["PICTILE_ECHO_PLUGIN"]
PICTILE_PLUGIN = os.environ["PICTILE_PLUGIN"]

# 20 x 20, four blocks of 10 x 10 in one colour each, row by row.
QUADRANTS = [(255, 0, 0, 255), (0, 255, 0, 255), (0, 0, 255, 255), (10, 20, 30, 40)]
BATCH_FOLDER = "F:/Dovrin's Documents/My Images"


def write_png(path, width, height, pixel):
    """An 8-bit RGBA PNG whose pixel (x, y) is pixel(x, y)."""
    rows = b"".join(b"\0" + b"".join(bytes(pixel(x, y)) for x in range(width)) for y in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows))
                  + chunk(b"IEND", b""))


def quadrant(x, y):
    return QUADRANTS[(y // 10) * 2 + x // 10]


@pytest.fixture(scope="session")
def workspace(tmp_path_factory):
    """A folder holding images/grid.png and the batch command's list and output folder."""
    folder = tmp_path_factory.mktemp("workspace")
    (folder / "images").mkdir()
    write_png(folder / "images" / "grid.png", 20, 20, quadrant)
    batch = folder / BATCH_FOLDER
    (batch / "Resized").mkdir(parents=True)
    (batch / "DIRlist.txt").write_text("grid.png\n")
    return folder


@pytest.fixture(scope="session")
def host(workspace):
    """The host, initialized once for the process, with pictile and the echo
    plug-in loaded, working in the workspace."""
    import maya.standalone
    from maya import cmds

    os.chdir(workspace)
    maya.standalone.initialize(name="python")
    cmds.loadPlugin("pictile")
    cmds.loadPlugin(ECHO_PLUGIN)
    yield workspace
    maya.standalone.uninitialize()


def run_python(code, env=None, **options):
    """Runs `code` in a fresh interpreter (this one, Debian's) with this test's
    environment; the finished process."""
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120,
                          env=env if env is not None else dict(os.environ), **options)
