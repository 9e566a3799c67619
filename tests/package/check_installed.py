#!/usr/bin/python3
"""Installs the build tree into a scratch DESTDIR, as a packager would, and
checks what lands there: the desktop's own validators must accept the menu
entry and the AppStream file, and the files must agree with each other and
with the project's version.

Usage: check_installed.py CMAKE BUILD_DIR VERSION
"""

import configparser
import os
import re
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree
from pathlib import Path

APP_ID = "example.quenbrook.Trayvo2010"
ICON = "trayvo2010"
ICON_SIZES = [16, 22, 24, 32, 48, 64, 128, 256]
PREFIX = "/usr"
XML_LANG = "{http://www.w3.org/XML/1998/namespace}lang"

# Everything an install puts down. Anything else (a stray header, a static
# library, a test program) would end up in the package.
EXPECTED = {
    "bin/trayvo2010",
    f"share/applications/{APP_ID}.desktop",
    f"share/metainfo/{APP_ID}.metainfo.xml",
    f"share/icons/hicolor/scalable/apps/{ICON}.svg",
    "share/doc/trayvo2010/copyright",
} | {f"share/icons/hicolor/{n}x{n}/apps/{ICON}.png" for n in ICON_SIZES}

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


def run(args):
    """The tool's status and its output, both streams together."""
    try:
        done = subprocess.run(args, capture_output=True, text=True, timeout=120)
    except FileNotFoundError:
        sys.exit(f"{args[0]} is missing; tools/install-deps.sh installs it")
    return done.returncode, (done.stdout + done.stderr).strip()


def png_size(path):
    data = path.read_bytes()[:24]
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", data[16:24])


def desktop_entry(path):
    parser = configparser.RawConfigParser(delimiters=("=",), interpolation=None)
    parser.optionxform = str  # keys are case-sensitive, Name[zh_CN] included
    parser.read(path, encoding="utf-8")
    return parser["Desktop Entry"]


def check_desktop_entry(root, path):
    status, output = run(["desktop-file-validate", str(path)])
    # It prints hints even on success; only its status decides.
    check(status == 0, f"desktop-file-validate rejects {path.name}:\n{output}")
    entry = desktop_entry(path)
    check(entry.get("Type") == "Application", f"Type is {entry.get('Type')}")
    check(entry.get("Name") == "Trayvo2010", f"Name is {entry.get('Name')}")
    check(re.search(r"[\u4e00-\u9fff]", entry.get("GenericName[zh_CN]", "")),
          f"GenericName[zh_CN] is not Chinese: {entry.get('GenericName[zh_CN]')}")
    check(re.search(r"[\u4e00-\u9fff]", entry.get("Comment[zh_CN]", "")),
          f"Comment[zh_CN] is not Chinese: {entry.get('Comment[zh_CN]')}")
    # The entry's Version is the format's, which has nothing to do with the
    # program's; a program version here would be a mistake easy to make.
    check(entry.get("Version") in {"1.0", "1.1", "1.2", "1.3", "1.4", "1.5"},
          f"Version {entry.get('Version')} is not a desktop entry format version")
    exec_line = entry.get("Exec", "").split()
    check(exec_line and (root / PREFIX.lstrip("/") / "bin" / exec_line[0]).is_file(),
          f"Exec={entry.get('Exec')} names no installed program")
    check(entry.get("Icon") == ICON, f"Icon={entry.get('Icon')}, the installed icon is {ICON}")
    categories = entry.get("Categories", "").split(";")
    check({"Utility", "System"} <= set(categories), f"Categories={entry.get('Categories')}")


def texts(component, tag):
    """{language or None: text} of the component's direct children called tag."""
    return {element.get(XML_LANG): (element.text or "").strip() for element in component.findall(tag)}


# The file names its maker both ways, for readers before AppStream 1.0 and
# after; each validator reports the form it does not take, and nothing else
# may be reported.
OTHER_DEVELOPER_FORM = ("unknown-tag developer",  # AppStream 0.16, Debian 12
                        "developer-name-tag-deprecated")  # AppStream 1.0, Debian 13


def check_metainfo(path, version):
    status, output = run(["appstreamcli", "validate", "--no-net", "--strict",
                          # The maker's domain is under example., which the
                          # validator cannot tell is reverse DNS.
                          "--override=cid-maybe-not-rdns=pedantic", str(path)])
    issues = [line for line in output.splitlines() if re.match(r"[EWI]: ", line)]
    check((status == 0 or issues) and all(issue.endswith(OTHER_DEVELOPER_FORM) for issue in issues),
          f"appstreamcli rejects {path.name}:\n{output}")
    component = ElementTree.parse(path).getroot()
    maker = component.findtext("developer_name")
    developers = [e.findtext("name") for e in component.findall("developer")]
    check(maker and developers == [maker], f"<developer> names {developers}, <developer_name> {maker}")
    check(component.findtext("id") == APP_ID, f"id is {component.findtext('id')}")
    launchables = [(e.get("type"), e.text) for e in component.findall("launchable")]
    check(launchables == [("desktop-id", f"{APP_ID}.desktop")], f"launchable is {launchables}")
    check(component.findtext("metadata_license") == "CC0-1.0", "metadata_license is not CC0-1.0")
    check(component.findtext("project_license") == "MIT", "project_license is not MIT")
    for tag in ["name", "summary"]:
        found = texts(component, tag)
        check(found.get(None) and found.get("zh-CN"), f"{tag} lacks English or Simplified Chinese: {found}")
    paragraphs = component.findall("description/p")
    languages = {p.get(XML_LANG) for p in paragraphs}
    check({None, "zh-CN"} <= languages, f"description is in {languages}")
    homepage = component.findtext("url[@type='homepage']")
    check(homepage == "https://quenbrook.example/", f"homepage is {homepage}")
    images = [e.text for e in component.findall("screenshots/screenshot/image")]
    check(images and all(i.startswith("https://quenbrook.example/") for i in images),
          f"screenshots are {images}")
    releases = [e.get("version") for e in component.findall("releases/release")]
    check(releases[:1] == [version], f"the newest release is {releases[:1]}, the project is at {version}")


def check_icons(root):
    icons = root / PREFIX.lstrip("/") / "share/icons/hicolor"
    for n in ICON_SIZES:
        png = icons / f"{n}x{n}/apps/{ICON}.png"
        if check(png.is_file(), f"no {n}x{n} icon"):
            check(png_size(png) == (n, n), f"{png.relative_to(root)} is {png_size(png)} pixels")
    svg = icons / f"scalable/apps/{ICON}.svg"
    if check(svg.is_file(), "no scalable icon"):
        # Icon loaders render it on their own: it must stand alone.
        document = ElementTree.parse(svg).getroot()
        check(document.tag == "{http://www.w3.org/2000/svg}svg", f"{svg.name} is not SVG: {document.tag}")
        outside = [value for element in document.iter() for key, value in element.attrib.items()
                   if key.endswith("href") and not value.startswith("#")]
        check(not outside, f"{svg.name} refers to files outside it: {outside}")


def main():
    cmake, build_dir, version = sys.argv[1], Path(sys.argv[2]), sys.argv[3]
    with tempfile.TemporaryDirectory(prefix="trayvo-install-") as scratch:
        root = Path(scratch)
        status, output = run(["env", f"DESTDIR={root}", cmake, "--install", str(build_dir), "--prefix", PREFIX])
        if status != 0:
            sys.exit(f"cmake --install failed:\n{output}")
        usr = root / PREFIX.lstrip("/")
        installed = {str(p.relative_to(usr)) for p in usr.rglob("*") if not p.is_dir()}
        outside = [str(p.relative_to(root)) for p in root.iterdir() if p.name != PREFIX.lstrip("/")]
        check(not outside, f"installed outside {PREFIX}: {outside}")
        check(installed == EXPECTED, f"installed files differ; missing {sorted(EXPECTED - installed)}, "
                                     f"unexpected {sorted(installed - EXPECTED)}")
        desktop = usr / f"share/applications/{APP_ID}.desktop"
        if check(desktop.is_file(), "no desktop entry"):
            check_desktop_entry(root, desktop)
        metainfo = usr / f"share/metainfo/{APP_ID}.metainfo.xml"
        if check(metainfo.is_file(), "no AppStream file"):
            check_metainfo(metainfo, version)
        check_icons(root)
        print(f"checked {len(installed)} installed files")
    for failure in failures:
        print(f"FAIL {failure}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
