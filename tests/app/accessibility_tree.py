#!/usr/bin/python3
"""Reads what a screen reader reads: the accessibility tree (AT-SPI) of the real application,
run on a virtual display of its own with a session bus of its own. Every input field of the
data-entry window is named by its caption, not by its group box; after a generation run the
preview's viewport, scroll bars and buttons have readable names.

Usage: accessibility_tree.py PATH-TO-INKHAVEN   (needs Xvfb, dbus-daemon, at-spi2-core, python3-pyatspi)
"""
import os
import signal
import subprocess
import sys
import tempfile
import time

YOUR_DATA = ["Your Name:", "Title:", "Street Address:", "City:", "State:", "Zip Code:"]
RECIPIENT_DATA = ["Recipient Name:", "Title:", "Company Name:", "Street Address:", "City:", "State:", "Zip Code:"]
DATA_ENTRY_BUTTONS = ["Start Creating Template", "Clear/Reset Data", "Load Sample/Example Data"]
PREVIEW_NAMES = {
    "push button": ["Zoom In", "Zoom Out", "Back", "Save Results To Word File"],
    "scroll bar": ["Scroll down the page", "Scroll across the page"],
}
VIEWPORT = "Page preview"
PREVIEW_TIMEOUT = 240


def start_display():
    """Xvfb on the first free display number, which it reports itself."""
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                            pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(read_end, 16)
        if not chunk:
            raise RuntimeError("Xvfb did not start")
        number += chunk
    os.close(read_end)
    return xvfb, ":" + number.decode().strip()


def start_session_bus():
    bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                           stdout=subprocess.PIPE, text=True)
    return bus, bus.stdout.readline().strip()


def start_application(program, home):
    config = os.path.join(home, "config")
    temp = os.path.join(home, "tmp")
    os.makedirs(config)
    os.makedirs(temp)
    # No splash: the window comes up at once.
    with open(os.path.join(config, "Kestrelworks.ini"), "w") as settings:
        settings.write("[Inkhaven]\nShowAgain=1\n")
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=config, XDG_CACHE_HOME=os.path.join(home, "cache"),
               TEMP=temp, TMPDIR=temp, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
    return subprocess.Popen([program], env=env)


def role(accessible):
    return accessible.getRoleName()


def descendants(accessible):
    for index in range(accessible.childCount):
        child = accessible.getChildAtIndex(index)
        if child is None:
            continue
        yield child
        yield from descendants(child)


def describe(accessible, depth=0):
    lines = ["  " * depth + "%s %r" % (role(accessible), accessible.name)]
    for index in range(accessible.childCount):
        child = accessible.getChildAtIndex(index)
        if child is not None:
            lines += describe(child, depth + 1)
    return lines


def wait_for(what, find, timeout):
    """Polls find() until it returns something; the application may be busy and not answer."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            found = find()
            if found is not None:
                return found
        except Exception:  # a busy or starting application answers with errors for a while
            pass
        time.sleep(0.5)
    raise AssertionError("%s did not appear within %d seconds" % (what, timeout))


def showing_frame(pyatspi, pid, title):
    for application in pyatspi.Registry.getDesktop(0):
        if application is None or application.get_process_id() != pid:
            continue
        for frame in application:
            if frame is not None and frame.name == title and frame.getState().contains(pyatspi.STATE_SHOWING):
                return frame
    return None


def names_of(container, role_name):
    return [item.name for item in descendants(container) if role(item) == role_name]


def check_data_entry(frame, failures):
    groups = {item.name: item for item in descendants(frame) if role(item) == "panel"}
    for title, captions in (("Your Data", YOUR_DATA), ("Recipient Data", RECIPIENT_DATA)):
        if title not in groups:
            failures.append("no group box named %r" % title)
            continue
        fields = names_of(groups[title], "text")
        if fields != captions:
            failures.append("fields of %r are named %r, expected %r" % (title, fields, captions))
    buttons = names_of(frame, "push button")
    if buttons != DATA_ENTRY_BUTTONS:
        failures.append("data-entry buttons are named %r" % buttons)


def check_preview(frame, failures):
    for role_name, expected in PREVIEW_NAMES.items():
        names = names_of(frame, role_name)
        if sorted(names) != sorted(expected):
            failures.append("preview %ss are named %r, expected %r" % (role_name, names, expected))
    if not any(item.name == VIEWPORT for item in descendants(frame)):
        failures.append("no part of the preview is named %r" % VIEWPORT)


def press(pyatspi, frame, button_name):
    for item in descendants(frame):
        if role(item) == "push button" and item.name == button_name:
            item.queryAction().doAction(0)
            return
    raise AssertionError("no button %r" % button_name)


def run(program):
    import pyatspi  # after the bus address is known

    failures = []
    with tempfile.TemporaryDirectory() as home:
        application = start_application(program, home)
        try:
            data_entry = wait_for("The data-entry window", lambda: showing_frame(pyatspi, application.pid, "Inkhaven"), 120)
            check_data_entry(data_entry, failures)
            if failures:
                failures += describe(data_entry)
            press(pyatspi, data_entry, "Start Creating Template")
            preview = wait_for("The preview window", lambda: showing_frame(pyatspi, application.pid, "Preview"),
                               PREVIEW_TIMEOUT)
            before = len(failures)
            check_preview(preview, failures)
            if len(failures) > before:
                failures += describe(preview)
        finally:
            application.send_signal(signal.SIGTERM)
            try:
                application.wait(60)
            except subprocess.TimeoutExpired:
                application.kill()
                application.wait()
    return failures


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    xvfb, display = start_display()
    bus, address = start_session_bus()
    try:
        os.environ["DISPLAY"] = display
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = address
        failures = run(os.path.abspath(sys.argv[1]))
    finally:
        bus.terminate()
        bus.wait()
        xvfb.terminate()
        xvfb.wait()
    for failure in failures:
        print(failure)
    print("FAIL" if failures else "PASS")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
