#!/usr/bin/python3
"""Reads the running updater's window through AT-SPI as a screen reader does: dumps the
tree, checks names and roles in the compact view, presses 检查更新 through the action
interface and checks that the check runs and the expanded view is described."""
import subprocess
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402


class FocusEvents:
    """Records the elements that gain the focus, as a screen reader hears of them."""

    def __init__(self):
        self.heard = []
        self.listener = Atspi.EventListener.new(self.on_event)
        self.listener.register("object:state-changed:focused")

    def on_event(self, event):
        if event.detail1 == 1:
            self.heard.append((event.source.get_name(), event.source.get_description()))

    def wait_for(self, name, timeout=10):
        deadline = time.time() + timeout
        context = GLib.MainContext.default()
        while time.time() < deadline:
            while context.iteration(False):
                pass
            for heard in self.heard:
                if heard[0] == name:
                    return heard
            time.sleep(0.05)
        return None


def find_window(timeout):
    deadline = time.time() + timeout
    while time.time() < deadline:
        desktop = Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            if app is None or app.get_name() != "update-tool":
                continue
            for j in range(app.get_child_count()):
                window = app.get_child_at_index(j)
                if window is not None and "更新工具" in (window.get_name() or ""):
                    return window
        time.sleep(0.2)
    return None


def describe(node):
    role = node.get_role_name()
    line = f"{role} “{node.get_name()}”"
    value = node.get_value_iface() if hasattr(node, "get_value_iface") else None
    if value is not None and role == "progress bar":
        line += f" = {value.get_current_value():g}"
    extents = node.get_extents(Atspi.CoordType.SCREEN)
    line += f" [{extents.x},{extents.y} {extents.width}x{extents.height}]"
    states = node.get_state_set()
    for state, label in ((Atspi.StateType.FOCUSABLE, "focusable"),
                         (Atspi.StateType.FOCUSED, "focused")):
        if states.contains(state):
            line += " " + label
    return line


def dump(window):
    lines = [describe(window)]
    children = []
    for i in range(window.get_child_count()):
        child = window.get_child_at_index(i)
        lines.append("  " + describe(child))
        children.append((child.get_role_name(), child.get_name(), child))
    return lines, children


def expect(condition, message):
    if not condition:
        print("FAIL: " + message)
        sys.exit(1)


def main():
    window = find_window(30)
    expect(window is not None, "no window of update-tool on the accessibility bus")
    lines, children = dump(window)
    print("compact view:\n" + "\n".join(lines))
    roles = [(role, name) for role, name, _ in children]
    for wanted in [("push button", "检查更新"), ("link", "点击这里访问作者页面"),
                   ("push button", "扩展显示"), ("push button", "最小化"),
                   ("push button", "立即退出")]:
        expect(wanted in roles, f"no {wanted} in the compact view")
    expect(any(role == "label" and "检查更新" in name for role, name in roles),
           "the content text is missing")
    swatches = [name for role, name in roles if name.startswith("更换界面样式")]
    expect(len(swatches) == 3 and len(set(swatches)) == 3,
           f"the style swatches have no names of their own: {swatches}")
    # Screen positions from the first frame: the window is centred on the 1024 x 768 screen.
    extents = window.get_extents(Atspi.CoordType.SCREEN)
    expect((extents.x, extents.y) == (282, 274),
           f"the window is reported at {extents.x},{extents.y}, not centred")

    # The first Tab lands on the element that had the focus by default: a reader hears of it.
    events = FocusEvents()
    updater = subprocess.run(["xdotool", "search", "--name", "KIV UPDATE"],
                             capture_output=True, text=True).stdout.split()
    expect(updater, "no updater window on the X server")
    subprocess.run(["xdotool", "windowfocus", "--sync", updater[0], "key", "--window",
                    updater[0], "Tab"], check=True)
    expect(events.wait_for("检查更新") is not None,
           f"no focus event on the first Tab, only {events.heard}")
    events.heard.clear()

    check = next(node for role, name, node in children if name == "检查更新")
    action = check.get_action_iface()
    expect(action is not None and action.get_n_actions() >= 1, "检查更新 has no action")
    expect(action.get_action_name(0) == "Press", "检查更新's action is not Press")
    action.do_action(0)

    deadline = time.time() + 30
    while time.time() < deadline:
        extents = window.get_extents(Atspi.CoordType.SCREEN)
        names = [window.get_child_at_index(i).get_name()
                 for i in range(window.get_child_count())]
        if (extents.width, extents.height) == (400, 460) and "开始下载" in names:
            break
        time.sleep(0.3)
    lines, children = dump(window)
    print("after Press on 检查更新:\n" + "\n".join(lines))
    roles = [(role, name) for role, name, _ in children]
    expect(("push button", "开始下载") in roles, "the found version offers no 开始下载")
    expect(("label", "用户协议") in roles, "the expanded view's agreement is missing")
    expect(("label", sys.argv[1]) in roles, "the found version is missing")
    # The result is announced: the focus arrives at 开始下载, described by the version.
    heard = events.wait_for("开始下载")
    expect(heard == ("开始下载", sys.argv[1]),
           f"the check's result was not announced, heard {events.heard}")
    print("PASS")


main()
