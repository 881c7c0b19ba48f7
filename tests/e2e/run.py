#!/usr/bin/python3
# Runs the program once as a user would, on a private Xvfb in a scratch copy of shaders/ and obj/,
# and checks what it shows, what it prints and how it ends. Exit 0 when every check holds.
# Usage: run.py [options] PROGRAM [ARGS...]
#   --name NAME           folder under $HANDVIEW_TEST_OUTPUT for the pictures of a failure
#   --size WxH            screen size (640x480)
#   --prep SHELL          run in the work dir before the start; $SRC is the source tree (repeatable)
#   --env NAME=VALUE      for the program (repeatable); LD_PRELOAD goes after $HANDVIEW_PRELOAD
#   --side SHELL          side process (e.g. a test server, $SRC as above), started in the work dir before the
#                         program and killed at the end; $PORT in it, in --env values and in the
#                         program's arguments is a free port, awaited before the start
#   --arg ARG             an argument for the program (repeatable; --arg=-x for one with a dash)
#   --run PATH            run PATH (relative to the work dir, e.g. installed by --prep) instead of PROGRAM
#   --setpriv             without the capabilities that let root read any file
#   --no-window           start-up fails: no window is awaited
#   --title RE            the window awaited has a title matching RE (the viewer's)
#   --wait-out TEXT       wait until standard output or error holds TEXT
#   --xdo ARGS            then an xdotool command, e.g. "key a mousemove 9 9 click 1"
#   --ref PNG             then the screen must come to match it (8 per channel; --bad FRACTION of the
#                         pixels may be off, 0.002) and still match a moment later; --mask WxH+X+Y
#                         leaves a region out (figures that vary from run to run)
#   --changed             or the screen must first show the start, tests/reference/default-scene.png
#                         (the side process then gets a line "go" on its standard input), then come to
#                         differ from it
#   --clients MODE        then clients meet the program, a tracking service on $PORT, beside a watcher client
#                         that must go on receiving frames: descriptors, crowd, hostile, stalled (see below)
#                         or loading (the watcher alone, greeted before the models are loaded), or rest (the watcher
#                         leaves: the program must say so and then cost far less than while reading, and serve the next)
#   --stdin TEXT          still running half a second later, it is given TEXT on standard input
#   --quit escape|term|kill|none   how the run is ended (escape); it must still be running then
#   --alone               after the end, no process is left with the work dir as its own (a child it started)
#   --exit CODE           expected exit code (0)
#   --out RE, --no-out RE standard output must (not) match; --err RE: standard error must match,
#                         and without it be empty. Neither may hold a sanitizer report.
# CMake: add_case(KIND NAME options...) in tests/CMakeLists.txt.
import argparse, os, pty, re, shlex, shutil, signal, socket, subprocess, sys, tempfile, threading, time

TIMEOUT = 120.0  # a ceiling for any one event; cases end as soon as theirs has come
ap = argparse.ArgumentParser()
for flag in ("prep", "env", "out", "no-out", "arg"):
    ap.add_argument("--" + flag, action="append", default=[])
for flag in ("name", "run", "side", "clients", "wait-out", "xdo", "ref", "stdin", "err", "exit", "size", "quit", "bad", "title", "mask"):
    ap.add_argument("--" + flag, default={"exit": "0", "size": "640x480", "quit": "escape", "bad": "0.002", "title": "^Oh, hello there$", "mask": "0x0+0+0"}.get(flag))
for flag in ("setpriv", "no-window", "changed", "alone"):
    ap.add_argument("--" + flag, action="store_true")
ap.add_argument("program", nargs=argparse.REMAINDER)
a = ap.parse_args()
src = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
failures = []
fail = failures.append


def run(*args, **kw):  # a tool on the private display
    return subprocess.run(args, capture_output=True, env=dict(os.environ, DISPLAY=display), **kw).stdout


def screen():
    return run("import", "-window", "root", "-depth", "8", "rgb:-")


def bad_pixels(x, y):  # indices of pixels outside the mask with a channel off by more than 8; None for another size
    off, w, (mw, mh, mx, my) = [abs(p - q) > 8 for p, q in zip(x, y)], int(a.size.split("x")[0]), map(int, re.split("[x+]", a.mask))
    return [i for i, bad in enumerate(map(any, zip(off[0::3], off[1::3], off[2::3]))) if bad and not (mx <= i % w < mx + mw and my <= i // w < my + mh)] if len(x) == len(y) else None


def same(x, y):
    return (bad := bad_pixels(x, y)) is not None and len(bad) <= len(x) // 3 * float(a.bad)


def wait_until(condition, limit=TIMEOUT):
    end = time.time() + limit
    while not (met := condition()) and time.time() < end and proc.poll() is None:
        time.sleep(0.05)
    return met or condition()


work = tempfile.mkdtemp(prefix="handview-")
subprocess.run(["cp", "-r", src + "/shaders", src + "/obj", work], check=True)
for command in a.prep:
    subprocess.run(command, shell=True, cwd=work, check=True, env=dict(os.environ, SRC=src))
with socket.socket() as s:
    s.bind(("127.0.0.1", 0))
    port = str(s.getsockname()[1])
fd_read, fd_write = os.pipe()
xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(fd_write), "-screen", "0", a.size + "x24", "-nolisten", "tcp", "-noreset"], pass_fds=[fd_write], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
display = ":" + os.read(fd_read, 16).decode().strip()
env = dict(os.environ, DISPLAY=display, HANDVIEW_TRACKER="none", LD_PRELOAD=os.environ.get("HANDVIEW_PRELOAD", ""))
for name in ("HANDVIEW_REPLAY", "HANDVIEW_RECORD"):  # the caller's own must not reach the program
    env.pop(name, None)
for name, value in (pair.replace("$PORT", port).split("=", 1) for pair in a.env):
    # ld.so splits its list at spaces too; the work dir's path has none.
    env[name] = ":".join(filter(None, [env[name], shutil.copy(value, work)])) if name == "LD_PRELOAD" else value
side = a.side and subprocess.Popen(a.side, shell=True, cwd=work, start_new_session=True, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, env=dict(os.environ, SRC=src, PORT=port))
for _ in range(200 if a.side and "$PORT" in a.side else 0):
    with socket.socket() as s:
        if s.connect_ex(("127.0.0.1", int(port))) == 0:
            break
    time.sleep(0.05)
setpriv = ["setpriv", "--inh-caps=-all", "--bounding-set=-dac_override,-dac_read_search"] if a.setpriv else []
# A terminal makes the program's stdio line-buffered, so its lines can be waited for.
master, slave = pty.openpty()
proc = subprocess.Popen(setpriv + [arg.replace("$PORT", port) for arg in ([a.run] if a.run else a.program) + a.arg], cwd=work, env=env, stdin=subprocess.PIPE, stdout=slave, stderr=subprocess.PIPE)
os.close(slave)
streams = {master: b"", proc.stderr.fileno(): b""}


def reader(fd):
    try:
        while chunk := os.read(fd, 65536):
            streams[fd] += chunk
    except OSError:  # the terminal's end
        pass


# Once the service listens: sends `request`, reads the answer, sends `then`; by default a WebSocket client asking
# for frames (masked, by zeros). The socket and the answer.
def connect(request=b"GET /v6.json HTTP/1.1\r\nHost: h\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n", then=b"\x81\x91\0\0\0\0" + b'{"focused": true}'):
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)  # a client that stalls, stalls soon
    wait_until(lambda: s.connect_ex(("127.0.0.1", int(port))) == 0)
    return s, request and (s.sendall(request) or s.recv(65536)), s.sendall(then)


def watched(n=5):  # n more frames reach the watcher
    k = streams[watcher.fileno()].count(b'"pointables"')
    wait_until(lambda: streams[watcher.fileno()].count(b'"pointables"') >= k + n) or fail("the watcher stopped receiving frames")


if a.clients:  # read as the program's output is
    streams[(watcher := connect()[0]).fileno()] = b""
readers = [threading.Thread(target=reader, args=(fd,)) for fd in streams]
for t in readers:
    t.start()
try:
    if not a.no_window and not wait_until(lambda: run("xdotool", "search", "--onlyvisible", "--name", a.title)):
        fail("no window")
    if a.changed:
        first = subprocess.run(["/usr/bin/convert", os.path.join(src, "tests/reference/default-scene.png"), "-depth", "8", "rgb:-"], capture_output=True).stdout
        if not wait_until(lambda: same(screen(), first)):
            fail("the start picture never showed")
        if side:
            side.stdin.write(b"go\n")
            side.stdin.flush()
    if a.wait_out and not wait_until(lambda: a.wait_out.encode() in b"".join(streams.values())):
        fail("never printed " + repr(a.wait_out))
    if a.clients == "descriptors":  # idle connections take every descriptor, twice: it is ended paused
        for episode in (1, 2):
            idle = [connect(b"", b"")[0] for _ in range(100)]
            wait_until(lambda: streams[proc.stderr.fileno()].count(b"Too many open files") >= episode) or fail("accepting did not pause")
            watched()
            # the first time they go, and a client is taken again
            episode == 2 or [s.close() for s in idle] and b" 101 " in connect()[1] or fail("no client taken once they went")
    if a.clients == "crowd":  # a client over the limit is turned away
        b" 503 " in [connect() for _ in range(32)][-1][1] or fail("a 33rd client was taken")
    if a.clients == "hostile":  # each closed: a message over the limit, a path of control characters, HTTP, no HTTP
        for s in [connect(then=b"\x81\xff" + (70000).to_bytes(8, "big") + b"\0\0\0\0")[0]] + [connect(r, b"")[0] for r in (b"GET /\xc2\x9b31m HTTP/1.1\r\n\r\n", b"GET / HTTP/1.1\r\n\r\n", b"\x16\x03\x01\0\x05hello\r\n\r\n")]:
            while s.recv(65536):
                pass
            s.close()
    if a.clients == "stalled":  # two clients that never read; one reads at last: frames it had no room for were dropped
        stalled, still, ids, data = connect()[0], connect()[0], [], b""
        watched(100)
        while not (gap := any(j > i + 1 for i, j in zip(ids, ids[1:]))) and len(ids) < 400 and (chunk := stalled.recv(65536)):
            data, ids = data + chunk, [int(i) for i in re.findall(rb'\],"id":([0-9]+),"pointables"', data + chunk)]
        gap or fail("the stalled client lost no frames: %d in order" % len(ids))
    if a.clients == "rest":
        def cpu():  # the program's processor time, in ticks
            return sum(map(int, open("/proc/%d/stat" % proc.pid).read().rsplit(")", 1)[1].split()[11:13]))
        c, t = cpu(), time.time()
        watched(30)
        reading, span = cpu() - c, max(time.time() - t, 1)
        watcher.shutdown(socket.SHUT_RDWR)
        wait_until(lambda: b"no client left" in streams[proc.stderr.fileno()]) or fail("it never rested")
        c = cpu()
        time.sleep(span)  # a window to measure over, not a wait for an event
        (resting := cpu() - c) <= reading / 4 or fail("resting it took %d ticks, reading %d" % (resting, reading))
        streams[(watcher := connect()[0]).fileno()] = b""
        readers.append(threading.Thread(target=reader, args=(watcher.fileno(),)))
        readers[-1].start()
        watched()
    a.clients in ("crowd", "hostile") and watched()
    if a.xdo:
        run("xdotool", *shlex.split(a.xdo))
    want = a.ref and subprocess.run(["/usr/bin/convert", os.path.join(src, a.ref), "-depth", "8", "rgb:-"], capture_output=True).stdout
    # A reference must still hold a moment later: the screen is black before the first frame.
    if a.ref and not (wait_until(lambda: same(screen(), want)) and (time.sleep(0.3) or same(screen(), want))) or \
            a.changed and not wait_until(lambda: not same(screen(), first)):
        shot, want = screen(), want if a.ref else first
        out = os.path.join(os.environ.get("HANDVIEW_TEST_OUTPUT", work), a.name or "case")
        diff = bytearray(x // 3 for x in shot)
        for i in bad_pixels(shot, want) or []:
            diff[3 * i:3 * i + 3] = b"\xff\x00\x00"
        os.makedirs(out, exist_ok=True)
        for image, name in ((shot, "actual"), (diff, "diff")):
            run("/usr/bin/convert", "-size", a.size, "-depth", "8", "rgb:-", out + "/" + name + ".png", input=bytes(image))
        fail("screen %s; actual and diff in %s" % ("differs from " + a.ref if a.ref else "never changed", out))
    if a.stdin is not None:
        time.sleep(0.5)
        if proc.poll() is not None:
            fail("ended before it was given input")
        else:
            proc.stdin.write(a.stdin.encode())
            proc.stdin.close()
    if a.quit != "none":
        if proc.poll() is not None:
            fail("ended before it was asked to")
        proc.send_signal({"term": signal.SIGTERM, "kill": signal.SIGKILL}[a.quit]) if a.quit in ("term", "kill") else run("xdotool", "key", "Escape")
    try:
        proc.wait(TIMEOUT)
    except subprocess.TimeoutExpired:
        fail("still running %d s after the end" % TIMEOUT)
finally:
    for p in (proc, xvfb):
        p.poll() is None and p.kill()
    if side:
        subprocess.run(["kill", "-KILL", "--", "-%d" % side.pid], capture_output=True)
    proc.wait()
    for t in readers:
        t.join()
def strays():  # processes working in the work dir: what the program started and left behind
    def cwd(pid):
        try:
            return os.readlink("/proc/%s/cwd" % pid)
        except OSError:  # gone meanwhile, or a zombie
            return None
    return [pid for pid in os.listdir("/proc") if pid.isdigit() and cwd(pid) == os.path.realpath(work)]


end = time.time() + TIMEOUT
while a.alone and strays() and time.time() < end:
    time.sleep(0.05)
a.alone and strays() and fail("left running: process " + " ".join(strays()))
out, err = (streams[fd].decode(errors="replace").replace("\r\n", "\n") for fd in list(streams)[:2])
if proc.returncode != int(a.exit):
    fail("exit code %d, not %s" % (proc.returncode, a.exit))
failures += ["standard output does not match " + p for p in a.out if not re.search(p, out, re.S)]
failures += ["standard output matches " + p for p in a.no_out if re.search(p, out, re.S)]
try:  # whatever a case feeds in, nothing reaches the console that a terminal would obey
    re.search("[\x00-\x08\x0b-\x1f\x7f-\x9f]", b"".join(list(streams.values())[:2]).replace(b"\r\n", b"\n").decode()) and fail("a control character reached the console")
except UnicodeDecodeError:
    fail("broken UTF-8 reached the console")
if not re.search(a.err or "^$", err, re.S) or re.search("ERROR: (Address|Leak)Sanitizer|runtime error:", out + err):
    fail("standard error: not as expected, or a sanitizer report")
if failures:
    print("FAIL: " + "\nFAIL: ".join(failures) + "\n--- standard output:\n" + out[-6000:] + "\n--- standard error:\n" + err[-6000:])
subprocess.run(["rm", "-rf", work])
sys.exit(1 if failures else 0)
