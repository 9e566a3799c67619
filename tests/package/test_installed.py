"""What `cmake --install` puts down, as a packager gets it: the desktop's own
validators accept the menu entry and the AppStream file, and the files agree
with each other and with the project's version."""

import configparser
import os
import re
import subprocess
import xml.etree.ElementTree as ElementTree

import pytest
from PIL import Image

from conftest import APP_ID, BUILD_DIR, VERSION

ICON_SIZES = [16, 22, 24, 32, 48, 64, 128, 256]
XML_LANG = "{http://www.w3.org/XML/1998/namespace}lang"
CHINESE = re.compile(r"[\u4e00-\u9fff]")
# The file names its maker both ways, for readers before AppStream 1.0 and
# after; each validator reports the form it does not take, and only that.
OTHER_DEVELOPER_FORM = ("unknown-tag developer",  # AppStream 0.16, Debian 12
                        "developer-name-tag-deprecated")  # AppStream 1.0, Debian 13


@pytest.fixture(scope="module")
def usr(tmp_path_factory):
    root = tmp_path_factory.mktemp("install")
    subprocess.run([os.environ["TRAYVO_CMAKE"], "--install", BUILD_DIR, "--prefix", "/usr"],
                   env=dict(os.environ, DESTDIR=str(root)), check=True, stdout=subprocess.DEVNULL)
    assert [path.name for path in root.iterdir()] == ["usr"]
    return root / "usr"


def test_installs_these_files_and_nothing_else(usr):
    # Anything else (a header, a static library, a test program) would end up
    # in the package.
    assert {str(path.relative_to(usr)) for path in usr.rglob("*") if not path.is_dir()} == {
        "bin/trayvo2010", f"share/applications/{APP_ID}.desktop", f"share/metainfo/{APP_ID}.metainfo.xml",
        "share/icons/hicolor/scalable/apps/trayvo2010.svg", "share/doc/trayvo2010/copyright",
    } | {f"share/icons/hicolor/{n}x{n}/apps/trayvo2010.png" for n in ICON_SIZES}


def test_desktop_entry(usr):
    path = usr / f"share/applications/{APP_ID}.desktop"
    validation = subprocess.run(["desktop-file-validate", str(path)], capture_output=True, text=True)
    assert validation.returncode == 0, validation.stdout  # it prints hints even when it accepts
    parser = configparser.RawConfigParser(delimiters=("=",), interpolation=None)
    parser.optionxform = str  # keys are case-sensitive, Name[zh_CN] included
    parser.read(path, encoding="utf-8")
    entry = parser["Desktop Entry"]
    assert (entry["Type"], entry["Name"], entry["Icon"]) == ("Application", "Trayvo2010", "trayvo2010")
    assert CHINESE.search(entry["GenericName[zh_CN]"]) and CHINESE.search(entry["Comment[zh_CN]"])
    # The format's version, not the program's: a mistake easy to make.
    assert entry["Version"] in {"1.0", "1.1", "1.2", "1.3", "1.4", "1.5"}
    assert (usr / "bin" / entry["Exec"].split()[0]).is_file()
    assert {"Utility", "System"} <= set(entry["Categories"].split(";"))


def test_appstream_metadata(usr):
    path = usr / f"share/metainfo/{APP_ID}.metainfo.xml"
    # The maker's domain is under example., which the validator cannot tell
    # is reverse DNS.
    validation = subprocess.run(["appstreamcli", "validate", "--no-net", "--strict",
                                 "--override=cid-maybe-not-rdns=pedantic", str(path)], capture_output=True, text=True)
    issues = [line for line in validation.stdout.splitlines() if re.match(r"[EWI]: ", line)]
    assert (validation.returncode == 0 or issues) and all(issue.endswith(OTHER_DEVELOPER_FORM) for issue in issues), \
        validation.stdout + validation.stderr
    component = ElementTree.parse(path).getroot()
    assert [e.findtext("name") for e in component.findall("developer")] == [component.findtext("developer_name")]
    assert component.findtext("id") == APP_ID
    assert [(e.get("type"), e.text) for e in component.findall("launchable")] == [("desktop-id", f"{APP_ID}.desktop")]
    assert (component.findtext("metadata_license"), component.findtext("project_license")) == ("CC0-1.0", "MIT")
    for texts in ["name", "summary", "description/p"]:
        assert {None, "zh-CN"} <= {e.get(XML_LANG) for e in component.findall(texts) if e.text.strip()}, texts
    assert component.findtext("url[@type='homepage']") == "https://quenbrook.example/"
    images = [e.text for e in component.findall("screenshots/screenshot/image")]
    assert images and all(image.startswith("https://quenbrook.example/") for image in images)
    assert component.find("releases/release").get("version") == VERSION


def test_icons(usr):
    icons = usr / "share/icons/hicolor"
    assert [Image.open(icons / f"{n}x{n}/apps/trayvo2010.png").size for n in ICON_SIZES] == [
        (n, n) for n in ICON_SIZES]
    # Icon loaders render the SVG on their own: it must stand alone.
    svg = ElementTree.parse(icons / "scalable/apps/trayvo2010.svg").getroot()
    assert svg.tag == "{http://www.w3.org/2000/svg}svg"
    assert [value for element in svg.iter() for key, value in element.attrib.items()
            if key.endswith("href") and not value.startswith("#")] == []
