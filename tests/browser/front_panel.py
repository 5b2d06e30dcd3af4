#!/usr/bin/python3
"""The front panel in headless Chromium against `pelmux sim --http`.

Drives the page through its own elements and checks, through the library (the `pelmux` tool):
  1. moving the lux slider changes what the light sensor reading of the library answers;
  2. a front LED colour set through the library shows on the page within a second;
  3. a failed request injected from the fault form makes the next library call return its code;
  4. text that is not a number in a number field changes nothing on the unit;
  5. a video tile shows a placeholder until its first frame, then the frame;
  6. the header says when the unit runs at real speed, and only then;
  7. at a 1400x1000 window the controls lie in view without scrolling, vendor calls read as
     succeeded or failed, and the request log shows only the failures when asked to;
and that `pelmux demo --http` keeps the page up while the tour runs.
Saves the page's screenshot as front-panel.png in the folder given with --out.

Usage: front_panel.py --tool build/linux/pelmux --out build/linux
"""
import argparse
import json
import os
import queue
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import Select, WebDriverWait
except ImportError:
    sys.exit("front panel test: python3-selenium is missing (make deps installs it)")

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
LIGHT_MEASUREMENT = 0x222514
ERR_IOCTRL_OPERATION_FAILED = 7


def tool(args, root):
    """Runs the tool against the unit under root; answers its parsed --json output."""
    done = subprocess.run([ARGS.tool, "--json", *args], env={**os.environ, "PELMUX_ROOT": root},
                          capture_output=True, text=True, timeout=20)
    return json.loads(done.stdout) if done.stdout.strip() else {}


class Lines:
    """The lines a child process prints, read on a thread of their own."""

    def __init__(self, process):
        self.queue = queue.Queue()
        threading.Thread(target=lambda: [self.queue.put(line) for line in process.stdout], daemon=True).start()

    def wait_for(self, start, seconds):
        """The first line starting with `start` within `seconds`, or None."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            try:
                line = self.queue.get(timeout=max(0.01, deadline - time.monotonic()))
            except queue.Empty:
                break
            if line.startswith(start):
                return line
        return None


def start_unit(root):
    """Starts `pelmux sim --http` on a port the system chooses; answers the process and the page's address."""
    unit = subprocess.Popen([ARGS.tool, "sim", "--root", root, "--http", "127.0.0.1:0"],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    line = Lines(unit).wait_for("Front panel at ", 10)
    if line is None:
        unit.kill()
        sys.exit("front panel test: `pelmux sim --http` did not say where it serves")
    return unit, line.split()[-1]


def demo_keeps_the_page_up(folder):
    """`pelmux demo --http`: the page answers while the tour drives the unit, and after it until Ctrl-C."""
    # The built-in unit with its serial line at full speed, and the library's waits shortened: the
    # tour takes a second or two instead of twenty.
    source = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "sim", "profiles", "default.json")
    with open(source, encoding="utf-8") as text:
        profile = json.load(text)
    profile["serial"]["timeScale"] = 0
    fast = os.path.join(folder, "fast-unit.json")
    with open(fast, "w", encoding="utf-8") as text:
        json.dump(profile, text)
    demo = subprocess.Popen([ARGS.tool, "demo", "--profile", fast, "--http", "127.0.0.1:0", "--pace", "0"],
                            env={**os.environ, "PELMUX_TIME_SCALE": "0.05"},
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    try:
        lines = Lines(demo)
        line = lines.wait_for("Front panel at ", 10)
        assert line is not None, "`pelmux demo --http` did not say where the page is"
        url = line.split()[-1]
        assert lines.wait_for("Tour done", 60) is not None, "the tour did not end"
        with urllib.request.urlopen(url + "api/state", timeout=5) as answer:
            state = json.load(answer)
        # The tour left its marks: requests in the log, the LED it set blinking.
        assert len(state["requests"]) > 0, state["requests"]
        assert state["frontLed"]["light"]["mode"] == "blinking", state["frontLed"]
        demo.send_signal(signal.SIGINT)
        assert demo.wait(timeout=10) == 0, f"pelmux demo exited with {demo.returncode}"
        print("demo: the page showed the tour's requests and stopped with Ctrl-C")
    finally:
        if demo.poll() is None:
            demo.kill()


def browser():
    for path in (CHROMIUM, CHROMEDRIVER):
        if not shutil.which(path):
            sys.exit(f"front panel test: {path} is missing (make deps installs chromium and chromium-driver)")
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--window-size=1280,1700"):
        options.add_argument(flag)
    return webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)


def eventually(condition, seconds, what):
    """Waits until condition() is true; fails the test with `what` when it is not within `seconds`."""
    deadline = time.monotonic() + seconds
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise AssertionError(f"{what} (within {seconds} s)")
        time.sleep(0.05)


def lux_slider_reaches_the_library(page, root):
    before = tool(["light"], root)
    assert before.get("result") == 0, before
    slider = page.find_element(By.ID, "lux-slider")
    # A click at the middle of the slider: position 500 of 1000, about 100 lux (the unit starts at 300),
    # well inside the sensor's standard range.
    ActionChains(page).move_to_element(slider).click().perform()
    shown = eventually(lambda: page.find_element(By.ID, "lux-value").text, 2, "the slider shows no value")
    state = eventually(lambda: (lambda s: s if 10 < s["lightSensor"]["lux"] < 250 else None)(
        json.loads(page.execute_script("return JSON.stringify(window.lastState)"))), 3,
        "the unit's illuminance did not follow the slider")
    lux = state["lightSensor"]["lux"]
    reading = tool(["light"], root)
    assert reading.get("result") == 0, reading
    # The sensor's codes step by a few percent at this level.
    assert abs(reading["lux"] - lux) <= 0.1 * lux, (reading, lux)
    assert reading["lux"] != before["lux"], (reading, before)
    print(f"lux slider: {shown}, the library reads {reading['lux']} lux (was {before['lux']})")


def led_colour_shows_within_a_second(page, root):
    done = tool(["led", "color", "15", "0", "15"], root)
    assert done.get("result", 0) == 0, done
    set_at = time.monotonic()
    WebDriverWait(page, 1.0, poll_frequency=0.02).until(
        lambda p: p.find_element(By.ID, "led-light").get_attribute("data-rgb") == "#FF00FF",
        "the LED colour set through the library did not show within a second")
    print(f"LED colour: shown {time.monotonic() - set_at:.2f} s after the library set it")


def injected_fault_reaches_the_library(page, root):
    page.find_element(By.ID, "fault-code").send_keys(hex(LIGHT_MEASUREMENT))
    Select(page.find_element(By.ID, "fault-kind")).select_by_value("fail")
    page.find_element(By.ID, "fault-times").send_keys("1")
    page.find_element(By.ID, "fault-submit").click()
    eventually(lambda: "armed" in page.find_element(By.ID, "fault-message").text, 3,
               "the fault form did not report the fault armed")
    failed = tool(["light"], root)
    assert failed.get("result") == ERR_IOCTRL_OPERATION_FAILED, failed
    # Armed for one request: the next one succeeds again.
    again = tool(["light"], root)
    assert again.get("result") == 0, again
    eventually(lambda: page.find_elements(By.CSS_SELECTOR, "#request-log li[data-ok='false']"), 2,
               "the failed request does not show in the request log")
    print("fault form: the next light reading failed with code 7, the one after succeeded")


def unit_state(url):
    with urllib.request.urlopen(url + "api/state", timeout=5) as answer:
        return json.load(answer)


def number_field_refuses_text(page, url):
    """A number field whose text is not a number sends nothing (it used to set the value to 0)."""
    before = unit_state(url)["adc"]["5V"]
    field = page.find_element(By.ID, "rails-5V")
    field.click()
    field.send_keys(Keys.CONTROL, "a")
    field.send_keys("1e")  # what the browser reports as no number
    field.send_keys(Keys.TAB)
    eventually(lambda: "not a number" in page.find_element(By.ID, "input-message").text, 3,
               "the page did not refuse the text")
    after = unit_state(url)["adc"]["5V"]
    assert after == before, (before, after)
    print(f"number field: text that is not a number was refused, the 5V rail stays {after} V")


def video_frame_shows(page, root):
    """A frame the library captured shows as channel 1's picture (and makes the screenshot worth a look)."""
    placeholder = page.find_element(By.ID, "video-1-none")
    assert placeholder.is_displayed() and not page.find_element(By.ID, "video-1").is_displayed(), \
        "channel 1 shows no placeholder before its first frame"
    shot = os.path.join(root, "snapshot.bmp")
    done = tool(["video", "snapshot", "1", shot], root)
    assert done.get("result", 0) == 0, done
    eventually(lambda: page.execute_script(
        "const i = document.getElementById('video-1'); return i.complete && i.naturalWidth === 360;"), 3,
        "channel 1's last frame does not show as a 360 pixel wide picture")
    eventually(lambda: page.find_element(By.ID, "video-1").is_displayed() and not placeholder.is_displayed(), 3,
               "channel 1's placeholder stays after its first frame")
    print("video: channel 1's last frame shows")


def real_speed_shows_in_the_header(page, root):
    speed = page.find_element(By.ID, "unit-speed")
    assert not speed.is_displayed(), "an instant unit is marked as running at real speed"
    for mode in ("real", "instant"):
        answer = tool(["simctl", json.dumps({"cmd": "set", "path": "/timing/mode", "value": mode})], root)
        assert answer.get("ok"), answer
        shown = (lambda: speed.is_displayed() and "real speed" in speed.text) if mode == "real" else \
            (lambda: not speed.is_displayed())
        eventually(shown, 5, f"the header after timing {mode}")


def controls_in_view_and_log_filtered(page, root):
    """At 1400x1000 the inputs, the fault form and the log's filter are in view; the log names a vendor
    call's answer as success or failure and keeps to the filter chosen."""
    chrome = page.execute_script("return window.outerHeight - window.innerHeight")
    page.set_window_size(1400, 1000 + chrome)
    page.execute_script("window.scrollTo(0, 0)")
    for element in ("lux-slider", "fault-submit", "log-filter"):
        bottom = page.execute_script(f"return document.getElementById('{element}').getBoundingClientRect().bottom")
        height = page.execute_script("return window.innerHeight")
        assert bottom <= height, f"{element} lies below the fold ({bottom} > {height})"
    tool(["identity"], root)  # vendor calls: the EEPROMs read over I2C
    log = page.find_element(By.ID, "request-log")
    text = lambda: log.get_attribute("textContent")
    eventually(lambda: "I2C" in text() and "ok (1)" in text(), 3, "vendor calls do not read as succeeded")
    assert "result 1" not in text(), text()
    Select(page.find_element(By.ID, "log-filter")).select_by_value("failed")
    eventually(lambda: not log.find_elements(By.CSS_SELECTOR, "li[data-ok='true']") and
               " of 0 " not in page.find_element(By.ID, "log-count").text, 2,
               "the log shows successful requests when asked for the failures only")
    Select(page.find_element(By.ID, "log-filter")).select_by_value("all")
    print("layout: the controls are in view at 1400x1000; the log names vendor successes and filters")


def main():
    root = tempfile.mkdtemp(prefix="pelmux-panel-")
    unit, url = start_unit(root)
    page = None
    try:
        page = browser()
        page.get(url)
        eventually(lambda: page.find_element(By.ID, "connection").get_attribute("data-state") == "live", 10,
                   "the page did not receive the unit's state")
        lux_slider_reaches_the_library(page, root)
        led_colour_shows_within_a_second(page, root)
        injected_fault_reaches_the_library(page, root)
        number_field_refuses_text(page, url)
        video_frame_shows(page, root)
        real_speed_shows_in_the_header(page, root)
        controls_in_view_and_log_filtered(page, root)
        page.execute_script("window.scrollTo(0, 0)")
        shot = os.path.join(ARGS.out, "front-panel.png")
        page.save_screenshot(shot)
        print(f"screenshot: {shot}")
    finally:
        if page is not None:
            page.quit()
        unit.terminate()
        try:
            unit.wait(timeout=10)
        except subprocess.TimeoutExpired:
            unit.kill()
            raise AssertionError("`pelmux sim --http` did not stop on SIGTERM")
        shutil.rmtree(root, ignore_errors=True)
    assert unit.returncode == 0, f"pelmux sim exited with {unit.returncode}"
    folder = tempfile.mkdtemp(prefix="pelmux-panel-demo-")
    try:
        demo_keeps_the_page_up(folder)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--out", required=True)
    ARGS = parser.parse_args()
    main()
