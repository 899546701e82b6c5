#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Measures what one zelko-cli run costs, next to a minimal C client (the
floor) on the same answers: instructions counted by callgrind, peak heap by
DHAT, and wall-time medians over many runs. Then the peak heap of answers
shaped to make a client's memory blow up. Prints the tables and checks the
targets; exits with 1 when one is missed.

    bench/run.py [BUILD_DIR] [--runs N]

BUILD_DIR is a build of the benchmark preset (default: build-bench); with
--runs 0 the wall times, the only figures that vary from run to run, are
left out.
"""
import argparse, os, pathlib, pty, re, shutil, statistics, subprocess, sys, tempfile, threading, time

BIG_KEYS = 10288  # about 1 MiB of answer, the most a client accepts
MIB = 1 << 20
HEAP_ALLOWANCE = 256 * 1024  # beyond the answer itself


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", nargs="?", default="build-bench")
    parser.add_argument("--runs", type=int, default=300, help="wall-time runs per command (0: none)")
    args = parser.parse_args()
    build = pathlib.Path(args.build).resolve()
    programs = {
        "cli": build / "zelko-cli/zelko-cli",
        "cli_static": build / "bench/zelko-cli-static",
        "cli_shared_runtime": build / "bench/zelko-cli-shared-runtime",
        "floor": build / "bench/floor_client",
        "floor_static": build / "bench/floor_client_static",
        "daemon": build / "bench/bench_daemon",
    }
    for program in programs.values():
        if not program.exists():
            sys.exit(f"bench: {program} is missing; build the benchmark preset first")
    cli, floor = programs["cli"], programs["floor"]

    with tempfile.TemporaryDirectory(prefix="zelko-bench.") as scratch:
        scratch = pathlib.Path(scratch)
        daemons = []
        try:
            small = start_daemon(daemons, programs["daemon"], scratch / "small", ["10"])
            big = start_daemon(daemons, programs["daemon"], scratch / "big", [str(BIG_KEYS)])
            escaped = start_daemon(daemons, programs["daemon"], scratch / "escaped",
                                   [str(BIG_KEYS), "escaped"])
            sizes = {big: answer_size(floor, big), escaped: answer_size(floor, escaped)}
            static = [programs["cli_static"], "keys"], [programs["floor_static"], "keys"]
            rows = [
                ("keys (10 keys)", small, [cli, "keys"], [floor, "keys"]),
                ("keys (10 keys), standalone", small, *static),
                ("keys (10 keys), C++ runtime shared", small, [programs["cli_shared_runtime"], "keys"],
                 [floor, "keys"]),
                ("status", small, [cli, "status"], [floor, "status"]),
            ]
            for runtime, label in ((big, "1 MiB"), (escaped, "1 MiB, escapes")):
                rows += [(f"keys{flags} ({label})", runtime, [cli, "keys", *flags.split()],
                          [floor, "keys"]) for flags in ("", " --long", " --json")]
            results = [measure(name, runtime, command, baseline, args.runs, sizes.get(runtime))
                       for name, runtime, command, baseline in rows]
            agent = measure_agent(scratch, args.runs)
            hostile = measure_hostile(programs["daemon"], cli, scratch / "hostile", daemons)
        finally:
            for process in daemons:
                process.terminate()
                process.wait()

    print_results(results, agent, args.runs > 0)
    print_hostile(hostile)
    sys.exit(0 if check_targets(results, hostile, args.runs > 0) else 1)


def start_daemon(daemons, daemon, runtime, arguments):
    runtime.mkdir(parents=True)
    daemons.append(subprocess.Popen([daemon, runtime, *arguments], stderr=subprocess.DEVNULL))
    wait_for(runtime / "zelko/control.sock")
    return runtime


def wait_for(path):
    for _ in range(500):
        if path.exists():
            return
        time.sleep(0.01)
    sys.exit(f"bench: {path} never appeared")


def answer_size(floor, runtime):
    return len(subprocess.run([floor, "keys"], env=environment(runtime), capture_output=True).stdout)


def environment(runtime, extra=None):
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "XDG_RUNTIME_DIR": str(runtime)}
    env.update(extra or {})
    return env


def instructions(command, env):
    out = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null", *command],
                         env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True).stderr
    return int(re.search(r"Collected : (\d+)", out).group(1))


def peak_heap(command, env, terminal=None):
    """Peak heap in bytes under DHAT; with `terminal` ("out" or "err"), that
    stream is a pseudo-terminal, read until the program ends."""
    log_read, log_write = os.pipe()
    dhat = ["valgrind", "--tool=dhat", "--dhat-out-file=/dev/null", f"--log-fd={log_write}", *command]
    streams = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
    master = None
    if terminal:
        master, slave = pty.openpty()
        streams["stdout" if terminal == "out" else "stderr"] = slave
    process = subprocess.Popen(dhat, env=env, pass_fds=(log_write,), **streams)
    os.close(log_write)
    if master is not None:
        os.close(slave)
        drain = threading.Thread(target=drain_terminal, args=(master,))
        drain.start()
    log = b""
    while chunk := os.read(log_read, 65536):
        log += chunk
    process.wait()
    os.close(log_read)
    if master is not None:
        drain.join()
    found = re.search(rb"At t-gmax:\s+([\d,]+) bytes", log)
    return int(found.group(1).replace(b",", b"")) if found else 0


def drain_terminal(master):
    try:
        while os.read(master, 1 << 16):
            pass
    except OSError:
        pass  # EIO once the program has closed its end
    finally:
        os.close(master)


def wall_medians(commands, env, runs):
    """Median wall time of each command, the commands interleaved run by run
    so that drift in machine load touches them alike."""
    if runs <= 0:
        return [0.0 for _ in commands]
    times = [[] for _ in commands]
    null = os.open(os.devnull, os.O_WRONLY)
    try:
        for _ in range(runs):
            for i, command in enumerate(commands):
                start = time.perf_counter()
                pid = os.posix_spawn(str(command[0]), [str(c) for c in command], env,
                                     file_actions=[(os.POSIX_SPAWN_DUP2, null, 1)])
                os.waitpid(pid, 0)
                times[i].append(time.perf_counter() - start)
    finally:
        os.close(null)
    return [statistics.median(t) * 1000 for t in times]


def measure(name, runtime, command, baseline, runs, size):
    env = environment(runtime)
    wall, floor_wall = wall_medians([command, baseline], env, runs)
    standalone = "standalone" in name  # DHAT cannot see a static program's heap
    return {
        "name": name, "size": size,
        "instructions": instructions(command, env),
        "floor_instructions": instructions(baseline, env),
        "heap": None if standalone else peak_heap(command, env),
        "floor_heap": None if standalone else peak_heap(baseline, env),
        "wall": wall, "floor_wall": floor_wall,
    }


def measure_agent(scratch, runs):
    """ssh-add -l against an ssh-agent holding 10 keys, for comparison."""
    if not (shutil.which("ssh-agent") and shutil.which("ssh-add") and shutil.which("ssh-keygen")):
        return None
    socket = scratch / "agent.sock"
    process = subprocess.Popen(["ssh-agent", "-D", "-a", socket], stdout=subprocess.DEVNULL)
    try:
        wait_for(socket)
        env = {"PATH": os.environ.get("PATH", ""), "SSH_AUTH_SOCK": str(socket)}
        for i in range(10):
            key = scratch / f"id{i}"
            subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", key], check=True)
            subprocess.run(["ssh-add", "-q", key], env=env, check=True, stderr=subprocess.DEVNULL)
        command = [shutil.which("ssh-add"), "-l"]
        return {"instructions": instructions(command, env), "heap": peak_heap(command, env),
                "wall": wall_medians([command], env, runs)[0]}
    finally:
        process.terminate()
        process.wait()


def hostile_answers():
    """Answers of at most 1 MiB that cost a naive client many times their size."""
    big = bytearray(b"keys")
    for i in range(BIG_KEYS):
        fingerprint = "".join("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"
                              [(i * 7 + c * 13) % 64] for c in range(43))
        big += f"\nkey-{i:05d}\tssh-ed25519\tSHA256:{fingerprint}\tkey-{i:05d}@laptop.example\tok".encode()
    fill = lambda head, tail, byte: head + byte * ((MIB - len(head) - len(tail)) // len(byte)) + tail
    return [
        ("349,522 empty device records", b"devices" + b"\n\t\t" * 349522, [["devices"]], None),
        ("209,714 empty key records", b"keys" + b"\n\t\t\t\t" * 209714,
         [["keys"], ["keys", "--json"], ["fingerprint", "nope"]], None),
        ("a 1 MiB comment of U+0001", fill(b"keys\nk\ta\tf\t", b"\tok", b"\x01"), [["keys", "--json"]], None),
        ("a 1 MiB name of ESC, on a terminal", fill(b"keys\n", b"\ta\tf\tc\tok", b"\x1b"), [["keys"]], "out"),
        ("a 1 MiB endpoint of BEL, on a terminal", fill(b"status\n", b"\tp\tm\tw\t", b"\x07"),
         [["status"]], "out"),
        ("a 1 MiB error of CSI sequences, on a terminal", fill(b"error\n", b"", b"\x1b[31m"),
         [["status"]], "err"),
        (f"{BIG_KEYS:,} ordinary keys", bytes(big), [["keys"], ["keys", "--json"]], None),
    ]


def measure_hostile(daemon, cli, directory, daemons):
    rows = []
    for index, (shape, answer, commands, terminal) in enumerate(hostile_answers()):
        runtime = directory / str(index)
        runtime.mkdir(parents=True)
        (runtime / "answer").write_bytes(answer)
        start_daemon_from_file(daemons, daemon, runtime)
        for command in commands:
            heap = peak_heap([cli, *command], environment(runtime), terminal)
            rows.append({"shape": shape, "command": " ".join(command), "size": len(answer),
                         "heap": heap})
    return rows


def start_daemon_from_file(daemons, daemon, runtime):
    daemons.append(subprocess.Popen([daemon, runtime, "--answer", runtime / "answer"],
                                    stderr=subprocess.DEVNULL))
    wait_for(runtime / "zelko/control.sock")


def mib(size):
    return f"{size / MIB:.2f} MiB" if size is not None else "-"


def print_results(results, agent, walls):
    print("| command | instructions | x floor | instr/byte | peak heap | wall ms | x floor |")
    print("|---|---|---|---|---|---|---|")
    for r in results:
        per_byte = f"{r['instructions'] / r['size']:.2f}" if r["size"] else ""
        floor_per_byte = f"{r['floor_instructions'] / r['size']:.2f}" if r["size"] else ""
        wall = f"{r['wall']:.3f} | {r['wall'] / r['floor_wall']:.2f}" if walls else "- | -"
        floor_wall = f"{r['floor_wall']:.3f} | 1" if walls else "- | -"
        print(f"| zelko-cli {r['name']} | {r['instructions']:,} | "
              f"{r['instructions'] / r['floor_instructions']:.3f} | {per_byte} | {mib(r['heap'])} | {wall} |")
        print(f"| floor client, same answer | {r['floor_instructions']:,} | 1 | {floor_per_byte} | "
              f"{mib(r['floor_heap'])} | {floor_wall} |")
    if agent:
        floor = results[0]
        wall = f"{agent['wall']:.3f} | {agent['wall'] / floor['floor_wall']:.2f}" if walls else "- | -"
        print(f"| ssh-add -l (10 keys, ssh-agent) | {agent['instructions']:,} | "
              f"{agent['instructions'] / floor['floor_instructions']:.1f} | | {mib(agent['heap'])} | {wall} |")
    print()


def print_hostile(rows):
    print("| hostile answer | command | answer | peak heap | allowed |")
    print("|---|---|---|---|---|")
    for r in rows:
        print(f"| {r['shape']} | zelko-cli {r['command']} | {r['size']:,} bytes | {mib(r['heap'])} | "
              f"{mib(r['size'] + HEAP_ALLOWANCE)} |")
    print()


def check_targets(results, hostile, walls):
    by_name = {r["name"]: r for r in results}
    ratio = lambda name: by_name[name]["instructions"] / by_name[name]["floor_instructions"]
    per_byte = lambda name: by_name[name]["instructions"] / by_name[name]["size"]
    targets = [
        ("keys (10 keys): instructions at most 1.3 x the floor (shared C library)",
         ratio("keys (10 keys)") <= 1.3),
        ("keys (10 keys), standalone: instructions at most 1.5 x the static floor",
         ratio("keys (10 keys), standalone") <= 1.5),
    ]
    for label in ("1 MiB", "1 MiB, escapes"):
        targets += [(f"keys{flags} ({label}): at most 20 instructions per answer byte",
                     per_byte(f"keys{flags} ({label})") <= 20) for flags in ("", " --long", " --json")]
    targets.append(("peak heap at most the answer + 256 KiB, every listing above",
                    all(r["heap"] is None or r["heap"] <= (r["size"] or 0) + HEAP_ALLOWANCE
                        for r in results)))
    targets.append(("peak heap at most the answer + 256 KiB, every hostile answer",
                    all(r["heap"] <= r["size"] + HEAP_ALLOWANCE for r in hostile)))
    if walls:
        targets += [
            ("keys (10 keys): wall median within 1.2 x the floor",
             by_name["keys (10 keys)"]["wall"] <= 1.2 * by_name["keys (10 keys)"]["floor_wall"]),
            ("keys --json (1 MiB): wall median within 2 x the floor",
             by_name["keys --json (1 MiB)"]["wall"] <= 2 * by_name["keys --json (1 MiB)"]["floor_wall"]),
        ]
    for text, met in targets:
        print(f"{'met   ' if met else 'MISSED'} {text}")
    return all(met for _, met in targets)


if __name__ == "__main__":
    main()
