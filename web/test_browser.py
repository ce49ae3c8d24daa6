#!/usr/bin/env python3
"""The show's web page in headless Chromium.

usage: test_browser.py [--build DIR] [--native DIR] [--no-build] [--seconds S] [--whole] [--out DIR]

Builds the page (web/build.sh, only what changed), serves it on 127.0.0.1,
opens it in headless Chromium (driven through its DevTools protocol on a
pipe), clicks, lets the show play and checks from the page: frames are drawn
and not black, the show's clock advances with the page's audio clock, the
console has no error, and Escape ends the show. It saves a screenshot of the
tunnel in segment 1 and one of a later segment in DIR (default
build-web/test/). With --whole it plays the whole show and prints the frame
rate of every segment.
"""
import argparse
import base64
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


class Browser:
    """Headless Chromium, driven over --remote-debugging-pipe."""

    def __init__(self, executable, profile):
        to_browser_r, self.to_browser = os.pipe()
        self.from_browser, from_browser_w = os.pipe()
        args = [executable, "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
                "--disable-background-networking", "--disable-component-update", "--disable-sync",
                "--user-data-dir=" + profile, "--remote-debugging-pipe", "--window-size=900,760",
                "--autoplay-policy=document-user-activation-required",
                "about:blank"]
        # The browser reads commands on fd 3 and writes answers on fd 4.
        wrapper = ["sh", "-c", 'exec "$@" 3<&%d 4>&%d' % (to_browser_r, from_browser_w), "sh"] + args
        self.proc = subprocess.Popen(wrapper, pass_fds=(to_browser_r, from_browser_w),
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_browser_r)
        os.close(from_browser_w)
        self.buffer = b""
        self.next_id = 0
        self.events = []
        self.session = None

    def close(self):
        try:
            self.send("Browser.close", session=False, wait=False)
        except OSError:
            pass
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        os.close(self.to_browser)
        os.close(self.from_browser)

    def _read_message(self, deadline):
        while b"\0" not in self.buffer:
            if time.monotonic() > deadline:
                raise TimeoutError("the browser did not answer")
            chunk = os.read(self.from_browser, 1 << 16)
            if not chunk:
                raise EOFError("the browser closed its pipe")
            self.buffer += chunk
        message, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(message)

    def send(self, method, params=None, session=True, wait=True, timeout=30):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session and self.session:
            message["sessionId"] = self.session
        os.write(self.to_browser, json.dumps(message).encode() + b"\0")
        if not wait:
            return None
        deadline = time.monotonic() + timeout
        while True:
            answer = self._read_message(deadline)
            if answer.get("id") == self.next_id:
                if "error" in answer:
                    raise RuntimeError("%s: %s" % (method, answer["error"].get("message")))
                return answer.get("result", {})
            if "method" in answer:
                self.events.append(answer)

    def open(self, url):
        target = self.send("Target.createTarget", {"url": "about:blank"}, session=False)["targetId"]
        self.session = self.send("Target.attachToTarget", {"targetId": target, "flatten": True},
                                 session=False)["sessionId"]
        for domain in ("Page", "Runtime", "Log"):
            self.send(domain + ".enable")
        self.send("Page.navigate", {"url": url})

    def evaluate(self, expression):
        result = self.send("Runtime.evaluate", {"expression": expression, "returnByValue": True})
        if "exceptionDetails" in result:
            raise RuntimeError("page: " + json.dumps(result["exceptionDetails"])[:500])
        return result["result"].get("value")

    def click(self, x, y):
        for kind in ("mousePressed", "mouseReleased"):
            self.send("Input.dispatchMouseEvent", {"type": kind, "x": x, "y": y, "button": "left", "clickCount": 1})

    def key(self, key, code, key_code):
        for kind in ("keyDown", "keyUp"):
            self.send("Input.dispatchKeyEvent", {"type": kind, "key": key, "code": code,
                                                 "windowsVirtualKeyCode": key_code})

    def screenshot(self, path):
        data = self.send("Page.captureScreenshot", {"format": "png"})["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))

    def console_errors(self):
        """Errors the page's console and log reported so far."""
        errors = []
        for event in self.events:
            method, params = event.get("method"), event.get("params", {})
            if method == "Runtime.consoleAPICalled" and params.get("type") in ("error", "assert"):
                errors.append(" ".join(str(a.get("value", a.get("description", ""))) for a in params.get("args", [])))
            elif method == "Runtime.exceptionThrown":
                details = params.get("exceptionDetails", {})
                errors.append(details.get("exception", {}).get("description") or details.get("text", "exception"))
            elif method == "Log.entryAdded" and params.get("entry", {}).get("level") == "error":
                errors.append(params["entry"].get("text", ""))
        return errors

    def pump(self, seconds):
        """Waits, collecting the page's events."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            self.evaluate("0")
            time.sleep(min(0.25, max(0.0, deadline - time.monotonic())))


# Share of the canvas's pixels that are not black.
LIT = """(() => {
  const c = document.getElementById('canvas');
  const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
  let lit = 0;
  for (let i = 0; i < d.length; i += 4) if (d[i] > 24 || d[i + 1] > 24 || d[i + 2] > 24) lit++;
  return lit / (d.length / 4);
})()"""

STATS = """(() => { const t = window.trubelox; return t && {state: t.state, frames: t.frames, fps: t.fps,
  showTime: t.showTime, audioTime: t.audioTime, musicSeconds: t.musicSeconds, errors: t.errors, segments: t.segments,
  audioState: t.audioContext ? t.audioContext.state : null, audioPeak: window.Module && Module.audioPeak}; })()"""


def wait_for(browser, what, condition, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        stats = browser.evaluate(STATS)
        if stats and condition(stats):
            return stats
        time.sleep(0.1)
    raise AssertionError("timed out waiting for %s (page: %s)" % (what, browser.evaluate(STATS)))


def run(args):
    failures = []

    def check(ok, text):
        print(("ok    " if ok else "FAIL  ") + text, flush=True)
        if not ok:
            failures.append(text)

    if not args.no_build:
        subprocess.run([os.path.join(ROOT, "web", "build.sh"), args.build, args.native], check=True)
    page = os.path.join(args.build, "page")
    os.makedirs(args.out, exist_ok=True)
    size = sum(os.path.getsize(os.path.join(page, name)) for name in ("show.wasm", "show.js", "show-data.js", "show.data"))
    check(size < 15 * 1024 * 1024, "the page loads %.1f MB (below 15 MB)" % (size / 1048576.0))
    chromium = shutil.which("chromium") or shutil.which("chromium-browser")
    if not chromium:
        print("test_browser: chromium is not installed", file=sys.stderr)
        return 1

    server = subprocess.Popen([sys.executable, os.path.join(ROOT, "web", "serve.py"), "--port", "0", "--quiet", page],
                              stdout=subprocess.PIPE, text=True)
    profile = tempfile.mkdtemp(prefix="trubelox-chromium-")
    browser = None
    try:
        line = server.stdout.readline()
        url = line.split(" is at ")[1].split()[0]
        browser = Browser(chromium, profile)
        browser.open(url)
        wait_for(browser, "the page to load its files", lambda s: s["state"] == "ready", 60)

        if not args.whole:
            # Started by a script instead of a click, the page may not play
            # sound (nothing on it was clicked yet): the show then plays silent
            # at its own pace, once it has waited for its sound to start.
            browser.evaluate("document.getElementById('cover').click()")
            wait_for(browser, "frames without sound", lambda s: s["frames"] >= 3, 30)
            first = browser.evaluate(STATS)
            browser.pump(6)
            silent = browser.evaluate(STATS)
            frames = silent["frames"] - first["frames"]
            check(silent["state"] == "playing" and silent["audioState"] != "running" and frames >= 30,
                  "without sound the show plays on (audio %s, %d frames in 6 s, show time %.1f s)" %
                  (silent["audioState"], frames, silent["showTime"] / 1000.0))
            errors = browser.console_errors() + (silent["errors"] or [])
            check(not errors, "no error on the console without sound%s" %
                  ("" if not errors else ": " + " | ".join(errors)[:1000]))
            browser.events.clear()
            browser.send("Page.navigate", {"url": url})
            wait_for(browser, "the page to load again", lambda s: s["state"] == "ready", 60)

        box = browser.evaluate("(() => { const r = document.getElementById('cover').getBoundingClientRect();"
                               " return [r.x + r.width / 2, r.y + r.height / 2]; })()")
        browser.click(*box)
        clicked = time.monotonic()
        wait_for(browser, "the first frames", lambda s: s["frames"] >= 3, 60)
        # The first frame, the loading word, as the page kept it.
        first = browser.evaluate("window.trubelox.firstFrame")
        if first:
            with open(os.path.join(args.out, "loading.png"), "wb") as f:
                f.write(base64.b64decode(first.split(",", 1)[1]))

        # The tunnel, in segment 1 (0 to 5.5 s).
        wait_for(browser, "segment 1 at 3 s", lambda s: (s["showTime"] or 0) >= 3000, 20)
        early = browser.evaluate(STATS)
        lit_early = browser.evaluate(LIT)
        browser.screenshot(os.path.join(args.out, "segment1.png"))

        if args.whole:
            wait_for(browser, "the end of the show", lambda s: (s["showTime"] or 0) >= 248000, 300)
        else:
            browser.pump(max(0.0, args.seconds - (time.monotonic() - clicked)))
        late = browser.evaluate(STATS)
        lit_late = browser.evaluate(LIT)
        browser.screenshot(os.path.join(args.out, "later.png"))

        played = time.monotonic() - clicked
        print("after %.1f s: %d frames, show time %.3f s, audio context %s" %
              (played, late["frames"], late["showTime"] / 1000.0, late["audioState"]))
        check(late["state"] == "playing", "the show is playing (state %s)" % late["state"])
        check(late["frames"] >= 10 * (played - 5), "frames are drawn (%d in %.0f s)" % (late["frames"], played))
        check(lit_early > 0.2 and lit_late > 0.05,
              "the frames are not black (%.0f%% and %.0f%% of the pixels lit)" % (100 * lit_early, 100 * lit_late))
        check(late["audioState"] == "running" and (late["audioPeak"] or 0) > 0.05,
              "the page plays the sound track (audio %s, loudest sample %.2f)" %
              (late["audioState"], late["audioPeak"] or 0))
        if late["audioTime"] is not None and early["audioTime"] is not None:
            audio = (late["audioTime"] - early["audioTime"]) * 1000.0
            show = late["showTime"] - early["showTime"]
            check(audio > 0.5 * (played - 5) * 1000 and abs(show - audio) <= max(60.0, 0.003 * audio),
                  "the show's clock follows the audio clock (%.0f ms of show over %.0f ms of audio)" % (show, audio))
        else:
            check(False, "the page has an audio clock")
        # The clock counts the music's seconds as they are heard (its syncs).
        counted = [(s["musicSeconds"], s["showTime"] // 1000) for s in (early, late)]
        check(all(abs(music - shown) <= 1 for music, shown in counted),
              "the clock runs on the music's seconds (%s counted at %s s of show)" %
              (" and ".join(str(m) for m, _ in counted), " and ".join(str(t) for _, t in counted)))

        segments = late["segments"] or {}
        # The frame rate the page showed, and the work of a frame (from the
        # animation frame it began at to its drawing on the canvas).
        print("segment  frames  frames/s  worst ms  work ms")
        for k in sorted(segments, key=int):
            s = segments[k]
            print("%7s %7d %9.1f %9.1f %8.1f" % (k, s["frames"], 1000.0 * s["frames"] / max(s["ms"], 1e-9),
                                                 s["worst"], s["work"] / max(s["frames"], 1)))
        frames = sum(s["frames"] for s in segments.values())
        if frames:
            print("overall: %.1f frames per second, work %.1f ms a frame" %
                  (1000.0 * frames / max(sum(s["ms"] for s in segments.values()), 1e-9),
                   sum(s["work"] for s in segments.values()) / frames))

        browser.key("Escape", "Escape", 27)
        try:
            wait_for(browser, "the show to end", lambda s: s["state"] == "ended", 10)
            check(True, "Escape ends the show")
        except AssertionError as e:
            check(False, "Escape ends the show: %s" % e)
        browser.pump(0.5)

        errors = browser.console_errors() + (late["errors"] or [])
        check(not errors, "no error on the console%s" % ("" if not errors else ": " + " | ".join(errors)[:1000]))

    except (AssertionError, RuntimeError, TimeoutError, EOFError) as e:
        check(False, str(e))
        if browser:
            errors = browser.console_errors()
            if errors:
                print("console: " + " | ".join(errors)[:2000])
    finally:
        if browser:
            browser.close()
        server.terminate()
        server.wait()
        shutil.rmtree(profile, ignore_errors=True)
    print("%d passed, %d failed" % (0 if failures else 1, 1 if failures else 0))
    return 1 if failures else 0


def main():
    parser = argparse.ArgumentParser(description="The show's web page in headless Chromium.")
    parser.add_argument("--build", default=os.path.join(ROOT, "build-web"), help="the web build folder")
    parser.add_argument("--native", default=os.path.join(ROOT, "build"), help="the native build (the data set)")
    parser.add_argument("--no-build", action="store_true", help="test the page as it is")
    parser.add_argument("--seconds", type=float, default=20.0, help="how long the show plays after the click")
    parser.add_argument("--whole", action="store_true", help="play the whole show; frame rate per segment")
    parser.add_argument("--out", default=None, help="where the screenshots go")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    args.out = os.path.abspath(args.out or os.path.join(args.build, "test"))
    return run(args)


if __name__ == "__main__":
    sys.exit(main())
