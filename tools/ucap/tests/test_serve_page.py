"""The live page in Debian's chromium (headless, selenium) against a real `ucap serve`."""

import re
import shutil
import statistics
import tempfile
import time

import numpy as np
import pytest
import tifffile
from conftest import BUILD

webdriver = pytest.importorskip("selenium.webdriver")
from selenium.webdriver import ActionChains, Keys  # noqa: E402
from selenium.webdriver.common.actions.wheel_input import ScrollOrigin  # noqa: E402
from selenium.webdriver.support.ui import Select  # noqa: E402

BLURS = [0, 1.5, 4]
# 0: the live view, at 10 frames/s; 1...: the focus figure over blurs; last: an exact grey ramp
# (its colours as strong as each other, so only the white balance tints it).
CAMERAS = ["sensor=640x480 frame_stamp=1"] + ["sensor=320x240 blur=%g" % b for b in BLURS] + [
    "sensor=320x240 scene=gradient noise=0 response=1,1,1 prnu=0 hot=0 column_pattern=0 row_pattern=0 vignette=0"]


@pytest.fixture(scope="module")
def browser(serve):
    if not shutil.which("chromedriver") and not shutil.which("chromium"):
        pytest.skip("chromium and chromium-driver are not installed")
    server = serve(CAMERAS)
    options = webdriver.ChromeOptions()
    profile = tempfile.mkdtemp(prefix="ucap-chromium-")
    for flag in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", "--no-first-run", "--window-size=1400,900",
                 "--user-data-dir=" + profile]:
        options.add_argument(flag)
    driver = webdriver.Chrome(options=options)
    driver.get(server.url)
    yield driver, server
    driver.quit()
    shutil.rmtree(profile, ignore_errors=True)


def until(driver, script, timeout=20):
    """Waits until the page's `script` (an expression) is true; returns its value."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        value = driver.execute_script("return " + script)
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError("page never reached: %s; errors %s" % (script, driver.execute_script("return ucapPage.errors")))


def fetch(driver, path):
    return driver.execute_async_script(
        "fetch(arguments[0]).then(r => r.json()).then(arguments[arguments.length - 1])", path)


def apply(driver, **fields):
    """Types settings into the page's form and presses Apply; returns the page's settings."""
    before = driver.execute_script("return ucapPage.frames")
    for key, value in fields.items():
        element = driver.find_element("id", key)
        if element.tag_name == "select":
            Select(element).select_by_value(str(value))
        else:
            element.clear()
            element.send_keys(value)
    driver.execute_script("document.getElementById('message').textContent = ''")  # said by the change before
    driver.find_element("id", "apply").click()
    until(driver, "document.getElementById('message').textContent == 'settings applied'")
    # Frames of the new settings on screen.
    until(driver, "(s => s && ucapPage.last.width == s.data_size[0] && ucapPage.last.height == s.data_size[1] && "
                  "ucapPage.last.channels == (s.bits == 36 ? 3 : 1) && ucapPage.last.exposure_us == s.exposure_us && "
                  "ucapPage.frames > %d)(ucapPage.settings)" % before)
    return driver.execute_script("return ucapPage.settings")


def under(driver, offset):
    """Points at `offset` from the image's centre; (x, y, values) the page shows there."""
    driver.execute_script("document.getElementById('overlay').textContent = '-'")
    time.sleep(0.15)  # the page asks for a pixel at most every 100 ms
    ActionChains(driver).move_to_element_with_offset(driver.find_element("id", "canvas"), *offset).perform()
    numbers = [int(n) for n in re.findall(r"\d+", until(driver, "/^x /.test(document.getElementById('overlay')"
                                                               ".textContent) && document.getElementById('overlay').textContent"))]
    return numbers[0], numbers[1], numbers[2:]


def drag(driver, mode, start, end):
    """Draws a rectangle on the image in a drawing mode (its button's id) from `start` to `end`."""
    driver.find_element("id", mode).click()
    ActionChains(driver).move_to_element_with_offset(driver.find_element("id", "canvas"), *start).click_and_hold() \
        .move_by_offset(end[0] - start[0], end[1] - start[1]).release().perform()


def select(driver, camera):
    Select(driver.find_element("id", "camera")).select_by_value(str(camera))
    until(driver, "ucapPage.settings && ucapPage.settings.camera == %d && ucapPage.last.camera == %d" % (camera, camera))


def stamp(driver):
    words = [fetch(driver, "/api/pixel?x=%d&y=0" % x)["values"][0] for x in (0, 1)]
    return words[0] + (words[1] << 12)


def test_live_settings_files(browser):
    driver, server = browser
    until(driver, "ucapPage.frames >= 3")
    # Grey frames carry their numbers: they go up, in the page and in the files.
    apply(driver, resolution=3, bits=12)
    assert driver.execute_script("return ucapPage.last.channels") == 1
    first = stamp(driver)
    time.sleep(0.3)
    assert stamp(driver) > first > 0
    driver.find_element("id", "snap").click()
    snapped = until(driver, "ucapPage.snapped")
    assert tifffile.imread(server.dir / snapped).shape == (480, 640)
    driver.find_element("id", "rec-n").clear()
    driver.find_element("id", "rec-n").send_keys("5")
    driver.find_element("id", "record").click()
    until(driver, "ucapPage.job && ucapPage.job.kind == 'record' && !ucapPage.job.running")
    assert not driver.execute_script("return ucapPage.job.error")
    frames = tifffile.imread(server.dir / driver.execute_script("return ucapPage.recording"))
    stamps = frames[:, 0, 0].astype(int) + (frames[:, 0, 1].astype(int) << 12)
    assert frames.shape == (5, 480, 640) and list(np.diff(stamps)) == [1] * 4
    # The share of frames the page showed at the camera's full rate.
    start = driver.execute_script("return [ucapPage.frames, ucapPage.number]")
    time.sleep(3)
    end = driver.execute_script("return [ucapPage.frames, ucapPage.number]")
    latency = statistics.median(driver.execute_script("return ucapPage.latency"))
    print("page showed %d of %d frames, median %g ms from arrival to display" % (end[0] - start[0], end[1] - start[1], latency))
    # Exposure: the level follows; binning and region: the size follows.
    dim = driver.execute_script("return ucapPage.last.high")
    assert apply(driver, **{"exposure-in": "250ms"})["exposure_us"] == 250000
    assert driver.execute_script("return ucapPage.last.high") > 1.5 * dim
    for fields, size in [({"resolution": 2, "bits": 36, "binning": 2}, (320, 240)), ({"binning": 1}, (640, 480)),
                         ({"roi": "64,32,384,272"}, (320, 240))]:
        settings = apply(driver, **fields)
        last = driver.execute_script("return ucapPage.last")
        assert (last["width"], last["height"]) == tuple(settings["data_size"]) == size, fields
    # A region drawn on an image that is a region already: set in the resolution's coordinates.
    a, b = under(driver, (-200, -150)), under(driver, (150, 120))
    drag(driver, "draw-roi", (-200, -150), (150, 120))
    roi = until(driver, "ucapPage.settings.roi[0] != 64 && ucapPage.settings.roi")
    assert all(abs(r - e) <= 8 for r, e in zip(roi, [64 + a[0], 32 + a[1], 64 + b[0], 32 + b[1]])), (roi, a, b)
    apply(driver, roi="", resolution=0, **{"exposure-in": "100ms"})
    artifact = BUILD / "serve-page.png"
    driver.execute_script("document.querySelector('aside').scrollTop = 0")
    driver.save_screenshot(str(artifact))
    assert artifact.stat().st_size > 10000


def test_focus_and_calibrate(browser, serve):
    driver, _ = browser
    # The focus figure falls as the scene blurs.
    figures = []
    for camera in range(1, 1 + len(BLURS)):
        Select(driver.find_element("id", "camera")).select_by_value(str(camera))
        until(driver, "ucapPage.settings && ucapPage.settings.camera == %d && ucapPage.sharpness.length >= 5" % camera)
        figures.append(statistics.median(driver.execute_script("return ucapPage.sharpness")))
    assert figures == sorted(figures, reverse=True) and figures[-1] < figures[0] / 2, figures
    # The ramp: a typed white balance tints it, balancing on a drawn region makes it grey again.
    select(driver, len(CAMERAS) - 1)
    assert apply(driver, wb="1,2,1")["white_balance"] == [1, 2, 1]
    drag(driver, "draw-wb", (-150, -100), (150, 100))
    until(driver, "document.getElementById('message').textContent == 'white balance taken from the region'")
    until(driver, "ucapPage.number > %d" % (driver.execute_script("return ucapPage.number") + 2))
    rgb = fetch(driver, "/api/pixel?x=160&y=120&cam=%d" % (len(CAMERAS) - 1))["values"]
    assert max(rgb) < 1.03 * min(rgb), rgb
    # Beyond 1:1 the page shows a crop at full resolution; with a manual range around the value
    # under the pointer, the page draws that value there in the middle grey.
    driver.find_element("id", "one").click()
    for _ in range(6):
        ActionChains(driver).scroll_from_origin(ScrollOrigin.from_element(driver.find_element("id", "canvas")), 0, -100).perform()
    until(driver, "ucapPage.last.scale == 1 && ucapPage.last.crop[2] - ucapPage.last.crop[0] < 300")
    green = under(driver, (13, 7))[2][1]
    driver.find_element("id", "auto").click()
    for key, value in [("low", green - 60), ("high", green + 60)]:
        driver.find_element("id", key).clear()
        driver.find_element("id", key).send_keys(str(value) + Keys.TAB)
    until(driver, "ucapPage.last.low == %d && ucapPage.last.high == %d" % (green - 60, green + 60))
    until(driver, "ucapPage.number > %d" % (driver.execute_script("return ucapPage.number") + 2))
    level = driver.execute_script("const [x, y] = ucapPage.pointer, d = window.devicePixelRatio; return document."
                                  "getElementById('canvas').getContext('2d').getImageData(x * d, y * d, 1, 1).data[1]")
    assert abs(level - 127) <= 30, (green, level)
    # Black on a dark sensor and white on an even field: measured, saved and loaded from the page.
    dark = serve(["sensor=256x192 scene=dark timescale=100", "sensor=256x192 scene=flat timescale=100",
                  "sensor=256x192 timescale=100 detach_after=30 replug_after=300000"])
    driver.get(dark.url)
    for camera, kind in enumerate(["black", "white"]):
        select(driver, camera)
        driver.find_element("id", "cal-" + kind).click()
        until(driver, "ucapPage.job && ucapPage.job.kind == '%s' && !ucapPage.job.running" % kind, 60)
        assert not driver.execute_script("return ucapPage.job.error")
        Select(driver.find_element("id", "ref-kind")).select_by_visible_text(kind)
        for action, said in [("save", "saved %s.ucapref" % kind), ("load", "loaded and switched on")]:
            driver.find_element("id", "ref-" + action).click()
            until(driver, "document.getElementById('message').textContent == '%s'" % said)
        assert driver.execute_script("return [...document.getElementById('ref-files').options].map(o => o.value)") \
            == ["black.ucapref"] + (["white.ucapref"] if kind == "white" else [])
        assert until(driver, "ucapPage.settings.%s_ref" % kind)
        assert (dark.dir / (kind + ".ucapref")).stat().st_size == 32 + 2 * 256 * (194 if kind == "black" else 192)
    # Camera 2 leaves the bus after 30 frames and comes back 3 s later: the page says so, then
    # shows it again, and the others keep their references through the library's new start.
    select(driver, 2)
    until(driver, "ucapPage.status.state == 'unplugged' && document.getElementById('banner').style.display == 'block'")
    gone = driver.execute_script("return ucapPage.number")
    until(driver, "ucapPage.number > %d && document.getElementById('banner').style.display == 'none'" % gone, 30)
    until(driver, "document.getElementById('camera').options.length == 3")  # the list is whole again
    select(driver, 0)
    assert until(driver, "ucapPage.settings.black_ref")
