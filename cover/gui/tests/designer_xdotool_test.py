#!/usr/bin/python3
"""The cover sheet designer driven like a user, under Xvfb, with xdotool.

Draws a rectangle, a text and a field with the tool buttons and the mouse, types the text into the
text dialog, saves through File > Save As (the proposed ZN0001.FCS), exits through File > Exit, then
renders a quick-fax cover from the saved render file with znfax and decodes the page with g3topbm:
each item must show where it was drawn (a fax pixel is twice a design pixel, plus 98).

    designer_xdotool_test.py DESIGNER_LAUNCHER ZNFAX WORK_FOLDER

Screenshots of the screen go to WORK_FOLDER for looking at.
"""
import os
import shutil
import subprocess
import sys
import time


def run(*args, **kw):
    return subprocess.run(list(args), check=True, **kw)


def xdo(*args):
    run("xdotool", *[str(a) for a in args])


def wait_for(predicate, what, seconds=30):
    # Polls for what a window shows; the bound only ends a broken run, it measures nothing.
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if predicate():
            return
        time.sleep(0.05)
    raise SystemExit("gave up waiting for " + what)


def window_named(name):
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name],
                           capture_output=True, text=True)
    return found.stdout.split()


def screenshot(work, name):
    subprocess.run(["import", "-window", "root", os.path.join(work, name)], check=False)


def read_pbm(path):
    with open(path, "rb") as f:
        data = f.read()
    fields, pos = [], 0
    while len(fields) < 3:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    pos += 1
    assert fields[0] == b"P4", fields[0]
    width, height = int(fields[1]), int(fields[2])
    stride = (width + 7) // 8
    rows = [data[pos + y * stride: pos + (y + 1) * stride] for y in range(height)]
    return width, height, rows


def black_count(page, x0, y0, x1, y1):
    _, _, rows = page
    n = 0
    for y in range(y0, y1):
        row = rows[y]
        for x in range(x0, x1):
            n += (row[x >> 3] >> (7 - (x & 7))) & 1
    return n


def main():
    launcher, znfax, work = sys.argv[1:4]
    shutil.rmtree(work, ignore_errors=True)
    home = os.path.join(work, "home")
    os.makedirs(home)
    env = dict(os.environ, ZN_HOME=home, QT_QPA_PLATFORM="xcb")
    positions_file = os.path.join(work, "positions")
    designer = subprocess.Popen([launcher, positions_file], env=env)
    try:
        wait_for(lambda: os.path.exists(positions_file), "the designer window")
        wait_for(lambda: window_named("Cover Sheet Template Designer"), "the designer's caption")
        places = {}
        with open(positions_file) as f:
            for line in f:
                name, x, y, w, h = line.split()
                places[name] = (int(x), int(y), int(w), int(h))
        page_x, page_y = places["LabelPanel"][:2]

        def click(name):
            x, y, w, h = places[name]
            xdo("mousemove", "--sync", x + w // 2, y + h // 2)
            xdo("click", 1)

        def drag(x0, y0, x1, y1):
            xdo("mousemove", "--sync", page_x + x0, page_y + y0)
            xdo("mousedown", 1)
            xdo("mousemove", "--sync", page_x + (x0 + x1) // 2, page_y + (y0 + y1) // 2)
            xdo("mousemove", "--sync", page_x + x1, page_y + y1)
            xdo("mouseup", 1)

        click("DrawRectanglebutton")
        drag(100, 120, 300, 200)
        click("DrawLabelButton")
        drag(100, 250, 300, 290)
        wait_for(lambda: window_named("^Text$"), "the text dialog")
        xdo("key", "--clearmodifiers", "ctrl+a")
        xdo("type", "--delay", 20, "WWWW")
        xdo("key", "Return")
        wait_for(lambda: not window_named("^Text$"), "the text dialog to close")
        click("FieldBoxButton")
        drag(100, 350, 300, 380)
        # Select the rectangle so that the picture shows the selection squares.
        click("Pointerbutton")
        xdo("mousemove", "--sync", page_x + 101, page_y + 160)
        xdo("click", 1)
        time.sleep(0.3)
        screenshot(work, "designer_drawn.png")

        xdo("windowfocus", "--sync", window_named("Cover Sheet Template Designer")[0])
        xdo("key", "alt+f")
        xdo("key", "a")
        wait_for(lambda: window_named("Save fax cover template as"), "the Save As dialog")
        screenshot(work, "designer_save_as.png")
        xdo("key", "Return")
        wait_for(lambda: not window_named("Save fax cover template as"), "the Save As dialog to close")
        wait_for(lambda: window_named("Cover Sheet Template Designer - \\[Description\\]"), "the described caption")
        # Without a window manager the closed dialog leaves no focus: give it back to the window.
        xdo("windowfocus", "--sync", window_named("Cover Sheet Template Designer")[0])
        xdo("key", "alt+f")
        xdo("key", "x")
        designer.wait(timeout=30)
    finally:
        if designer.poll() is None:
            designer.kill()
            designer.wait()

    covers = os.path.join(home, "Covers")
    names = sorted(os.listdir(covers))
    print("saved:", names)
    for ext in ("FCS", "FCT", "DES", "bmp"):
        assert "ZN0001." + ext in names, names
    apf = os.path.join(work, "cover.apf")
    run(znfax, "cover", os.path.join(covers, "ZN0001.FCT"), apf, "--value", "Date=WWWWWWWW")
    g3 = os.path.join(work, "cover.g3")
    run(znfax, "raw", apf, g3)
    pbm = os.path.join(work, "cover.pbm")
    with open(pbm, "wb") as out:
        run("g3topbm", "-reversebits", g3, stdout=out)
    page = read_pbm(pbm)
    assert page[0] == 1728, page[0]

    def fax(v):
        return 2 * v + 98

    # The rectangle from (100, 120) to (300, 200): its frame is black, its inside white.
    top = black_count(page, fax(110), fax(120) - 2, fax(290), fax(120) + 3)
    bottom = black_count(page, fax(110), fax(200) - 3, fax(290), fax(200) + 2)
    inside = black_count(page, fax(110), fax(130), fax(290), fax(190))
    left = black_count(page, fax(100) - 2, fax(130), fax(100) + 3, fax(190))
    print("rectangle: top", top, "bottom", bottom, "left", left, "inside", inside)
    assert top >= 2 * (fax(290) - fax(110)) * 0.9 and bottom > 300 and left > 100 and inside == 0
    # The text "WWWW" in its box from (100, 250), the date field's text in its box from (100, 350).
    text = black_count(page, fax(100), fax(250), fax(300), fax(290))
    field = black_count(page, fax(100), fax(350), fax(300), fax(380))
    print("text", text, "field", field)
    assert text > 200 and field > 200
    # Nothing between the items, nothing right of them.
    assert black_count(page, fax(100), fax(210), fax(300), fax(245)) == 0
    assert black_count(page, fax(100), fax(300), fax(300), fax(345)) == 0
    assert black_count(page, fax(420), 0, 1728, fax(500)) == 0
    print("ok")


if __name__ == "__main__":
    main()
