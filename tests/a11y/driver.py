"""Drives the real window through the accessibility bus, by accessible names
and actions only, as a screen reader or any AT-SPI client would.

    driver.py PID names
    driver.py PID box TIME               Start with a bad time: the box is read, then OK
    driver.py PID arm TIME FILE          fill both fields, press 開始, see the running panel
    driver.py PID stop TIME              press 停止, see the input panel with TIME
"""
import sys
import time

import pyatspi

DEADLINE = 20


def until(what, probe):
    end = time.monotonic() + DEADLINE
    while True:
        found = probe()
        if found:
            return found
        if time.monotonic() > end:
            sys.exit(f"FAIL: {what}")
        time.sleep(0.1)


def app_of(pid):
    def probe():
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            try:
                if app is not None and app.get_process_id() == pid:
                    return app
            except Exception:
                pass
        return None
    return until(f"no application with pid {pid} on the bus", probe)


def nodes(acc):
    if acc is None:
        return
    yield acc
    for i in range(acc.childCount):
        yield from nodes(acc.getChildAtIndex(i))


def showing(acc):
    return acc.getState().contains(pyatspi.STATE_SHOWING)


def text_of(acc):
    try:
        t = acc.queryText()
        return t.getText(0, t.characterCount)
    except NotImplementedError:
        return None


def find(app, role, name, shown=True):
    for acc in nodes(app):
        if acc.getRoleName() == role and acc.name == name and showing(acc) == shown:
            return acc
    return None


def press(app, name):
    button = until(f"no button {name!r} showing", lambda: find(app, "push button", name))
    action = button.queryAction()
    names = [action.getName(i).lower() for i in range(action.nActions)]
    action.doAction(names.index("press") if "press" in names else 0)


def fill(app, name, value):
    field = until(f"no field {name!r} showing", lambda: find(app, "text", name))
    field.queryEditableText().setTextContents(value)
    until(f"field {name!r} did not take {value!r}", lambda: text_of(field) == value)


def check_names(app):
    window = until("no window", lambda: find(app, "filler", "Oribeth"))
    size = tuple(window.queryComponent().getSize())
    if size != (278, 59):
        sys.exit(f"FAIL: the window is {size}, not 278 x 59")

    controls = until("no focusable control showing",
                     lambda: [a for a in nodes(app)
                              if showing(a) and a.getState().contains(pyatspi.STATE_FOCUSABLE)])
    for acc in controls:
        name = acc.name.strip()
        # A glyph alone (such as a triangle) says nothing of what a control does.
        if len(name) < 2:
            sys.exit(f"FAIL: a {acc.getRoleName()} is announced as {acc.name!r}")
    spoken = sorted(f"{a.getRoleName()}:{a.name}" for a in controls)
    expected = sorted(["text:起動時刻", "push button:起動時刻を1分戻す",
                       "push button:起動時刻を1分進める", "text:ファイル", "push button:開始"])
    if spoken != expected:
        sys.exit(f"FAIL: focusable controls {spoken}")


def check_box(app, time_text):
    fill(app, "起動時刻", time_text)
    press(app, "開始")
    message = "起動時刻は「HH:MM」形式で入力して下さい。"
    until("the box's text cannot be read",
          lambda: any(showing(a) and (a.name == message or text_of(a) == message)
                      for a in nodes(app)))
    ok = until("no OK button",
               lambda: next((a for a in nodes(app) if a.getRoleName() == "push button"
                             and a.name.replace("&", "") == "OK" and showing(a)), None))
    ok.queryAction().doAction(0)
    until("the box stayed", lambda: find(app, "push button", "開始"))


def arm(app, time_text, file):
    fill(app, "起動時刻", time_text)
    fill(app, "ファイル", file)
    press(app, "開始")

    # The values are named by their captions and described by what they show.
    def running():
        shown = {(a.name, a.description) for a in nodes(app)
                 if a.getRoleName() == "label" and showing(a)}
        inputs_hidden = find(app, "text", "起動時刻") is None
        return {("起動時刻", time_text), ("ファイル", file)} <= shown and inputs_hidden
    until("the running panel does not show the armed values", running)


def stop(app, time_text):
    press(app, "停止")
    until("the input panel did not come back",
          lambda: (lambda f: f is not None and text_of(f) == time_text)(
              find(app, "text", "起動時刻")))


def main():
    pid, command, args = int(sys.argv[1]), sys.argv[2], sys.argv[3:]
    app = app_of(pid)
    if command == "names":
        check_names(app)
    elif command == "box":
        check_box(app, *args)
    elif command == "arm":
        arm(app, *args)
    elif command == "stop":
        stop(app, *args)
    else:
        sys.exit(f"unknown command {command}")
    print(f"ok: {command}")


main()
