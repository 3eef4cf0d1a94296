#!/usr/bin/env python3
"""The third-party notices of the Windows build, from the sources of what it ships.

  third_party_notices.py gather ORIG-TARBALL DEBIAN-TARBALL FOLDER
      keeps Qt's licence texts from Debian's qt6-base source package in FOLDER: LICENSES/,
      every qt_attribution.json with the licence file it names, and debian/copyright
  third_party_notices.py write LICENCE-FOLDER OUT-FOLDER KEY=VALUE...
      writes OUT-FOLDER/THIRD-PARTY-NOTICES.txt and the licence texts it names under
      OUT-FOLDER/licenses; the keys are listed in WRITE_KEYS
"""

import json
import pathlib
import shutil
import sys
import tarfile

# The pieces of others' code inside the Qt DLLs and plugins this build ships, by their
# attribution Id. Left out: what this build of Qt turns off (network, D-Bus, JPEG, Vulkan,
# tablets, OpenGL and its headers, Markdown), other platforms' code (forkfd, macOS, X11,
# Android, WebAssembly, ARM NEON), Qt Test, which only the test programs load, and the build
# system's own scripts.
QT_PARTS = [
    "blake2", "doubleconversion", "easing", "md4", "md5", "pcre2", "pcre2-sljit", "rfc6234",
    "sha1", "sha3_endian", "sha3_keccak", "siphash", "tinycbor", "unicode-character-database",
    "unicode-cldr", "zlib",
    "aglfn", "freetype", "freetype-bdf", "freetype-pcf", "freetype-zlib", "grayraster",
    "harfbuzz-ng", "icc-sRGB-color-profile", "libpng", "smooth-scaling-algorithm", "webgradients",
    "xserverhelper",
]
# Licence texts that a part's licence file sends the reader to, beside its own folder.
REFERENCED = {"freetype": ["docs/FTL.TXT", "docs/GPLv2.TXT"]}
# The FreeType licence asks for this credit in the documentation.
CREDITS = {"freetype": "Portions of this software are copyright (C) 2022 The FreeType Project "
                       "(www.freetype.org). All rights reserved."}
QT_LICENCES = ["LGPL-3.0-only.txt", "GPL-3.0-only.txt"]
QT_FILES = ["Qt6Core.dll", "Qt6Gui.dll", "Qt6Widgets.dll", r"platforms\qwindows.dll",
            r"platforms\qoffscreen.dll", r"styles\qwindowsvistastyle.dll"]
EXCEPTION_TITLE = "GCC RUNTIME LIBRARY EXCEPTION"
WRITE_KEYS = ["qt", "qt_options", "gcc", "gcc_source", "gcc_copyright",
              "mingw", "mingw_source", "mingw_copyright", "gpl3", "toolchain"]


def attributions(text):
    # Some of Qt's attribution files carry raw line breaks inside their strings.
    entries = json.loads(text, strict=False)
    return entries if isinstance(entries, list) else [entries]


def members(tarball):
    with tarfile.open(tarball, "r|*") as archive:
        for member in archive:
            if member.isfile():
                name = member.name.split("/", 1)[-1]
                yield name, archive.extractfile(member).read()


def gather(orig, debian, folder):
    # The archive streams: a first pass finds the attributions, a second takes the
    # licence files they name.
    wanted = set()
    for name, data in members(orig):
        if name.endswith("qt_attribution.json"):
            wanted.add(name)
            base = pathlib.PurePosixPath(name).parent
            for entry in attributions(data.decode("utf-8")):
                for licence in licence_files(entry):
                    wanted.add(str(normalised(base / licence)))
    folder = pathlib.Path(folder)
    for name, data in members(orig):
        if name in wanted or name.startswith("LICENSES/"):
            keep(folder / name, data)
            wanted.discard(name)
    for name, data in members(debian):
        if name == "copyright":
            keep(folder / "debian" / "copyright", data)
    if wanted:
        sys.exit(f"not in {orig}: {', '.join(sorted(wanted))}")
    if not (folder / "debian" / "copyright").is_file():
        sys.exit(f"no debian/copyright in {debian}")


def licence_files(entry):
    return (entry.get("LicenseFile") or "").split() + REFERENCED.get(entry.get("Id"), [])


def normalised(path):
    parts = []
    for part in path.parts:
        if part == "..":
            parts.pop()
        elif part != ".":
            parts.append(part)
    return pathlib.PurePosixPath(*parts)


def keep(path, data):
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(data)


def qt_parts(licences):
    found = {}
    for path in sorted(licences.rglob("qt_attribution.json")):
        for entry in attributions(path.read_text(encoding="utf-8")):
            found[entry.get("Id")] = (path.parent, entry)
    missing = [part for part in QT_PARTS if part not in found]
    if missing:
        sys.exit(f"no attribution for {', '.join(missing)} in {licences}")
    return [found[part] for part in QT_PARTS]


def runtime_exception(copyright_text):
    start = copyright_text.find(EXCEPTION_TITLE)
    end = copyright_text.find("\n\n\n", start)
    if start < 0:
        sys.exit(f"no {EXCEPTION_TITLE} in the GCC copyright")
    return copyright_text[start:end if end > 0 else None].rstrip() + "\n"


def indent(text, prefix="      "):
    return "\n".join(prefix + line if line else "" for line in text.strip().splitlines())


def write(licences, out, values):
    licences, out = pathlib.Path(licences), pathlib.Path(out)
    shutil.rmtree(out / "licenses", ignore_errors=True)
    shipped = []

    def ship(source, *target):
        path = out.joinpath("licenses", *target)
        path.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(source, path)
        shipped.append("\\".join(path.relative_to(out).parts))
        return shipped[-1]

    qt_licences = [ship(licences / "LICENSES" / name, "qt", name) for name in QT_LICENCES]
    qt_copyright = ship(licences / "debian" / "copyright", "qt", "debian-copyright.txt")
    parts = []
    for base, entry in qt_parts(licences):
        files = [ship(base / name, "qt", entry["Id"], pathlib.PurePosixPath(name).name)
                 for name in licence_files(entry)]
        version = f" {entry['Version']}" if entry.get("Version") else ""
        parts.append(f"    - {entry['Name']}{version}: {entry.get('License', '')}"
                     + (f" ({', '.join(files)})" if files else "")
                     + "\n" + indent(entry.get("Copyright", "") + "\n"
                                     + CREDITS.get(entry["Id"], "")))
    gcc_text = pathlib.Path(values["gcc_copyright"]).read_text(encoding="utf-8")
    gcc_copyright = ship(values["gcc_copyright"], "gcc", "debian-copyright.txt")
    gpl3 = ship(values["gpl3"], "gcc", "GPL-3.txt")
    exception = out / "licenses" / "gcc" / "RUNTIME-LIBRARY-EXCEPTION.txt"
    exception.write_text(runtime_exception(gcc_text), encoding="utf-8")
    shipped.append(r"licenses\gcc\RUNTIME-LIBRARY-EXCEPTION.txt")
    mingw_copyright = ship(values["mingw_copyright"], "mingw-w64", "debian-copyright.txt")

    qt_version = values["qt"].split("+")[0]
    fields = dict(values)
    fields.update(
        qt_version=qt_version, qt_files=", ".join(QT_FILES),
        qt_licences=" and ".join(qt_licences), qt_copyright=qt_copyright,
        qt_parts="\n".join(parts), qt_options=" \\\n          ".join(values["qt_options"].split()),
        gcc_version=values["gcc"].split("-")[0], gcc_copyright=gcc_copyright, gpl3=gpl3,
        exception=r"licenses\gcc\RUNTIME-LIBRARY-EXCEPTION.txt",
        mingw_version=values["mingw"].split("-")[0], mingw_copyright=mingw_copyright,
        toolchain=indent(pathlib.Path(values["toolchain"]).read_text(encoding="utf-8"), "        "))
    (out / "THIRD-PARTY-NOTICES.txt").write_text(NOTICES.format(**fields), encoding="utf-8")
    print("\n".join(["THIRD-PARTY-NOTICES.txt"] + shipped))


NOTICES = """\
Velmor for Windows: third-party notices
=======================================

velmor.exe is Velmor's own. Beside it, this folder holds the following components made by
others, each under its own licence. The licence texts named here are in the folder
"licenses" next to this file.

1. Qt {qt_version} (Qt Base): {qt_files}

   Licence: GNU Lesser General Public License, version 3 ({qt_licences}).
   Copyright (C) The Qt Company Ltd. and other contributors; every holder and licence of
   the source package is listed in {qt_copyright}.
   These libraries are linked dynamically: you may replace them with your own build of
   the same Qt version, and Velmor will use it.

   Qt holds code of others, under these terms:
{qt_parts}

   Source: Debian's source package qt6-base, version {qt}, as Debian publishes it
   (`apt-get source qt6-base={qt}` on Debian 12, or
   https://snapshot.debian.org/package/qt6-base/{qt}/).

   How this copy was built: on Debian 12, with the MinGW-w64 cross compilers
   (g++-mingw-w64-x86-64-posix) and Debian's own Qt tools of the same version
   (qt6-base-dev-tools) installed:

      apt-get source qt6-base={qt}
      cmake -S qt6-base-{qt_version}* -B build -G Ninja \\
          -DCMAKE_TOOLCHAIN_FILE=mingw_toolchain.cmake \\
          -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=$PWD/qt-mingw \\
          -DBUILD_SHARED_LIBS=ON -DQT_HOST_PATH=/usr \\
          -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \\
          -DQT_QMAKE_TARGET_MKSPEC=win32-g++ -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \\
          {qt_options}
      cmake --build build
      cmake --install build

   where mingw_toolchain.cmake reads:

{toolchain}

2. The GCC run-time libraries {gcc_version}: libstdc++-6.dll, libgcc_s_seh-1.dll

   Licence: GNU General Public License, version 3 ({gpl3}), with the GCC Runtime Library
   Exception, version 3.1 ({exception}).
   Copyright (C) Free Software Foundation, Inc.; see {gcc_copyright}.
   Source: Debian's source package gcc-mingw-w64, version {gcc_source} (package version
   {gcc}), built from Debian's GCC {gcc_version} sources
   (`apt-get source gcc-mingw-w64={gcc_source}`, or
   https://snapshot.debian.org/package/gcc-mingw-w64/{gcc_source}/).

3. winpthreads (MinGW-w64 {mingw_version}): libwinpthread-1.dll, and the MinGW-w64 run-time
   start-up code linked into every program file here

   Licence: MIT-style and BSD-style permissive licences, and for the start-up code the
   Zope Public License 2.1 and the public domain; the texts are in {mingw_copyright}
   (winpthreads under "mingw-w64-libraries/winpthreads").
   Source: Debian's source package mingw-w64, version {mingw_source}
   (`apt-get source mingw-w64={mingw_source}`, or
   https://snapshot.debian.org/package/mingw-w64/{mingw_source}/).
"""


def main(argv):
    if len(argv) == 4 and argv[0] == "gather":
        gather(*argv[1:])
    elif len(argv) >= 3 and argv[0] == "write":
        values = dict(arg.split("=", 1) for arg in argv[3:])
        missing = [key for key in WRITE_KEYS if key not in values]
        if missing:
            sys.exit(f"write: missing {', '.join(missing)}")
        write(argv[1], argv[2], values)
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv[1:])
