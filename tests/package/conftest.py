"""The build tree, its version and its tools come from ctest's environment:
TRAYVO_BUILD_DIR, TRAYVO_VERSION, TRAYVO_CMAKE and TRAYVO_CPACK."""

import os
import subprocess

import pytest

BUILD_DIR = os.environ["TRAYVO_BUILD_DIR"]
VERSION = os.environ["TRAYVO_VERSION"]
APP_ID = "example.quenbrook.Trayvo2010"


@pytest.fixture(scope="session")
def deb(tmp_path_factory):
    """The Debian package, built once into a folder of its own."""
    out = tmp_path_factory.mktemp("deb")
    subprocess.run([os.environ["TRAYVO_CPACK"], "--config", f"{BUILD_DIR}/CPackConfig.cmake", "-B", str(out)],
                   check=True, stdout=subprocess.DEVNULL, timeout=300)
    [package] = out.glob("*.deb")
    return package
