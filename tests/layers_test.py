"""Fails when a module includes a header of a layer above it.

The layers, lowest first: picture (the framework; its metafile player is the
only part that draws with Qt), graphics (the image-format library), formats,
app (the finder) and tools on top. platform lies below app and installer and
uses none of the finder's code; installer (setup) uses only platform, so that
setup links nothing of the finder. The compression libraries (zlib,
libjpeg, OpenJPEG) stay private to the sources that call them: no header
of ours includes theirs, but for a library's binding unit (Lib*.h).

Run as: layers_test.py SOURCE_DIR. Before the tree is checked, the check is
run on a small made-up tree with one fault of each kind, so that a check that
stopped seeing includes fails too.
"""
import os
import re
import sys
import tempfile

ALLOWED = {
    "picture": {"picture"},
    "graphics": {"picture", "graphics"},
    "formats": {"picture", "graphics", "formats"},
    "platform": {"platform"},
    "app": {"picture", "graphics", "formats", "platform", "app"},
    "installer": {"platform", "installer"},
    "tools": {"picture", "graphics", "formats", "platform", "app", "tools"},
}
SOURCE_SUFFIXES = (".h", ".cpp", ".c")
QUOTED = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
QT = re.compile(r"^\s*#\s*include\s+<(Q[A-Za-z]*)(?:/[^>]*)?>", re.M)
PRIVATE_LIBRARY = re.compile(r"^\s*#\s*include\s+<((?:zlib|zconf|jpeglib|jerror|jconfig|openjpeg)\.h)>", re.M)


def module_of(root, path):
    rel = os.path.relpath(path, root)
    return rel.split(os.sep)[0] if not rel.startswith("..") else None


def qt_allowed(root, path):
    """Qt belongs to the metafile player, the platform's Qt* units and the
    windows of app and installer; the framework and the library never use it."""
    rel = os.path.relpath(path, root).replace(os.sep, "/")
    module = rel.split("/")[0]
    if module in ("app", "installer", "tools"):
        return True
    if rel.startswith("picture/metafile/"):
        return True
    return module == "platform" and os.path.basename(rel).startswith("Qt")


def resolve(root, path, name):
    """The file an include names: beside the includer first, then from the
    top of the tree (how the build's include path finds it); None for a file
    of neither (a system or generated header)."""
    for base in (os.path.dirname(path), root):
        candidate = os.path.normpath(os.path.join(base, name))
        if os.path.isfile(candidate):
            return candidate
    return None


def check(root):
    faults = []
    for module, allowed in sorted(ALLOWED.items()):
        top = os.path.join(root, module)
        for dirpath, _, files in os.walk(top):
            for file in sorted(files):
                if not file.endswith(SOURCE_SUFFIXES):
                    continue
                path = os.path.join(dirpath, file)
                with open(path, encoding="utf-8", errors="replace") as f:
                    text = f.read()
                rel = os.path.relpath(path, root)
                for name in QUOTED.findall(text):
                    target = resolve(root, path, name)
                    used = module_of(root, target) if target else None
                    if used is not None and used not in allowed:
                        faults.append(f"{rel}: includes {name} ({used} is not below {module})")
                if not qt_allowed(root, path):
                    for name in QT.findall(text):
                        faults.append(f"{rel}: includes Qt's <{name}>")
                # A binding unit (Lib*.h) exists to hand one library's types
                # to the codec that wraps it; only that codec includes it.
                if file.endswith(".h") and not file.startswith("Lib"):
                    for name in PRIVATE_LIBRARY.findall(text):
                        faults.append(f"{rel}: a header includes <{name}>")
    return faults


def self_test():
    """The check must see one fault of each kind in a made-up tree."""
    files = {
        "picture/Graphics.h": '#include "graphics/GraphicFormats.h"\n',
        "picture/Canvas.cpp": "#include <QImage>\n",
        "picture/metafile/Player.cpp": '#include <QPainter>\n#include "picture/Graphics.h"\n',
        "graphics/GraphicFormats.h": '#include "picture/Graphics.h"\n#include "formats/Unit.h"\n',
        "formats/Unit.h": '#include "../app/FileFacts.h"\n',
        "formats/Codec.h": "#include <openjpeg.h>\n",
        "formats/Codec.cpp": "#include <openjpeg.h>\n",
        "app/FileFacts.h": '#include "formats/Unit.h"\n#include "platform/Shell.h"\n',
        "platform/Shell.h": '#include "picture/Graphics.h"\n',
        "installer/SetupWindow.h": '#include "platform/Shell.h"\n#include "graphics/GraphicFormats.h"\n',
    }
    with tempfile.TemporaryDirectory() as root:
        for name, text in files.items():
            os.makedirs(os.path.dirname(os.path.join(root, name)), exist_ok=True)
            with open(os.path.join(root, name), "w") as f:
                f.write(text)
        found = sorted(fault.split(":")[0] for fault in check(root))
    expected = sorted(["picture/Graphics.h", "picture/Canvas.cpp", "graphics/GraphicFormats.h",
                       "formats/Unit.h", "formats/Codec.h", "platform/Shell.h", "installer/SetupWindow.h"])
    if found != expected:
        sys.exit(f"the layer check itself is wrong: faults in {found}, expected {expected}")


def main():
    self_test()
    faults = check(sys.argv[1])
    for fault in faults:
        print(fault)
    sys.exit(1 if faults else 0)


if __name__ == "__main__":
    main()
