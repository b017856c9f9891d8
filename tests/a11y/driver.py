"""Drives the real window through the accessibility bus, by accessible names
and actions only, as a screen reader or any AT-SPI client would.

    driver.py PID names
    driver.py PID box TIME               Start with a bad time: the box is read, then OK
    driver.py PID arm TIME FILE          fill both fields, press 開始, see the running panel
    driver.py PID armed TIME FILE        see the running panel with TIME and FILE
    driver.py PID stop TIME              press 停止, see the input panel with TIME
    driver.py PID says TEXT              something shown (a box) reads TEXT
    driver.py PID shows TEXT             something shown (a button) is named with TEXT
                                         in its name, mnemonics left out
    driver.py PID focuses TEXT           from now on, the focus comes to something named
                                         with TEXT (a menu's item: a menu is no child of
                                         the application, so it is heard, not walked);
                                         says "listening" once it listens
"""
import sys
import time

import pyatspi

DEADLINE = 20


def until(what, probe):
    """Polls probe() until it gives something, for DEADLINE seconds. An
    accessible object can go away while it is walked (the panels swap, a box
    closes): an error from the bus only means "not yet"."""
    end = time.monotonic() + DEADLINE
    error = None
    while True:
        try:
            found = probe()
        except Exception as e:  # pyatspi raises several kinds for a gone object
            found, error = None, e
        if found:
            return found
        if time.monotonic() > end:
            sys.exit(f"FAIL: {what}" + (f" (last error: {error})" if error else ""))
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
                pass  # another application that went away
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


def do_press(find_button):
    """Presses the button find_button() gives, once. A press that takes
    effect may hide the button before the bus answers: the caller's next wait
    tells whether it worked."""
    def probe():
        action = find_button().queryAction()
        names = [action.getName(i).lower() for i in range(action.nActions)]
        return action, (names.index("press") if "press" in names else 0)
    action, index = until("no button to press", probe)
    try:
        action.doAction(index)
    except Exception:
        pass


def press(app, name):
    do_press(lambda: find(app, "push button", name))


def fill(app, name, value):
    def probe():
        field = find(app, "text", name)
        if field is None:
            return False
        if text_of(field) != value:
            field.queryEditableText().setTextContents(value)
        return text_of(field) == value
    until(f"field {name!r} did not take {value!r}", probe)


def check_names(app):
    size = until("no window", lambda: tuple(
        find(app, "frame", "Oribeth").queryComponent().getSize()))
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
    do_press(lambda: next(a for a in nodes(app) if a.getRoleName() == "push button"
                          and a.name.replace("&", "") == "OK" and showing(a)))
    until("the box stayed", lambda: find(app, "push button", "開始"))

    # The field concerned is entered again: its whole text selected, and the
    # focus in it whenever the window is active (a headless server may leave
    # no window active once the box is gone).
    def entered():
        field = find(app, "text", "起動時刻")
        if has_state(find(app, "frame", "Oribeth"), pyatspi.STATE_ACTIVE) and \
                not has_state(field, pyatspi.STATE_FOCUSED):
            return False
        text = field.queryText()
        return text.getNSelections() == 1 and \
            tuple(text.getSelection(0)) == (0, text.characterCount)
    until("the time field is not entered with its text selected", entered)


def arm(app, time_text, file):
    fill(app, "起動時刻", time_text)
    fill(app, "ファイル", file)
    press(app, "開始")
    armed(app, time_text, file)


def armed(app, time_text, file):
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


def has_state(acc, state):
    return acc is not None and acc.getState().contains(state)


def focuses(pid, text):
    from gi.repository import GLib
    found = []
    # An application learns of listeners once it is on the bus: one that
    # registers before that may never be told.
    app_of(pid)

    def heard(event):
        try:
            if event.detail1 == 1 and event.source.get_process_id() == pid and \
                    text in event.source.name.replace("&", ""):
                found.append(event.source.name)
                pyatspi.Registry.stop()
        except Exception:
            pass  # the item went away with its menu

    pyatspi.Registry.registerEventListener(heard, "object:state-changed:focused")
    GLib.timeout_add_seconds(DEADLINE, pyatspi.Registry.stop)
    GLib.idle_add(lambda: print("listening", flush=True) and False)
    pyatspi.Registry.start()
    if not found:
        sys.exit(f"FAIL: the focus never came to something named with {text!r}")


def main():
    pid, command, args = int(sys.argv[1]), sys.argv[2], sys.argv[3:]
    if command == "focuses":
        focuses(pid, args[0])
        print(f"ok: {command}")
        return
    app = app_of(pid)
    if command == "names":
        check_names(app)
    elif command == "box":
        check_box(app, *args)
    elif command == "arm":
        arm(app, *args)
    elif command == "stop":
        stop(app, *args)
    elif command == "armed":
        armed(app, *args)
    elif command == "says":
        until(f"nothing shown says {args[0]!r}", lambda: any(
            showing(a) and args[0] in (a.name, text_of(a)) for a in nodes(app)))
    elif command == "shows":
        until(f"nothing shown is named with {args[0]!r}", lambda: any(
            showing(a) and args[0] in a.name.replace("&", "") for a in nodes(app)))
    else:
        sys.exit(f"unknown command {command}")
    print(f"ok: {command}")


main()
