#!/usr/bin/env python3
"""Measures what one zelko-cli run costs, next to a minimal C client (the
floor) on the same answers: instructions counted by callgrind, peak heap by
DHAT, and wall-time medians over many runs. Prints a table and checks the
targets.

    bench/run.py [BUILD_DIR] [--runs N]
"""
import argparse, os, pathlib, re, shutil, signal, statistics, subprocess, sys, tempfile, time

BIG_KEYS = 10288  # about 1 MiB of answer, the most a client accepts


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", nargs="?", default="build")
    parser.add_argument("--runs", type=int, default=300, help="wall-time runs per command")
    args = parser.parse_args()
    build = pathlib.Path(args.build).resolve()
    cli = build / "zelko-cli/zelko-cli"
    # DHAT sees the heap of a program on the shared C library only; this twin
    # runs the same code.
    heap_cli = build / "zelko-cli/zelko-cli-dynamic"
    if not heap_cli.exists():
        heap_cli = cli
    floor = build / "bench/floor_client"
    daemon = build / "bench/bench_daemon"
    for program in (cli, floor, daemon):
        if not program.exists():
            sys.exit(f"bench: {program} is missing; build first")

    with tempfile.TemporaryDirectory(prefix="zelko-bench.") as scratch:
        scratch = pathlib.Path(scratch)
        small, big = scratch / "small", scratch / "big"
        daemons = [start_daemon(daemon, small, 10), start_daemon(daemon, big, BIG_KEYS)]
        agent = start_agent(scratch)
        try:
            big_size = answer_size(floor, big)
            rows = [
                ("keys (10 keys)", small, [cli, "keys"], [floor, "keys"]),
                ("status", small, [cli, "status"], [floor, "status"]),
                ("keys (1 MiB)", big, [cli, "keys"], [floor, "keys"]),
                ("keys --long (1 MiB)", big, [cli, "keys", "--long"], [floor, "keys"]),
                ("keys --json (1 MiB)", big, [cli, "keys", "--json"], [floor, "keys"]),
            ]
            results = [measure(name, runtime, command, baseline, args.runs, cli, heap_cli)
                       for name, runtime, command, baseline in rows]
            agent_result = measure_agent(agent, args.runs) if agent else None
        finally:
            for process in daemons + ([agent["process"]] if agent else []):
                process.terminate()
                process.wait()

    print_table(results, agent_result, big_size)
    sys.exit(0 if check_targets(results, big_size) else 1)


def start_daemon(daemon, runtime, keys):
    runtime.mkdir()
    process = subprocess.Popen([daemon, runtime, str(keys)], stderr=subprocess.DEVNULL)
    wait_for(runtime / "zelko/control.sock")
    return process


def start_agent(scratch):
    """An ssh-agent holding 10 keys, for comparison, when OpenSSH is there."""
    if not (shutil.which("ssh-agent") and shutil.which("ssh-add") and shutil.which("ssh-keygen")):
        return None
    socket = scratch / "agent.sock"
    process = subprocess.Popen(["ssh-agent", "-D", "-a", socket], stdout=subprocess.DEVNULL)
    wait_for(socket)
    env = dict(os.environ, SSH_AUTH_SOCK=str(socket))
    for i in range(10):
        key = scratch / f"id{i}"
        subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", key], check=True)
        subprocess.run(["ssh-add", "-q", key], env=env, check=True, stderr=subprocess.DEVNULL)
    return {"process": process, "env": env}


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


def peak_heap(command, env):
    out = subprocess.run(["valgrind", "--tool=dhat", "--dhat-out-file=/dev/null", *command],
                         env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True).stderr
    return int(re.search(r"At t-gmax:\s+([\d,]+) bytes", out).group(1).replace(",", ""))


def wall_medians(commands, env, runs):
    """Median wall time of each command, the commands interleaved run by run
    so that drift in machine load touches them alike."""
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


def measure(name, runtime, command, baseline, runs, cli, heap_cli):
    env = environment(runtime)
    heap_command = [heap_cli if part == cli else part for part in command]
    wall, floor_wall = wall_medians([command, baseline], env, runs)
    return {
        "name": name,
        "instructions": instructions(command, env),
        "floor_instructions": instructions(baseline, env),
        "heap": peak_heap(heap_command, env),
        "floor_heap": peak_heap(baseline, env),
        "wall": wall,
        "floor_wall": floor_wall,
    }


def measure_agent(agent, runs):
    command = [shutil.which("ssh-add"), "-l"]
    env = {"PATH": os.environ.get("PATH", ""), **{"SSH_AUTH_SOCK": agent["env"]["SSH_AUTH_SOCK"]}}
    return {"instructions": instructions(command, env), "heap": peak_heap(command, env),
            "wall": wall_medians([command], env, runs)[0]}


def print_table(results, agent, big_size):
    print(f"answer of {BIG_KEYS} keys: {big_size} bytes; wall times are medians")
    header = ("command", "instructions", "x floor", "instr/byte", "peak heap", "wall ms", "x floor")
    print("| " + " | ".join(header) + " |")
    print("|" + "---|" * len(header))
    for r in results:
        per_byte = f"{r['instructions'] / big_size:.2f}" if "1 MiB" in r["name"] else ""
        print(f"| zelko-cli {r['name']} | {r['instructions']:,} | "
              f"{r['instructions'] / r['floor_instructions']:.3f} | {per_byte} | "
              f"{r['heap'] / 1048576:.2f} MiB | {r['wall']:.3f} | {r['wall'] / r['floor_wall']:.2f} |")
        print(f"| floor client, same answer | {r['floor_instructions']:,} | 1 | "
              f"{r['floor_instructions'] / big_size:.2f} |" if per_byte else
              f"| floor client, same answer | {r['floor_instructions']:,} | 1 | |", end="")
        print(f" {r['floor_heap'] / 1048576:.2f} MiB | {r['floor_wall']:.3f} | 1 |")
    if agent:
        floor = results[0]
        print(f"| ssh-add -l (10 keys, ssh-agent) | {agent['instructions']:,} | "
              f"{agent['instructions'] / floor['floor_instructions']:.1f} | | "
              f"{agent['heap'] / 1048576:.2f} MiB | {agent['wall']:.3f} | "
              f"{agent['wall'] / floor['floor_wall']:.2f} |")


def check_targets(results, big_size):
    by_name = {r["name"]: r for r in results}
    targets = [
        ("keys (10 keys): instructions at most 1.3 x floor",
         by_name["keys (10 keys)"]["instructions"] <= 1.3 * by_name["keys (10 keys)"]["floor_instructions"]),
        ("keys (1 MiB): at most 8 instructions per answer byte",
         by_name["keys (1 MiB)"]["instructions"] <= 8 * big_size),
        ("keys --long (1 MiB): at most 8 instructions per answer byte",
         by_name["keys --long (1 MiB)"]["instructions"] <= 8 * big_size),
        ("keys --json (1 MiB): at most 12 instructions per answer byte",
         by_name["keys --json (1 MiB)"]["instructions"] <= 12 * big_size),
        ("peak heap at most 4 MiB for the 1 MiB answer, every form",
         all(r["heap"] <= 4 * 1048576 for r in results)),
        ("keys (10 keys): wall median within 1.2 x floor",
         by_name["keys (10 keys)"]["wall"] <= 1.2 * by_name["keys (10 keys)"]["floor_wall"]),
        ("keys --json (1 MiB): wall median within 2 x floor",
         by_name["keys --json (1 MiB)"]["wall"] <= 2 * by_name["keys --json (1 MiB)"]["floor_wall"]),
    ]
    print()
    for text, met in targets:
        print(f"{'met   ' if met else 'MISSED'} {text}")
    return all(met for _, met in targets)


if __name__ == "__main__":
    main()
