#!/usr/bin/env python3
"""The layers' one rule that the compiler does not check: the commands and the command line know no widget.

Fails (exit 1) when a file in app/commands or app/cli includes, directly or through the project's own
headers, a header of Qt's widget module, or a header of the window (app/window). Prints each offending
chain of includes."""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]', re.M)
GUARDED = ("app/commands", "app/cli")

# Qt's widget module: its own folder when the headers are installed, else the usual names.
WIDGET_DIRS = ["/usr/include/x86_64-linux-gnu/qt6/QtWidgets", "/usr/include/qt6/QtWidgets"]
widget_headers = {"QtWidgets"}
for d in WIDGET_DIRS:
    if os.path.isdir(d):
        widget_headers.update(n for n in os.listdir(d) if not n.endswith(".h") or n.startswith("q"))
        widget_headers.update("QtWidgets/" + n for n in os.listdir(d))
if len(widget_headers) == 1:
    widget_headers.update(["QWidget", "QDialog", "QMessageBox", "QMainWindow", "QApplication", "QLabel",
                           "QPushButton", "QAbstractButton", "QCheckBox", "QListWidget", "QProgressBar",
                           "QStatusBar", "QMenu", "QMenuBar", "QGroupBox", "QLineEdit", "QFileDialog"])


def includes(path):
    try:
        with open(os.path.join(ROOT, path), encoding="utf-8") as f:
            return INCLUDE.findall(f.read())
    except OSError:
        return []


def offending(path, seen, chain):
    """The first include chain from `path` that reaches a widget or window header, or None."""
    for inc in includes(path):
        if inc in widget_headers or inc.startswith("app/window/") or inc == "app/main_window.h":
            return chain + [inc]
        if os.path.isfile(os.path.join(ROOT, inc)) and inc not in seen:
            seen.add(inc)
            found = offending(inc, seen, chain + [inc])
            if found:
                return found
    return None


failures = 0
for folder in GUARDED:
    for name in sorted(os.listdir(os.path.join(ROOT, folder))):
        if not name.endswith((".h", ".cpp")):
            continue
        path = folder + "/" + name
        chain = offending(path, {path}, [path])
        if chain:
            failures += 1
            print("check_layers: %s reaches a widget or window header: %s" % (path, " -> ".join(chain)))
if failures:
    sys.exit(1)
print("check_layers: app/commands and app/cli know no widget")
