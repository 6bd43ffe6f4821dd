"""The live page in Debian's chromium (headless, selenium) against a real `ucap serve`."""

import shutil
import statistics
import tempfile
import time

import numpy as np
import pytest
import tifffile
from conftest import BUILD

webdriver = pytest.importorskip("selenium.webdriver")
from selenium.webdriver.support.ui import Select  # noqa: E402

BLURS = [0, 1.5, 4]
# 0: the live view, at 10 frames/s; 1...: the focus figure over blurs.
CAMERAS = ["sensor=640x480 frame_stamp=1"] + ["sensor=320x240 blur=%g" % b for b in BLURS]


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
    driver.find_element("id", "apply").click()
    until(driver, "document.getElementById('message').textContent == 'settings applied'")
    # Frames of the new settings on screen.
    until(driver, "(s => s && ucapPage.last.width == s.data_size[0] && ucapPage.last.height == s.data_size[1] && "
                  "ucapPage.last.channels == (s.bits == 36 ? 3 : 1) && ucapPage.last.exposure_us == s.exposure_us && "
                  "ucapPage.frames > %d)(ucapPage.settings)" % before)
    driver.execute_script("document.getElementById('message').textContent = ''")
    return driver.execute_script("return ucapPage.settings")


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
    # A black reference of a dark sensor, measured and saved from the page.
    dark = serve(["sensor=256x192 scene=dark timescale=100"])
    driver.get(dark.url)
    until(driver, "ucapPage.frames >= 1")
    driver.find_element("id", "cal-black").click()
    until(driver, "ucapPage.job && ucapPage.job.kind == 'black' && !ucapPage.job.running", 60)
    assert not driver.execute_script("return ucapPage.job.error")
    assert until(driver, "ucapPage.settings.has_black_ref")
    driver.find_element("id", "ref-save").click()
    until(driver, "document.getElementById('message').textContent == 'saved black.ucapref'")
    assert (dark.dir / "black.ucapref").stat().st_size > 256 * 194 * 2
