#!/usr/bin/env python3
"""The macOS bundle's Info.plist as CMake configures it: well-formed, every value filled in, and
the keys the platform needs: the identity and version, high-resolution drawing, and the reason
for sending Apple Events (without it macOS refuses the viewer script with error -1743).
Usage: check_info_plist.py INFO_PLIST VERSION"""
import plistlib
import sys

path, version = sys.argv[1], sys.argv[2]
with open(path, "rb") as file:
    raw = file.read()
try:
    info = plistlib.loads(raw)
except Exception as error:  # any parse failure is the finding
    print(f"FAIL: {path} is a well-formed property list: {error}")
    sys.exit(1)
identifier = info.get("CFBundleIdentifier", "")
reason = info.get("NSAppleEventsUsageDescription", "")
results = [(description, bool(condition)) for description, condition in [
    ("the property list is well-formed", isinstance(info, dict)),
    ("every value is filled in", b"${" not in raw and b"@" not in raw),
    ("CFBundleName is Navlume", info.get("CFBundleName") == "Navlume"),
    ("CFBundleExecutable is Navlume", info.get("CFBundleExecutable") == "Navlume"),
    ("CFBundleIdentifier is a reverse domain name",
     identifier.count(".") >= 2 and all(part.isalnum() for part in identifier.split("."))),
    (f"the version is {version}", info.get("CFBundleShortVersionString") == version
     and info.get("CFBundleVersion") == version),
    ("CFBundlePackageType is APPL", info.get("CFBundlePackageType") == "APPL"),
    ("NSHighResolutionCapable is true", info.get("NSHighResolutionCapable") is True),
    ("NSAppleEventsUsageDescription is one sentence about moving Google Earth",
     "Google Earth" in reason and reason.endswith(".") and reason.count(". ") == 0)]]
for description, ok in results:
    print(("ok:   " if ok else "FAIL: ") + description)
passed = sum(ok for _, ok in results)
print(f"info_plist: {passed} passed, {len(results) - passed} failed")
sys.exit(0 if passed == len(results) else 1)
