#!/usr/bin/python3
"""Checks the Debian package's control fields and contents: what apt and a
user's package manager see before anything is installed.

Usage: check_deb.py DEB_DIR VERSION
"""

import re
import subprocess
import sys
from pathlib import Path

APP_ID = "example.quenbrook.Trayvo2010"

# What the program needs at run time and no linker can see.
RUNTIME_DEPENDS = ["qt6-qpa-plugins", "fonts-liberation2", "fonts-wqy-microhei",
                   "qt6-translations-l10n", "xdg-utils"]
# dpkg-shlibdeps must have run: these come only from the program's links.
# Debian 13 renamed some libraries for the 64-bit time_t ABI (libqt6core6t64).
LINKED_DEPENDS = ["libc6", "libstdc++6", "libqt6core6", "libqt6gui6", "libqt6widgets6", "libsystemd0", "libudev1",
                  "libmount1"]

CONTENTS = ["./usr/bin/trayvo2010",
            f"./usr/share/applications/{APP_ID}.desktop",
            f"./usr/share/metainfo/{APP_ID}.metainfo.xml",
            "./usr/share/icons/hicolor/48x48/apps/trayvo2010.png",
            "./usr/share/icons/hicolor/scalable/apps/trayvo2010.svg",
            "./usr/share/doc/trayvo2010/copyright"]

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def dpkg_deb(*args):
    return subprocess.run(["dpkg-deb", *args], check=True, capture_output=True, text=True).stdout


def package_names(relation):
    """The package names in a Depends-like field, alternatives included."""
    return {re.match(r"\s*([^\s(]+)", part).group(1) for part in re.split(r"[,|]", relation) if part.strip()}


def main():
    deb_dir, version = Path(sys.argv[1]), sys.argv[2]
    debs = sorted(deb_dir.glob("*.deb"))
    if len(debs) != 1:
        sys.exit(f"expected one .deb in {deb_dir}, found {[d.name for d in debs]}")
    deb = debs[0]
    architecture = subprocess.run(["dpkg", "--print-architecture"], check=True, capture_output=True,
                                  text=True).stdout.strip()
    check(deb.name == f"trayvo2010_{version}_{architecture}.deb", f"the package file is called {deb.name}")

    fields = {}
    for field in ["Package", "Version", "Architecture", "Maintainer", "Section", "Priority", "Homepage",
                  "Depends", "Recommends", "Description"]:
        fields[field] = dpkg_deb("--field", str(deb), field).rstrip("\n")
    print("\n".join(f"{name}: {value}" for name, value in fields.items()))

    check(fields["Package"] == "trayvo2010", f"Package is {fields['Package']}")
    check(fields["Version"] == version, f"Version is {fields['Version']}, the project is at {version}")
    check(fields["Architecture"] == architecture, f"Architecture is {fields['Architecture']}")
    check(re.fullmatch(r"Velmoor个人工作室 <[^@<>\s]+@quenbrook\.example>", fields["Maintainer"]),
          f"Maintainer is {fields['Maintainer']}")
    check(fields["Section"] == "utils", f"Section is {fields['Section']}")
    check(fields["Homepage"] == "https://quenbrook.example/", f"Homepage is {fields['Homepage']}")
    depends = package_names(fields["Depends"])
    for name in RUNTIME_DEPENDS:
        check(name in depends, f"Depends lacks {name}")
    for name in LINKED_DEPENDS:
        check(name in depends or f"{name}t64" in depends, f"Depends lacks {name}")
    check(package_names(fields["Recommends"]) == {"udisks2", "qt6-wayland"}, f"Recommends is {fields['Recommends']}")
    summary, _, long_description = fields["Description"].partition("\n")
    check(summary.strip() and len(summary) <= 80, f"the description's first line is {summary!r}")
    check(len(long_description.split()) >= 10, "the package has no long description")

    listing = dpkg_deb("--contents", str(deb))
    paths = [line.split()[5] for line in listing.splitlines() if len(line.split()) >= 6]
    for path in CONTENTS:
        check(path in paths, f"the package lacks {path}")
    check(all(p.startswith("./usr/") or p in ("./", "./usr/") for p in paths),
          f"the package puts files outside /usr: {[p for p in paths if not p.startswith('./usr')]}")
    check(not any("/local/" in p or p.endswith((".a", ".h")) for p in paths),
          f"the package holds build leftovers: {[p for p in paths if '/local/' in p or p.endswith(('.a', '.h'))]}")

    for failure in failures:
        print(f"FAIL {failure}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
