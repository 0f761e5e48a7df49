"""The bill of materials of a package, CycloneDX 1.6 JSON: the programs with
the SHA-256 of the bytes the package holds, each package of others linked
into them (tools/linked_components.py), for the Linux programs the C
library they load with the oldest version they run on
(tools/linux_floor.py), and the source commit.

The same inputs give the same bytes: keys and lists in a fixed order, the
serial number derived from the commit, the platform and the version, the
time from SOURCE_DATE_EPOCH. tools/package_files.py writes it into each
package; tools/check_packages.py checks it.
"""

import hashlib
import json
import os
import time
import uuid
from pathlib import Path

import linux_floor

PROPERTY = "talvane:"
LOCKFILE = Path(__file__).resolve().parent / "sbom" / "package-lock.json"


def validator_dir():
    """Where tools/setup-deps.sh installs the CycloneDX library of
    tools/sbom/package-lock.json: named by the lockfile's hash."""
    cache = os.environ.get("LAUNCHER_ROOT_CACHE") or "/var/cache/talvane-launchers"
    digest = hashlib.sha256(LOCKFILE.read_bytes()).hexdigest()[:16]
    return Path(cache) / f"cyclonedx-{digest}"


def sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as stream:
        for block in iter(lambda: stream.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def prop(name, value):
    return {"name": PROPERTY + name, "value": value}


def serial_number(name, version, platform, commit):
    key = f"{name} {version} {platform} {commit or 'no commit'}"
    return f"urn:uuid:{uuid.uuid5(uuid.NAMESPACE_URL, key)}"


def package_component(package, floor):
    component = {
        "type": "library",
        "bom-ref": package.purl,
        "name": package.name,
        "version": package.version,
        "purl": package.purl,
        "scope": "required",
        "licenses": [{"expression": package.licence.spdx}],
        "properties": [prop("linkage", package.linkage),
                       prop("copyright-file", package.copyright)],
    }
    if package.linkage == "dynamic":
        component["description"] = (
            "Loaded at run time from the system, not shipped: the programs "
            f"need version {floor} or later; they were linked against this "
            "version.")
        component["properties"].append(prop("minimum-version", floor))
        component["properties"] += [prop("needed", f) for f in sorted(package.files)]
    else:
        component["description"] = "Linked into the programs, in part: the " \
            "archive members and object files named in the properties."
        component["properties"] += [prop("linked-file", f) for f in sorted(package.files)]
    return component


def bill(name, version, platform, epoch, commit, homepage, programs, packages):
    """The bill as a dict. programs: [(file name, path in the package, file
    to hash)]; packages: [linked_components.Package]."""
    product = f"{name}@{version}"
    floor = None
    if any(p.linkage == "dynamic" for p in packages):
        glibc, _ = linux_floor.glibc_floor([str(f) for _, _, f in programs])
        floor = linux_floor.text(glibc)
    components, dependencies = [], []
    for file_name, path, file in programs:
        components.append({
            "type": "application",
            "bom-ref": file_name,
            "name": file_name,
            "version": version,
            "hashes": [{"alg": "SHA-256", "content": sha256(file)}],
            "licenses": [{"license": {"id": "Apache-2.0"}}],
            "properties": [prop("path", path)],
        })
        dependencies.append({"ref": file_name, "dependsOn": sorted(
            p.purl for p in packages if file_name in p.programs)})
    components += [package_component(p, floor) for p in packages]
    dependencies.append({"ref": product, "dependsOn": sorted(f for f, _, _ in programs)})
    metadata = {
        "timestamp": time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(epoch)),
        "lifecycles": [{"phase": "build"}],
        "component": {
            "type": "application",
            "bom-ref": product,
            "name": name,
            "version": version,
            "licenses": [{"license": {"id": "Apache-2.0"}}],
            "externalReferences": [{"type": "website", "url": homepage}],
            "properties": [prop("platform", platform)] +
                          ([prop("source-commit", commit)] if commit else []),
        },
    }
    return {
        "$schema": "http://cyclonedx.org/schema/bom-1.6.schema.json",
        "bomFormat": "CycloneDX",
        "specVersion": "1.6",
        "serialNumber": serial_number(name, version, platform, commit),
        "version": 1,
        "metadata": metadata,
        "components": sorted(components, key=lambda c: c["bom-ref"]),
        "dependencies": sorted(dependencies, key=lambda d: d["ref"]),
    }


def dumps(document):
    return json.dumps(document, indent=2, sort_keys=True, ensure_ascii=False) + "\n"
