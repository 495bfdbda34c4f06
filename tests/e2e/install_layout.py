#!/usr/bin/env python3
"""The install layout: `cmake --install` into a temporary DESTDIR puts every
file where the README promises; the desktop entry validates, the MIME entry
names *.qvv, voxcore.pc gives a C program what it needs to compile, link and
run against the installed libvoxcore, and the installed player starts from
its read-only-in-spirit folder and keeps its settings in the user's
configuration folder.

usage: install_layout.py BUILD_DIR PREFIX BINDIR LIBDIR LIBEXECDIR DATADIR INCLUDEDIR CC [CFLAG...]
"""
import configparser
import os
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

failures = []


def check(ok, what):
    print(("ok    " if ok else "FAIL  ") + what)
    if not ok:
        failures.append(what)
    return ok


def run(cmd, **kw):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kw)


def main():
    build, prefix, bindir, libdir, libexecdir, datadir, includedir, cc = sys.argv[1:9]
    cflags = sys.argv[9:]
    tmp = tempfile.mkdtemp(prefix="dravik-install-")
    try:
        dest = os.path.join(tmp, "root")
        r = run(["cmake", "--install", build], env=dict(os.environ, DESTDIR=dest))
        if not check(r.returncode == 0, "cmake --install into DESTDIR"):
            print(r.stdout)
            return
        root = dest + prefix

        def p(*parts):
            return os.path.join(root, *parts)

        program_dir = p(libexecdir, "dravik")
        promised = [
            p(bindir, "Dravik"), p(bindir, "dravik-tool"),
            os.path.join(program_dir, "Dravik"), os.path.join(program_dir, "INSTALLED"),
            os.path.join(program_dir, "images", "new_Leaflet_MapDlg.html"),
            os.path.join(program_dir, "images", "dravik_map.js"),
            os.path.join(program_dir, "images", "leaflet", "leaflet.js"),
            os.path.join(program_dir, "images", "leaflet", "leaflet.css"),
            os.path.join(program_dir, "Doc", "Local player instructions_V1.1.html"),
            p(libdir, "libvoxcore.so"), p(libdir, "libvoxcore.so.3"), p(libdir, "pkgconfig", "voxcore.pc"),
            p(includedir, "voxcore.h"),
            p(datadir, "applications", "dravik.desktop"),
            p(datadir, "mime", "packages", "dravik.xml"),
            p(datadir, "icons", "hicolor", "scalable", "apps", "dravik.svg"),
        ]
        for f in promised:  # through the links: each must reach a real file
            check(os.path.isfile(f), "installed: " + os.path.relpath(f, dest))
        check(os.path.realpath(p(bindir, "Dravik")) == os.path.realpath(os.path.join(program_dir, "Dravik")),
              "bin/Dravik leads to the program beside its pages")
        check(not os.path.isabs(os.readlink(p(bindir, "Dravik"))), "bin/Dravik is a relative link")
        for exe in (p(bindir, "dravik-tool"), os.path.join(program_dir, "Dravik")):
            check(os.access(exe, os.X_OK), os.path.basename(exe) + " is executable")
        # Manual pictures referenced by the manual are installed with it.
        manual = os.path.join(program_dir, "Doc", "Local player instructions_V1.1.html")
        if os.path.isfile(manual):
            import re
            text = open(manual, encoding="utf-8").read()
            missing = [src for src in re.findall(r'src="([^"]+)"', text)
                       if not os.path.isfile(os.path.join(os.path.dirname(manual), src))]
            check(not missing, "every picture the manual shows is installed " + (str(missing) if missing else ""))

        # The shared library: its SONAME, and only the codec's seven functions.
        lib = os.path.realpath(p(libdir, "libvoxcore.so"))
        r = run(["readelf", "-d", "-W", lib])
        check("Library soname: [libvoxcore.so.3]" in r.stdout, "libvoxcore's SONAME is libvoxcore.so.3")

        # Desktop entry and MIME type.
        desktop = p(datadir, "applications", "dravik.desktop")
        if shutil.which("desktop-file-validate"):
            r = run(["desktop-file-validate", desktop])
            check(r.returncode == 0 and not r.stdout.strip(), "desktop-file-validate: " + (r.stdout.strip() or "clean"))
        else:
            print("skip  desktop-file-validate is not installed")
        entry = configparser.ConfigParser(interpolation=None)
        entry.optionxform = str
        entry.read(desktop, encoding="utf-8")
        d = entry["Desktop Entry"]
        check(d.get("Exec", "").split()[0] == "Dravik" and ("%f" in d.get("Exec", "") or "%F" in d.get("Exec", "")),
              "Exec starts Dravik with the file: " + d.get("Exec", ""))
        check(set(["AudioVideo", "Video", "Player"]) <= set(filter(None, d.get("Categories", "").split(";"))),
              "Categories AudioVideo;Video;Player")
        mime = ET.parse(p(datadir, "mime", "packages", "dravik.xml")).getroot()
        ns = {"m": "http://www.freedesktop.org/standards/shared-mime-info"}
        types = {t.get("type"): [g.get("pattern") for g in t.findall("m:glob", ns)] for t in mime.findall("m:mime-type", ns)}
        qvv_types = [t for t, globs in types.items() if "*.qvv" in globs]
        check(len(qvv_types) == 1, "one MIME type globs *.qvv: " + str(qvv_types))
        check(bool(qvv_types) and qvv_types[0] in d.get("MimeType", "").split(";"),
              "the desktop entry opens that type")

        # pkg-config: the flags of the installed tree (DESTDIR is a sysroot).
        env = dict(os.environ, PKG_CONFIG_PATH=p(libdir, "pkgconfig"), PKG_CONFIG_SYSROOT_DIR=dest,
                   PKG_CONFIG_LIBDIR="/nonexistent")
        version = run(["pkg-config", "--modversion", "voxcore"], env=env).stdout.strip()
        check(version == "3.0.6", "pkg-config --modversion voxcore: " + version)
        r = run(["pkg-config", "--cflags", "--libs", "voxcore"], env=env)
        flags = r.stdout.split()
        check(r.returncode == 0 and "-lvoxcore" in flags, "pkg-config --libs names -lvoxcore: " + r.stdout.strip())
        program = os.path.join(tmp, "voice.c")
        with open(program, "w") as f:
            f.write("""#include <voxcore.h>
#include <stdio.h>
#include <string.h>
int main(void) {
  char version[64] = {0};
  if (ZN_VOICE_GetVersion(version) != ZN_VOICE_OK) return 1;
  /* one G.711 A-law frame there and back: a quiet ramp comes back close */
  static unsigned char enc[ZN_VOICE_STATE_SIZE], dec[ZN_VOICE_STATE_SIZE];
  int16_t pcm[160], out[ZN_VOICE_MAX_DECODED_SAMPLES];
  uint8_t frame[ZN_VOICE_MAX_FRAME_BYTES];
  for (int i = 0; i < 160; ++i) pcm[i] = (int16_t)(i * 50 - 4000);
  uint16_t samples = 0;
  if (ZN_VOICE_EncReset(enc, 1) || ZN_VOICE_DecReset(dec, 1)) return 2;
  if (ZN_VOICE_EncodeFrame(enc, pcm, frame, 160)) return 3;
  if (ZN_VOICE_DecodeFrame(dec, frame, out, &samples) || samples != 160) return 4;
  for (int i = 0; i < 160; ++i) if (out[i] - pcm[i] > 300 || pcm[i] - out[i] > 300) return 5;
  printf("%s\\n", version);
  return 0;
}
""")
        exe = os.path.join(tmp, "voice")
        r = run([cc, program, "-o", exe] + cflags + flags)
        if check(r.returncode == 0, "a C program builds against the installed voxcore"):
            r = run([exe], env=dict(os.environ, LD_LIBRARY_PATH=p(libdir)))
            check(r.returncode == 0 and "V3.0.6" in r.stdout, "and runs: " + r.stdout.strip() + " status %d" % r.returncode)
            r = run(["ldd", exe], env=dict(os.environ, LD_LIBRARY_PATH=p(libdir)))
            check(p(libdir, "libvoxcore.so.3") in r.stdout, "it loads the installed libvoxcore.so.3")

        # The installed player: it finds its pages and keeps its settings in
        # the user's folder, not beside itself.
        xdg = os.path.join(tmp, "config")
        shot = os.path.join(tmp, "window.png")
        env = dict(os.environ, XDG_CONFIG_HOME=xdg, HOME=os.path.join(tmp, "home"), QT_QPA_PLATFORM="offscreen",
                   QTWEBENGINE_DISABLE_SANDBOX="1")
        os.makedirs(env["HOME"])
        r = run([p(bindir, "Dravik"), "--screenshot", shot, "--after", "1"], env=env, timeout=240)
        check(r.returncode == 0 and os.path.isfile(shot), "the installed Dravik starts and saves its window")
        if r.returncode != 0:
            print(r.stdout[-3000:])
        ini = os.path.join(xdg, "Dravik", "setting.ini")
        check(os.path.isfile(ini), "setting.ini in $XDG_CONFIG_HOME/Dravik")
        check(os.path.isfile(os.path.join(xdg, "Dravik", "Language", "language_eng.ini")),
              "the language files in $XDG_CONFIG_HOME/Dravik/Language")
        check(not os.path.exists(os.path.join(program_dir, "setting.ini"))
              and not os.path.exists(os.path.join(program_dir, "Language")),
              "nothing written beside the installed program")
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    print("%d passed, %d failed" % (0 if failures else 1, 1 if failures else 0))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
