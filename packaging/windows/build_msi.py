#!/usr/bin/env python3
"""Builds the MSI with wixl and finishes the tables wixl leaves short.

    build_msi.py --wixl WIXL --base DIR WXS OUT

wixl runs in DIR (it takes only relative paths). It ignores SharedDllRefCount, File versions
and same-version upgrades, and rejects <Environment>; msitools' msiinfo and msibuild put them
into the tables afterwards. OUT appears only once it is complete.
"""
import argparse
import os
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

WIX = "{http://schemas.microsoft.com/wix/2006/wi}"

# Component attribute bit: the installer counts the key file's users under
# HKLM\Software\Microsoft\Windows\CurrentVersion\SharedDLLs and removes it only when the count
# reaches zero, so a tovrik.dll that another product also installed survives our uninstall.
SHARED_DLL_REFCOUNT = 0x8
SHARED_COMPONENTS = {"SystemDll"}

# Upgrade attribute bit: VersionMax counts as older too. Every build of one version has a new
# ProductCode; without it a rebuild installs as a second "TOVRIK" beside the first. The old
# product is removed right after InstallValidate, before any file is copied, so the rebuild's
# files replace it whatever their versions. PuTTY's installer gets the same with
# REINSTALLMODE=amus instead, whose "a" overwrites files regardless of version; here that
# would overwrite a newer tovrik.dll of another product in the system folder.
VERSION_MAX_INCLUSIVE = 0x200
UPGRADE_PROPERTY = "WIX_UPGRADE_DETECTED"

# The install folder goes onto the machine's PATH, so that tovrikctl works in any console:
# "=" set at install, "-" take out again at uninstall, "*" the system variable; "[~];" appends
# to what is there. Tied to tovrikctl.exe's component.
ENVIRONMENT = [("TovrikPath", "=-*PATH", "[~];[INSTALLDIR]", "Program_tovrikctl")]
# The standard actions that apply the Environment table, at their usual places.
ENVIRONMENT_ACTIONS = [("RemoveEnvironmentStrings", 3300), ("WriteEnvironmentStrings", 5200)]


def pe_version(path):
    """The VS_FIXEDFILEINFO file version of a Windows program or DLL, or None."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] != b"MZ":
        return None
    key = data.find("VS_VERSION_INFO\0".encode("utf-16-le"))
    if key < 0:
        return None
    fixed = data.find(struct.pack("<I", 0xFEEF04BD), key, key + 64)
    if fixed < 0:
        return None
    high, low = struct.unpack_from("<II", data, fixed + 8)
    return f"{high >> 16}.{high & 0xFFFF}.{low >> 16}.{low & 0xFFFF}"


def file_versions(wxs, base):
    versions = {}
    for element in ET.parse(wxs).iter(WIX + "File"):
        version = pe_version(os.path.join(base, element.get("Source")))
        if version:
            versions[element.get("Id")] = version
    return versions


class Table:
    """One table as msiinfo exports it: three header lines, then tab-separated rows."""

    def __init__(self, msi, name):
        text = subprocess.run(["msiinfo", "export", msi, name], check=True,
                              capture_output=True, text=True).stdout
        lines = text.replace("\r\n", "\n").rstrip("\n").split("\n")
        self.name, self.header = name, lines[:3]
        self.columns = lines[0].split("\t")
        self.rows = [line.split("\t") for line in lines[3:]]

    def column(self, name):
        return self.columns.index(name)

    def save(self, msi, folder):
        path = os.path.join(folder, self.name + ".idt")
        with open(path, "w", newline="\r\n") as f:
            f.write("\n".join(self.header + ["\t".join(row) for row in self.rows]) + "\n")
        subprocess.run(["msibuild", msi, "-i", path], check=True)


def or_attribute(table, key_column, keys, bits):
    key, attributes = table.column(key_column), table.column("Attributes")
    hit = [row for row in table.rows if row[key] in keys]
    if len(hit) != len(keys):
        sys.exit(f"build_msi.py: {table.name} lacks rows {keys}")
    for row in hit:
        row[attributes] = str(int(row[attributes] or 0) | bits)


def finish(msi, versions, folder):
    files = Table(msi, "File")
    file_id, version = files.column("File"), files.column("Version")
    for row in files.rows:
        row[version] = versions.get(row[file_id], "")
    files.save(msi, folder)

    components = Table(msi, "Component")
    or_attribute(components, "Component", SHARED_COMPONENTS, SHARED_DLL_REFCOUNT)
    components.save(msi, folder)

    upgrade = Table(msi, "Upgrade")
    or_attribute(upgrade, "ActionProperty", {UPGRADE_PROPERTY}, VERSION_MAX_INCLUSIVE)
    upgrade.save(msi, folder)

    path = os.path.join(folder, "Environment.idt")
    with open(path, "w", newline="\r\n") as f:
        f.write("Environment\tName\tValue\tComponent_\ns72\tl255\tS255\ts72\n"
                "Environment\tEnvironment\n")
        f.writelines("\t".join(row) + "\n" for row in ENVIRONMENT)
    subprocess.run(["msibuild", msi, "-i", path], check=True)

    sequence = Table(msi, "InstallExecuteSequence")
    present = {row[0] for row in sequence.rows}
    sequence.rows += [[name, "", str(number)] for name, number in ENVIRONMENT_ACTIONS
                      if name not in present]
    sequence.save(msi, folder)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wixl", default="wixl")
    parser.add_argument("--base", help="folder the .wxs's Source paths start from")
    parser.add_argument("wxs")
    parser.add_argument("out")
    args = parser.parse_args()
    base = os.path.abspath(args.base or os.path.dirname(args.wxs))
    out = os.path.abspath(args.out)
    partial = out + ".partial"
    subprocess.run([args.wixl, "--arch", "x86", "--output", partial, os.path.abspath(args.wxs)],
                   check=True, cwd=base)
    with tempfile.TemporaryDirectory() as folder:
        finish(partial, file_versions(args.wxs, base), folder)
    os.replace(partial, out)


if __name__ == "__main__":
    main()
