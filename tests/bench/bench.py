#!/usr/bin/env python3
"""PostOwl's benchmark against a Dovecot on 127.0.0.1, side by side with its
floors and a peer. scripts/bench starts the Dovecot, builds the tools and calls
this; it prints a Markdown table of medians and their ratios to the floor.

    bench.py --tools DIR --postowl FILE --profile-writer FILE --port PORT
             [--user alice] [--password s3cret] [--runs 30] [--idle 60]
             [--only-profiles]

--only-profiles measures nothing but the memory of several profiles at once.

How the moments are seen without changing the program: postowl talks to
Dovecot through a small relay here. The program closes its connection right
after it has read the STAT reply, in the same step in which it puts the count
on the status line, so the relay's "client closed after STAT" is the moment
the first status text appears. The Qt floor prints a line when its label
first paints.
"""
import argparse
import getpass
import os
import queue
import re
import select
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

START_TIMEOUT = 15.0
SETTLE = 0.3  # lets the check's status, title and icon settle before memory is read
EXPECTED_COUNT = 3
PROFILES = 5  # postowl processes at once, one profile each, in the memory of several profiles
IMAP_SETTLE = 1.5  # from the IMAP connection to memory read: login, EXAMINE, count, IDLE
# The goals, each the largest ratio to its floor or the largest value allowed.
GOAL_RATIO = 1.15
GOAL_PRIVATE_MB = 2.5
GOAL_IDLE_MS = 1.0
GOAL_IMAP_IDLE_MS = 2.0
CALLGRIND_IDLE = 30  # seconds of idle time counted under callgrind
CALLGRIND_START_TIMEOUT = 60.0  # start-up under valgrind is slow
ALLOCATORS = ("malloc", "calloc", "realloc", "operator new(unsigned long)")


def fail(message):
    sys.stderr.write("bench: %s\n" % message)
    sys.exit(1)


class Relay:
    """Forwards each connection to Dovecot and reports, per connection, when
    it came in and when the client closed it after the STAT reply."""

    def __init__(self, upstream_port, opaque=False):
        # opaque: TLS from the first byte, so STAT cannot be seen; the client
        # closing after the server has said something counts as the check.
        self.upstream_port = upstream_port
        self.opaque = opaque
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(8)
        self.port = self.listener.getsockname()[1]
        self.checks = queue.Queue()
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            accepted = time.perf_counter()
            threading.Thread(target=self._serve, args=(client, accepted), daemon=True).start()

    def _serve(self, client, accepted):
        upstream = socket.create_connection(("127.0.0.1", self.upstream_port))
        for s in (client, upstream):
            s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        sent = b""
        stat_sent = stat_replied = False
        closed = None
        try:
            while closed is None:
                readable, _, _ = select.select([client, upstream], [], [])
                for s in readable:
                    try:
                        data = s.recv(4096)
                    except ConnectionResetError:
                        data = b""
                    if s is client:
                        if not data:
                            closed = time.perf_counter()
                            break
                        sent += data
                        stat_sent = stat_sent or b"STAT\r\n" in sent
                        upstream.sendall(data)
                    else:
                        if not data:
                            closed = time.perf_counter()
                            break
                        stat_replied = stat_replied or stat_sent or self.opaque
                        client.sendall(data)
        finally:
            client.close()
            upstream.close()
        self.checks.put((accepted, closed, stat_replied))

    def next_check(self, timeout=START_TIMEOUT):
        """(accepted, closed) of the next completed check, or None."""
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            try:
                accepted, closed, replied = self.checks.get(timeout=left)
            except queue.Empty:
                return None
            if replied:
                return accepted, closed

    def drain(self):
        while not self.checks.empty():
            self.checks.get_nowait()


def resident_kb(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def smaps_kb(pid):
    """The fields of /proc/PID/smaps_rollup, in kB: the process's mappings summed."""
    fields = {}
    with open("/proc/%d/smaps_rollup" % pid) as rollup:
        for line in rollup:
            parts = line.split()
            if len(parts) == 3 and parts[2] == "kB":
                fields[parts[0].rstrip(":")] = int(parts[1])
    return fields


def memory_mb(pid):
    """Proportional (PSS: shared pages split among the processes sharing
    them), private (pages no other process maps) and resident memory in MB."""
    fields = smaps_kb(pid)
    private = fields.get("Private_Clean", 0) + fields.get("Private_Dirty", 0)
    return fields.get("Pss", 0) / 1024.0, private / 1024.0, fields.get("Rss", 0) / 1024.0


def cpu_ms(pid):
    """utime + stime from /proc/PID/stat, and the run time of all its threads
    from schedstat (nanoseconds, so finer than the clock ticks of stat)."""
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    ticks = int(fields[11]) + int(fields[12])
    run_ns = 0
    for task in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/schedstat" % (pid, task)) as schedstat:
                run_ns += int(schedstat.read().split()[0])
        except OSError:
            pass
    return ticks * 1000.0 / os.sysconf("SC_CLK_TCK"), run_ns / 1e6


def stop(process):
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def latencies(command):
    """Runs an in-process benchmark tool; its first check (connection set-up
    of a fresh program) is dropped, the rest are checks of a running one."""
    out = subprocess.run(command, check=True, capture_output=True, text=True).stdout.split("\n")
    rows = [line.split() for line in out if line.strip()]
    for micros, count in rows:
        if int(count) != EXPECTED_COUNT:
            fail("%s counted %s, not %d" % (command[0], count, EXPECTED_COUNT))
    return [int(micros) / 1000.0 for micros, _ in rows[1:]]


def whole_process_ms(command, env=None, expect=None, ok_codes=(0,)):
    started = time.perf_counter()
    result = subprocess.run(command, capture_output=True, text=True, env=env)
    elapsed = (time.perf_counter() - started) * 1000.0
    if result.returncode not in ok_codes:
        fail("%s exited %d: %s" % (command[0], result.returncode, result.stderr + result.stdout))
    if expect and expect not in result.stdout + result.stderr:
        fail("%s did not say %r: %s" % (command[0], expect, result.stdout + result.stderr))
    return elapsed


class PostOwl:
    """The real program on throw-away profiles, all in one settings file,
    talking to Dovecot through the relay."""

    def __init__(self, args, relay, interval, profiles=("DEFAULT",), keys=(), port_variable="POSTOWL_POP3_PORT",
                 upstream_port=None):
        self.args = args
        self.upstream_port = upstream_port
        self.relay = relay
        self.home = tempfile.TemporaryDirectory(prefix="postowl-bench-")
        config = os.path.join(self.home.name, "config")
        for index, profile in enumerate(profiles):
            subprocess.run(
                [sys.executable, args.profile_writer] + (["--append"] if index else []) +
                [os.path.join(config, "POSTOWL", "POSTOWL.conf"), profile,
                 "ServerName=127.0.0.1", "UserName=" + args.user, "Password=" + args.password,
                 "Interval=%d" % interval, "StartReader=0", "AskBefore=0", "PlaySound=0", "AlwaysOnTop=0",
                 "NotifyOnce=1", "SysTray=0", "NameInBar=Bench"] + list(keys), check=True)
        # The runtime folder on tmpfs, as a desktop session's is (/run/user/UID):
        # on disk, the single-run lock's fdatasync would be timed as start-up.
        self.runtime = tempfile.TemporaryDirectory(prefix="postowl-bench-", dir=runtime_parent())
        self.env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_CONFIG_HOME=config,
                        XDG_RUNTIME_DIR=self.runtime.name)
        self.env[port_variable] = str(upstream_port or relay.port)
        self.env.pop("POSTOWL_SMS_GATEWAY", None)

    def start(self, profiles=((),), window=False):
        """Starts one program per profile (each an argument list, none for
        DEFAULT) at once; returns them once each has finished its first check,
        and for the last check to finish the seconds to its connection and to
        its end. window: the first program runs with --verbose, and the
        seconds to its "Window shown" (its first paint) come last."""
        self.relay.drain()
        started = time.perf_counter()
        processes = [subprocess.Popen([self.args.postowl] + (["--verbose"] if window and not index else []) +
                                      list(profile), env=self.env, stdin=subprocess.DEVNULL,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
                     for index, profile in enumerate(profiles)]
        shown = []
        if window:
            def read(stream):
                for line in iter(stream.readline, b""):
                    if line.strip() == b"Window shown" and not shown:
                        shown.append(time.perf_counter())
            threading.Thread(target=read, args=(processes[0].stderr,), daemon=True).start()
        for _ in processes:
            check = self.relay.next_check()
            if check is None:
                errors = []
                for process in processes:
                    stop(process)
                    errors.append(process.stderr.read().decode(errors="replace"))
                fail("postowl made no complete check within %.0f s: %s" % (START_TIMEOUT, " ".join(errors)))
        accepted, closed = check
        if window:
            if not shown:
                fail("postowl never said its window was shown")
            return processes, accepted - started, closed - started, shown[0] - started
        return processes, accepted - started, closed - started

    def start_watching(self):
        """Starts one program on an IMAP profile, straight to Dovecot; returns
        it once its connection has been open for a while (login, count,
        IDLE), or None when it did not stay on one connection."""
        process = subprocess.Popen([self.args.postowl], env=self.env, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline = time.monotonic() + START_TIMEOUT
        while connections(process.pid, self.upstream_port) != 1:
            if time.monotonic() > deadline or process.poll() is not None:
                stop(process)
                return None
            time.sleep(0.05)
        time.sleep(IMAP_SETTLE)
        if connections(process.pid, self.upstream_port) != 1:
            stop(process)
            return None
        return process

    def close(self):
        self.home.cleanup()
        self.runtime.cleanup()


def connections(pid, port):
    """The process's established TCP connections to 127.0.0.1:port."""
    inodes = set()
    for fd in os.listdir("/proc/%d/fd" % pid):
        try:
            target = os.readlink("/proc/%d/fd/%s" % (pid, fd))
        except OSError:
            continue
        if target.startswith("socket:["):
            inodes.add(target[8:-1])
    count = 0
    with open("/proc/%d/net/tcp" % pid) as table:
        for line in table.readlines()[1:]:
            fields = line.split()
            if fields[2] == "0100007F:%04X" % port and fields[3] == "01" and fields[9] in inodes:
                count += 1
    return count


def runtime_parent():
    for folder in ("/dev/shm", os.environ.get("XDG_RUNTIME_DIR", "")):
        if folder and os.path.isdir(folder) and os.access(folder, os.W_OK):
            return folder
    return None


def start_label(args, tls=False, tick=False, wrapper=(), timeout=START_TIMEOUT):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    started = time.perf_counter()
    program = "qt-label-floor-tls" if tls else "qt-label-floor"
    process = subprocess.Popen(list(wrapper) + [os.path.join(args.tools, program)] + (["--tick"] if tick else []), env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    ready, _, _ = select.select([process.stdout], [], [], timeout)
    line = process.stdout.readline() if ready else b""
    if line.strip() != b"shown":
        stop(process)
        fail("the Qt label program never painted")
    return process, time.perf_counter() - started


def fetchmail_rc(directory, args):
    rc = os.path.join(directory, "fetchmailrc")
    with open(os.open(rc, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), "w") as out:
        # Plain POP3 like PostOwl's: an empty sslproto keeps fetchmail from insisting on STARTTLS.
        out.write('poll 127.0.0.1 auth password user "%s" password "%s" is "%s" here sslproto \'\'\n'
                  % (args.user, args.password, getpass.getuser()))
    return rc


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tools", required=True, help="folder of postowl-bench-check, pop3-floor, qt-label-floor")
    parser.add_argument("--postowl", required=True)
    parser.add_argument("--profile-writer", required=True)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--tls-port", type=int, help="Dovecot's POP3S port")
    parser.add_argument("--ca", help="the CA file that signed Dovecot's certificate")
    parser.add_argument("--certificate", help="the certificate Dovecot serves (a TLS profile trusts it)")
    parser.add_argument("--imaps-port", type=int, help="Dovecot's IMAP over TLS port")
    parser.add_argument("--maildir", help="the user's Maildir, where new mail is put for the delivery rows")
    parser.add_argument("--user", default="alice")
    parser.add_argument("--password", default="s3cret")
    parser.add_argument("--runs", type=int, default=30)
    parser.add_argument("--idle", type=int, default=60)
    parser.add_argument("--only-profiles", action="store_true",
                        help="only the memory of %d profiles at once" % PROFILES)
    args = parser.parse_args()
    runs = args.runs
    med = statistics.median
    rows = []

    def progress(text):
        sys.stderr.write("bench: %s\n" % text)
        sys.stderr.flush()

    if args.only_profiles:
        several_profiles(args, Relay(args.port), progress)
        return

    # 1. One check on a running program, and one check as a whole process.
    progress("check latency, %d runs each" % runs)
    common = [str(args.port), args.user, args.password, str(runs + 1)]
    postowl_check = latencies([os.path.join(args.tools, "postowl-bench-check")] + common)
    floor_check = latencies([os.path.join(args.tools, "pop3-floor")] + common)
    rows.append(Row("One check, connect → count known", "PostOwl `Pop3Conversation`", med(postowl_check), "ms",
                    "blocking POSIX client", med(floor_check)))
    if args.tls_port:
        progress("check latency over TLS, %d runs each" % runs)
        secured = [str(args.tls_port)] + common[1:] + [args.ca]
        postowl_tls = latencies([os.path.join(args.tools, "postowl-bench-check")] + secured)
        floor_tls = latencies([os.path.join(args.tools, "pop3s-floor")] + secured)
        rows.append(Row("One check over TLS (POP3S), connect → count known", "PostOwl `Pop3Conversation`",
                        med(postowl_tls), "ms", "blocking OpenSSL client (`SSL_connect` + verify)", med(floor_tls)))

    with tempfile.TemporaryDirectory(prefix="postowl-bench-fetchmail-") as home:
        rc = fetchmail_rc(home, args)
        env = dict(os.environ, HOME=home, FETCHMAILHOME=home, LC_ALL="C")
        fetchmail = ["fetchmail", "-c", "-f", rc, "--nosyslog", "-p", "POP3", "-P", str(args.port)]
        # fetchmail -c exits 0 when there is mail and 1 when there is none.
        peer = [whole_process_ms(fetchmail, env=env, expect="%d messages" % EXPECTED_COUNT)
                for _ in range(runs)]
    floor_process = [whole_process_ms([os.path.join(args.tools, "pop3-floor")] + common[:3] + ["1"])
                     for _ in range(runs)]
    rows.append(Row("One check as a whole process, start → exit", "`fetchmail -c`", med(peer), "ms",
                    "blocking POSIX client", med(floor_process)))

    # 2. Cold start to the first status text, and memory after the first check.
    progress("cold starts, %d runs each" % runs)
    relay = Relay(args.port)
    owl = PostOwl(args, relay, interval=5)
    to_connect, to_status, window_up, owl_rss = [], [], [], []
    label_shown, label_rss = [], []
    try:
        for _ in range(runs):
            (process,), connected, status, shown = owl.start(window=True)
            window_up.append(shown * 1000)
            time.sleep(SETTLE)
            owl_rss.append(resident_kb(process.pid) / 1024.0)
            stop(process)
            to_connect.append(connected * 1000)
            to_status.append(status * 1000)

            label, shown = start_label(args)
            time.sleep(SETTLE)
            label_rss.append(resident_kb(label.pid) / 1024.0)
            stop(label)
            label_shown.append(shown * 1000)
    finally:
        owl.close()
    rows.append(Row("Cold start → window up (its first paint, `--verbose`)", "`postowl`", med(window_up),
                    "ms", "Qt label program, start → painted", med(label_shown), GOAL_RATIO))
    rows.append(Row("Cold start → first check's status text (\"3 message(s)\")", "`postowl`", med(to_status),
                    "ms", "Qt label program, start → painted", med(label_shown)))
    rows.append(Row("Resident memory after the first check, plain POP3", "`postowl`", med(owl_rss), "MB",
                    "Qt label program", med(label_rss), GOAL_RATIO))

    # 3. The profiles that speak TLS, against the label program with Qt's TLS backend loaded.
    notes = []
    imap = None
    if args.tls_port and args.certificate:
        rows.extend(tls_memory(args, progress))
        if args.imaps_port:
            imap = IdleImap(args)

    # 4. CPU over a minute of idling between checks, side by side with the
    # label program (and an IMAP profile in IDLE).
    progress("CPU time over %d s idle" % args.idle)
    relay.drain()
    owl = PostOwl(args, relay, interval=5)
    try:
        (process,), _, _ = owl.start()
        label, _ = start_label(args)
        ticker = subprocess.Popen([os.path.join(args.tools, "tick-floor")], stdin=subprocess.DEVNULL)
        qt_ticker, _ = start_label(args, tick=True)
        watching = imap.start() if imap else None
        time.sleep(1.0)
        watched = [process, label, ticker, qt_ticker] + ([watching] if watching else [])
        before = [cpu_ms(p.pid) for p in watched]
        time.sleep(args.idle)
        after = [cpu_ms(p.pid) for p in watched]
        extra = relay.next_check(timeout=0.1)
        if watching:
            imap_rss = resident_kb(watching.pid) / 1024.0
            imap_stayed = watching.poll() is None and connections(watching.pid, args.imaps_port) == 1
        for p in watched:
            stop(p)
        if extra is not None:
            fail("postowl checked again during the idle minute")
        if watching and not imap_stayed:
            watching = None
    finally:
        owl.close()
        if imap:
            imap.close()
    spent = [[a - b for b, a in zip(one_before, one_after)] for one_before, one_after in zip(before, after)]
    rows.append(Row("CPU time over %d s idle (interval 5 min, schedstat; stat: %s)" % (args.idle, fmt(spent[0][0], "ms")),
                    "`postowl`", spent[0][1], "ms", "Qt label program", spent[1][1], goal_value=GOAL_IDLE_MS))
    # What waking every 5 s costs by itself on this machine, the tick's own floor.
    rows.append(Row("CPU time over %d s idle, against a program that only wakes every 5 s" % args.idle, "`postowl`",
                    spent[0][1], "ms", "`poll()` every 5 s", spent[2][1]))
    rows.append(Row("CPU time over %d s idle, against a Qt program with a 5 s timer" % args.idle, "`postowl`",
                    spent[0][1], "ms", "Qt label program with a 5 s `QTimer`", spent[3][1], GOAL_RATIO))
    if imap and not watching:
        notes.append("The IMAP profile did not idle on one open connection, so its rows are left out.")
    if watching:
        rows.append(Row("Resident memory, IMAP profile idling on one open connection (TLS)", "`postowl`", imap_rss,
                        "MB", "Qt label program with Qt's TLS backend", med(imap.floor_rss), GOAL_RATIO))
        rows.append(Row("CPU time over %d s of IDLE, IMAP profile (schedstat; stat: %s)" % (args.idle, fmt(spent[4][0], "ms")),
                        "`postowl`", spent[4][1], "ms", "`poll()` every 5 s", spent[2][1], goal_value=GOAL_IMAP_IDLE_MS))
        rows.append(Row("CPU time over %d s of IDLE, IMAP profile, against a Qt program with a 5 s timer" % args.idle,
                        "`postowl`", spent[4][1], "ms", "Qt label program with a 5 s `QTimer`", spent[3][1], GOAL_RATIO))
    rows.extend(idle_instructions(args, relay, progress))

    # 5. From a message landing in the Maildir to the title showing it.
    if args.maildir and args.imaps_port and args.ca:
        rows.extend(delivery_latency(args, relay, progress))

    # The table.
    load = os.getloadavg()
    print("Medians of %d runs (one idle run of %d s); Dovecot %s on 127.0.0.1, %d messages; "
          "%d CPUs, load average %.2f while measuring." % (
              runs, args.idle, dovecot_version(), EXPECTED_COUNT, os.cpu_count() or 0, load[0]))
    print()
    print_rows(rows)
    print()
    print("The first check's status text comes after start-up, the 100 ms the first check waits on purpose "
          "and one check; `postowl` made its first connection after %s." % fmt(med(to_connect), "ms"))
    print()
    for note in notes:
        print(note)
        print()
    several_profiles(args, relay, progress)


def idle_instructions(args, relay, progress):
    """What the idle ticks execute, counted by callgrind (so the same on any
    machine): instructions over a stretch of idle time between checks, and the
    allocations among them, against the Qt program with a 5 s timer."""
    if not shutil.which("valgrind"):
        return []
    progress("instructions over %d s idle, under callgrind" % CALLGRIND_IDLE)
    counts = []
    with tempfile.TemporaryDirectory(prefix="postowl-bench-callgrind-") as folder:
        out = os.path.join(folder, "callgrind.%p")
        wrapper = ["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out]
        relay.drain()
        owl = PostOwl(args, relay, interval=5)
        started = []
        try:
            started.append(subprocess.Popen(wrapper + [args.postowl], env=owl.env, stdin=subprocess.DEVNULL,
                                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
            if relay.next_check(timeout=CALLGRIND_START_TIMEOUT) is not None:
                started.append(start_label(args, tick=True, wrapper=wrapper, timeout=CALLGRIND_START_TIMEOUT)[0])
                counts = [idle_count(process, folder) for process in started]
        finally:
            for process in started:
                stop(process)
            owl.close()
    if len(counts) != 2:
        return []
    (owl_ir, owl_allocs), (floor_ir, floor_allocs) = counts
    return [Row("Instructions over %d s idle (callgrind; allocations: %d, floor %d)" % (CALLGRIND_IDLE, owl_allocs,
                                                                                       floor_allocs),
                "`postowl`", owl_ir, "instructions", "Qt label program with a 5 s `QTimer`", floor_ir, GOAL_RATIO)]


def idle_count(process, folder):
    """Zeroes the counts of a program under callgrind once it is idle, waits,
    dumps them; returns the instructions and the calls to an allocator."""
    time.sleep(3.0)
    subprocess.run(["callgrind_control", "--zero", str(process.pid)], check=True, capture_output=True)
    time.sleep(CALLGRIND_IDLE)
    subprocess.run(["callgrind_control", "--dump", str(process.pid)], check=True, capture_output=True)
    dump = os.path.join(folder, "callgrind.%d.1" % process.pid)
    deadline = time.monotonic() + 10
    while not os.path.exists(dump) and time.monotonic() < deadline:
        time.sleep(0.2)
    instructions, allocations, names, callee = 0, 0, {}, None
    with open(dump) as lines:
        for line in lines:
            # A function is named once, "fn=(7) malloc", and by its number after that.
            named = re.match(r"(c?)fn=\((\d+)\)(?: (.*))?$", line.rstrip("\n"))
            if named:
                if named.group(3):
                    names[named.group(2)] = named.group(3)
                callee = names.get(named.group(2), "") if named.group(1) else None
            elif line.startswith("summary:"):
                instructions = int(line.split()[1])
            elif line.startswith("calls=") and callee is not None:
                if callee in ALLOCATORS:
                    allocations += int(line.split("=")[1].split()[0])
                callee = None
    return instructions, allocations


SETTLE_MS = 300  # PostOwl waits this long after the server's notice for the rest of a burst
DELIVERY_TIMEOUT = 10.0


def deliver(maildir, subject):
    """One more message, put into new/ at once as a delivery agent does; the
    moment it lands."""
    name = "%d.%d_%d.postowl-bench" % (time.time(), os.getpid(), time.perf_counter_ns())
    temporary = os.path.join(maildir, "tmp", name)
    with open(temporary, "w", newline="") as message:
        message.write("From: Bench <bench@example.org>\r\nSubject: %s\r\n\r\nA delivery.\r\n" % subject)
    owner = os.stat(os.path.join(maildir, "new"))
    if os.geteuid() == 0:
        os.chown(temporary, owner.st_uid, owner.st_gid)
    landed = time.perf_counter()
    os.rename(temporary, os.path.join(maildir, "new", name))
    return landed


class LineClock:
    """Reads a process's or socket's lines in a thread and keeps when each came."""

    def __init__(self, readline):
        self.lines = queue.Queue()
        threading.Thread(target=self._read, args=(readline,), daemon=True).start()

    def _read(self, readline):
        try:
            for line in iter(readline, b""):
                self.lines.put((time.perf_counter(), line.decode(errors="replace").rstrip("\r\n")))
        except (OSError, ValueError):
            pass  # closed under it: the measuring is over

    def wait_for(self, test, timeout=DELIVERY_TIMEOUT):
        deadline = time.perf_counter() + timeout
        while True:
            try:
                when, line = self.lines.get(timeout=max(0.0, deadline - time.perf_counter()))
            except queue.Empty:
                return None
            if test(line):
                return when


def idle_floor(args):
    """The least a client can do: blocked in IDLE on the same Dovecot over
    TLS, it reads the server's EXISTS."""
    import ssl
    context = ssl.create_default_context(cafile=args.ca)
    raw = socket.create_connection(("127.0.0.1", args.imaps_port), timeout=DELIVERY_TIMEOUT)
    connection = context.wrap_socket(raw, server_hostname="127.0.0.1")
    reader = connection.makefile("rb")
    reader.readline()
    connection.sendall(b"a LOGIN %s %s\r\nb EXAMINE INBOX\r\nc IDLE\r\n" % (args.user.encode(), args.password.encode()))
    while not reader.readline().startswith(b"+"):
        pass
    # From here on it waits as long as the bench runs; closing it ends the wait.
    connection.settimeout(None)
    return connection, LineClock(reader.readline)


def delivery_latency(args, relay, progress):
    """PostOwl idling on an IMAP folder against the floor, both timed from
    the same delivery; and a POP3 profile at Interval 1 for contrast."""
    progress("from delivery to title, %d deliveries" % args.runs)
    count_line = re.compile(r"^\* (?:ESEARCH .* COUNT (\d+)|SEARCH)")
    imap = PostOwl(args, None, interval=5, keys=tls_profile_keys(args, ["Protocol=1"]),
                   port_variable="POSTOWL_IMAP_PORT", upstream_port=args.imaps_port)
    owl = subprocess.Popen([args.postowl, "--verbose"], env=imap.env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    heard = LineClock(owl.stderr.readline)
    postowl_ms, floor_ms = [], []
    try:
        if heard.wait_for(lambda line: line.startswith("+ ")) is None:
            fail("the IMAP profile did not idle")
        connection, floor = idle_floor(args)
        for run in range(args.runs):
            landed = deliver(args.maildir, "Delivery %d" % run)
            exists = floor.wait_for(lambda line: line.endswith(" EXISTS"))
            # The count is known and the title set in the step that idles again.
            counted = heard.wait_for(lambda line: bool(count_line.match(line)))
            shown = heard.wait_for(lambda line: line.endswith(" IDLE") and not line.startswith("*"))
            if exists is None or counted is None or shown is None:
                fail("a delivery was not noticed within %.0f s" % DELIVERY_TIMEOUT)
            floor_ms.append((exists - landed) * 1000.0)
            postowl_ms.append((shown - landed) * 1000.0)
            heard.wait_for(lambda line: line.startswith("+ "))
        connection.close()
    finally:
        stop(owl)
        imap.close()
    floor_median = statistics.median(floor_ms)
    rows = [Row("From a delivery to the title, IMAP profile idling (IDLE, TLS)", "`postowl`",
                statistics.median(postowl_ms), "ms", "blocking client in IDLE, to its EXISTS", floor_median,
                goal_value=GOAL_RATIO * floor_median + SETTLE_MS)]

    # For contrast: a POP3 profile only learns of it at its next check.
    progress("from delivery to title, POP3 profile at Interval 1")
    pop3 = PostOwl(args, relay, interval=1)
    try:
        (process,), _, _ = pop3.start()
        landed = deliver(args.maildir, "For POP3")
        checked = relay.next_check(timeout=65.0)
        stop(process)
    finally:
        pop3.close()
    if checked is not None:
        rows.append(Row("From a delivery to the title, POP3 profile at Interval 1 (one delivery)", "`postowl`",
                        (checked[1] - landed) * 1000.0, "ms", "blocking client in IDLE, to its EXISTS",
                        floor_median))
    return rows


class Row:
    """One line of a table: the subject's value beside its floor's, and the
    goal it is held to, a ratio to the floor or a value of its own. A new
    measure is one more Row."""

    def __init__(self, measure, subject, value, unit, floor, floor_value, goal_ratio=None, goal_value=None):
        self.measure, self.subject, self.value, self.unit = measure, subject, value, unit
        self.floor, self.floor_value = floor, floor_value
        self.goal_ratio, self.goal_value = goal_ratio, goal_value

    def goal(self):
        if self.goal_ratio is not None:
            met = self.floor_value > 0 and self.value / self.floor_value <= self.goal_ratio
            return "≤ %.2f× %s" % (self.goal_ratio, "met" if met else "**missed**")
        if self.goal_value is not None:
            met = self.value <= self.goal_value
            return "≤ %s %s" % (fmt(self.goal_value, self.unit), "met" if met else "**missed**")
        return "—"


def print_rows(rows):
    print("| Measure | Measured | Median | Floor | Median | Ratio | Goal |")
    print("|---|---|---:|---|---:|---:|---|")
    for row in rows:
        print("| %s | %s | %s | %s | %s | %s | %s |" % (
            row.measure, row.subject, fmt(row.value, row.unit), row.floor, fmt(row.floor_value, row.unit),
            ratio(row.value, row.floor_value), row.goal()))


def tls_profile_keys(args, more_keys):
    """SSL/TLS from the first byte, with the certificate Dovecot serves trusted for the profile."""
    fingerprint = subprocess.run(["openssl", "x509", "-in", args.certificate, "-noout", "-fingerprint", "-sha256"],
                                 check=True, capture_output=True, text=True).stdout
    fingerprint = fingerprint.split("=", 1)[1].strip().lower()
    return ["Security=2", "TrustedCertificate=" + fingerprint] + more_keys


def tls_memory(args, progress):
    """Resident memory of a POP3 profile over TLS (POP3S) after its first
    check, against the label program with Qt's TLS backend loaded."""
    progress("memory of a TLS profile, %d runs" % args.runs)
    relay = Relay(args.tls_port, opaque=True)
    owl = PostOwl(args, relay, interval=5, keys=tls_profile_keys(args, []))
    owl_rss, floor_rss = [], []
    try:
        for _ in range(args.runs):
            (process,), _, _ = owl.start()
            time.sleep(SETTLE)
            owl_rss.append(resident_kb(process.pid) / 1024.0)
            stop(process)
            label, _ = start_label(args, tls=True)
            time.sleep(SETTLE)
            floor_rss.append(resident_kb(label.pid) / 1024.0)
            stop(label)
    finally:
        owl.close()
    return [Row("Resident memory after the first check, POP3 over TLS", "`postowl`", statistics.median(owl_rss),
                "MB", "Qt label program with Qt's TLS backend", statistics.median(floor_rss), GOAL_RATIO)]


class IdleImap:
    """An IMAP profile over TLS that watches its folder with IDLE, and the
    floor of its memory (the label program with Qt's TLS backend)."""

    def __init__(self, args):
        # Straight to Dovecot: the connection stays open, seen in /proc/PID/net/tcp.
        self.owl = PostOwl(args, None, interval=5, keys=tls_profile_keys(args, ["Protocol=1", "Folder=INBOX"]),
                           port_variable="POSTOWL_IMAP_PORT", upstream_port=args.imaps_port)
        self.floor_rss = []
        for _ in range(3):
            label, _ = start_label(args, tls=True)
            time.sleep(SETTLE)
            self.floor_rss.append(resident_kb(label.pid) / 1024.0)
            stop(label)

    def start(self):
        return self.owl.start_watching()

    def close(self):
        self.owl.close()


def several_profiles(args, relay, progress):
    """Memory of PROFILES postowl processes running at once, each on its own
    profile from one settings file, against one of them alone; read from
    smaps_rollup 0.3 s after the last first check. Prints its own table."""
    progress("memory of %d profiles at once, %d runs" % (PROFILES, args.runs))
    names = ["Bench%d" % number for number in range(1, PROFILES + 1)]
    owl = PostOwl(args, relay, interval=5, profiles=names)
    alone, each, totals = [], [], []
    try:
        for _ in range(args.runs):
            (process,), _, _ = owl.start([names[:1]])
            time.sleep(SETTLE)
            alone.append(memory_mb(process.pid))
            stop(process)

            processes, _, _ = owl.start([[name] for name in names])
            time.sleep(SETTLE)
            together = [memory_mb(process.pid) for process in processes]
            for process in processes:
                stop(process)
            each.extend(together)
            totals.append(sum(pss for pss, _, _ in together))
    finally:
        owl.close()

    med = statistics.median
    load = os.getloadavg()
    print("%d `postowl` processes at once, each on its own profile of one settings file, against one alone; "
          "medians of %d runs (at once: of all %d instances), 0.3 s after the first check; "
          "%d CPUs, load average %.2f while measuring." % (
              PROFILES, args.runs, PROFILES * args.runs, os.cpu_count() or 0, load[0]))
    print()
    print("| Memory per instance (`/proc/<pid>/smaps_rollup`) | %d at once, each | One alone | Ratio | Goal |"
          % PROFILES)
    print("|---|---:|---:|---:|---|")
    for index, measure in enumerate(("Proportional (`Pss`)", "Private (`Private_Clean` + `Private_Dirty`)",
                                     "Resident (`Rss`)")):
        value, floor = med([m[index] for m in each]), med([m[index] for m in alone])
        # What one more mailbox costs is its private memory.
        goal = Row("", "", value, "MB", "", floor, goal_value=GOAL_PRIVATE_MB if index == 1 else None).goal()
        print("| %s | %s | %s | %s | %s |" % (measure, fmt(value, "MB"), fmt(floor, "MB"), ratio(value, floor), goal))
    print()
    alone_pss = med([m[0] for m in alone])
    print("All %d at once take %s of proportional memory together, against %d times one alone: %d × %s = %s." % (
        PROFILES, fmt(med(totals), "MB"), PROFILES, PROFILES, fmt(alone_pss, "MB"), fmt(PROFILES * alone_pss, "MB")))


def fmt(value, unit):
    if unit == "MB":
        return "%.1f MB" % value
    if unit == "instructions":
        return "{:,}".format(int(value))
    return ("%.2f ms" if value < 10 else "%.1f ms" if value < 100 else "%.0f ms") % value


def ratio(value, floor):
    return "%.2f×" % (value / floor) if floor > 0 else "—"


def dovecot_version():
    try:
        binary = shutil.which("dovecot") or "/usr/sbin/dovecot"
        return subprocess.run([binary, "--version"], capture_output=True, text=True).stdout.split()[0]
    except (OSError, IndexError):
        return "?"


if __name__ == "__main__":
    main()
