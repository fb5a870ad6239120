#!/usr/bin/env python3
"""Times tarnwick-dns switch runs on simulated machines against their floor.

For each machine size N (interfaces; the machine has N + 4 adapter-class
subkeys) and each repetition, a fresh copy of the machine runs, in order:
a vpn run that changes every interface, the same vpn run again (a no-op),
a status (which runs what a no-op vpn runs, writing nothing), and a reset. Right after each tool run, tarnwick-replay runs the child
commands that the tool's run journaled, in the same order, on a second copy
of the machine that went through the same runs before: the floor, the cost
of the child processes alone. The replay must journal the same commands and
leave the same registry as the tool, or the benchmark fails.

All of it twice: on machines with wmic, and on machines without it, where
the tool lists the adapters through the stand-in GetAdaptersAddresses in
its own process; there a run must start no process but netsh.

Called by scripts/bench, which builds the programs and passes their paths.
"""

import argparse
import filecmp
import os
import re
import shutil
import statistics
import sys
import tempfile
import time

VPN_ENTRY = "{00000000-0000-4000-8000-000000000001}@172.16.0.1,fd00:dead:beef:cafe::1"
# Name, arguments, exit code. status, asked while the VPN's servers are in
# force, reads what a no-op vpn reads and must leave the log untouched.
RUNS = (
    ("vpn", ["vpn", VPN_ENTRY], 0),
    ("no-op vpn", ["vpn", VPN_ENTRY], 0),
    ("status", ["status", "--json"], 10),
    ("reset", ["reset"], 0),
)
LOGGING_RUNS = ("vpn", "no-op vpn", "reset")
# Machine variants: a title and whether wmic is there.
VARIANTS = (
    ("With wmic", True),
    ("Without wmic (adapters listed through GetAdaptersAddresses)", False),
)
LISTING_LINE = re.compile(r"\tDnsManager: Adapters listed by (\S+): \d+ in ([\d.]+) ms")


def run_timed(argv, exit_code=0):
    """Runs a program to its end, which must exit with exit_code; returns
    (seconds, peak resident KiB).

    The peak is what wait4 reports: the largest of the process and of the
    children it waited for."""
    start = time.perf_counter()
    with open(os.devnull, "wb") as devnull:
        pid = os.posix_spawn(argv[0], argv, os.environ,
                             file_actions=[(os.POSIX_SPAWN_DUP2, devnull.fileno(), 1)])
        _, status, usage = os.wait4(pid, 0)
    seconds = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != exit_code:
        sys.exit(f"bench: {' '.join(argv)} failed with status {status}")
    return seconds, usage.ru_maxrss


def take_journal(machine):
    """The machine's journal lines since the last call; empties it."""
    path = os.path.join(machine, "journal")
    with open(path, encoding="utf-8") as journal:
        lines = journal.read().splitlines()
    open(path, "w").close()
    return lines


def child_commands(journal_lines):
    # "dnsapi" and "iphlpapi" lines record calls of libraries, not processes.
    return [line for line in journal_lines
            if not line.startswith(("dnsapi\t", "iphlpapi\t"))]


def log_path(machine):
    return os.path.join(machine, "ProgramData", "Tarnwick", "tarnwick-dns.log")


def listing_milliseconds(machine):
    """The lister and milliseconds of the last run's adapter listing."""
    with open(log_path(machine), encoding="utf-8") as log:
        listings = LISTING_LINE.findall(log.read())
    if not listings:
        sys.exit("bench: a run listed no adapter")
    lister, milliseconds = listings[-1]
    return lister, float(milliseconds)


def same_tree(left, right):
    comparison = filecmp.dircmp(left, right)
    if comparison.left_only or comparison.right_only or comparison.funny_files:
        return False
    _, mismatch, errors = filecmp.cmpfiles(left, right, comparison.common_files, shallow=False)
    if mismatch or errors:
        return False
    return all(same_tree(os.path.join(left, sub), os.path.join(right, sub))
               for sub in comparison.common_dirs)


def measure_size(programs, count, repetitions, scratch, with_wmic):
    """Per run name: lists of tool seconds, floor seconds, peak KiB, listing
    milliseconds, and the set of process counts."""
    template = os.path.join(scratch, f"template-{count}")
    run_timed([programs.sim, "create", template, "--interfaces", str(count)])
    if not with_wmic:
        os.remove(os.path.join(template, "bin", "wmic"))
    results = {name: {"tool": [], "floor": [], "peak": [], "listing": [], "processes": set()}
               for name, _, _ in RUNS}
    for repetition in range(repetitions):
        tool_machine = os.path.join(scratch, f"tool-{count}-{repetition}")
        floor_machine = os.path.join(scratch, f"floor-{count}-{repetition}")
        shutil.copytree(template, tool_machine, symlinks=True)
        shutil.copytree(template, floor_machine, symlinks=True)
        for name, arguments, exit_code in RUNS:
            result = results[name]
            log_size = os.path.getsize(log_path(tool_machine)) if name == "status" else None
            seconds, peak = run_timed([programs.sim, "run", tool_machine, "--", programs.tool]
                                      + arguments, exit_code)
            journal = take_journal(tool_machine)
            replayed = os.path.join(scratch, "replayed-journal")
            with open(replayed, "w", encoding="utf-8") as out:
                out.write("".join(line + "\n" for line in journal))
            floor_seconds, _ = run_timed([programs.sim, "run", floor_machine, "--",
                                          programs.replay, replayed])
            if take_journal(floor_machine) != child_commands(journal):
                sys.exit(f"bench: the replay of {name} at N = {count} journaled other calls")
            if log_size is not None:
                if os.path.getsize(log_path(tool_machine)) != log_size or len(
                        child_commands(journal)) != (1 if with_wmic else 0):
                    sys.exit(f"bench: status at N = {count} wrote the log or ran"
                             f" {child_commands(journal)}")
            else:
                lister, listing = listing_milliseconds(tool_machine)
                if (lister == "wmic") != with_wmic or (not with_wmic and any(
                        not line.startswith("netsh\t") for line in child_commands(journal))):
                    sys.exit(f"bench: {name} at N = {count} listed with {lister}, processes:"
                             f" {child_commands(journal)}")
                result["listing"].append(listing)
            result["tool"].append(seconds)
            result["floor"].append(floor_seconds)
            result["peak"].append(peak)
            result["processes"].add(len(child_commands(journal)))
        if not same_tree(os.path.join(tool_machine, "registry"),
                         os.path.join(floor_machine, "registry")):
            sys.exit(f"bench: tool and replay left different registries at N = {count}")
        shutil.rmtree(tool_machine)
        shutil.rmtree(floor_machine)
    shutil.rmtree(template)
    return results


def summarize(count, results):
    row = {"n": count,
           "listing": statistics.median(ms for name in LOGGING_RUNS
                                        for ms in results[name]["listing"])}
    for name, _, _ in RUNS:
        result = results[name]
        tool = statistics.median(result["tool"])
        floor = statistics.median(result["floor"])
        row[name] = {
            "tool": tool,
            "floor": floor,
            "ratio": tool / floor,
            "peak": max(result["peak"]),
            "processes": "/".join(str(p) for p in sorted(result["processes"])),
        }
    return row


TABLE_HEADER = [
    "| N | vpn: tool, floor (s) | tool / floor | no-op vpn: tool, floor (s) | tool / floor"
    " | status: tool, floor (s) | tool / floor"
    " | reset: tool, floor (s) | tool / floor | processes (vpn, no-op, status, reset)"
    " | adapter listing (ms) | peak memory (MiB) |",
    "|---|---|---|---|---|---|---|---|---|---|---|---|",
]


def table_row(row):
    cells = [str(row["n"])]
    for name, _, _ in RUNS:
        run = row[name]
        cells += [f"{run['tool']:.3f}, {run['floor']:.3f}", f"{run['ratio']:.2f}"]
    cells.append(", ".join(row[name]["processes"] for name, _, _ in RUNS))
    cells.append(f"{row['listing']:.1f}")
    cells.append(f"{max(row[name]['peak'] for name, _, _ in RUNS) / 1024:.1f}")
    return "| " + " | ".join(cells) + " |"


def per_interface_table(rows):
    lines = ["| N | vpn: tool, floor (ms per interface) | reset: tool, floor (ms per interface) |",
             "|---|---|---|"]
    for row in rows:
        cells = [str(row["n"])]
        for name in ("vpn", "reset"):
            run = row[name]
            cells.append(f"{1000 * run['tool'] / row['n']:.1f}, "
                         f"{1000 * run['floor'] / row['n']:.1f}")
        lines.append("| " + " | ".join(cells) + " |")
    return "\n".join(lines)


def plot(rows, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    counts = [row["n"] for row in rows]
    figure, axes = plt.subplots(figsize=(7, 4.5))
    for name, colour in (("vpn", "tab:blue"), ("reset", "tab:orange")):
        for kind, style in (("tool", "-o"), ("floor", "--s")):
            axes.plot(counts, [1000 * row[name][kind] / row["n"] for row in rows], style,
                      color=colour, label=f"{name}: {kind}")
    axes.set_xscale("log", base=2)
    axes.set_yscale("log")
    axes.set_xticks(counts)
    axes.set_xticklabels([str(count) for count in counts])
    axes.set_xlabel("interfaces N (adapter-class subkeys N + 4)")
    axes.set_ylabel("time per interface (ms, median)")
    axes.set_title("tarnwick-dns switch runs against the floor of their child processes")
    axes.grid(True, which="both", alpha=0.3)
    axes.legend()
    figure.tight_layout()
    figure.savefig(path, dpi=100)


def document(rows, repetitions, load, tables, image_name):
    return f"""# Benchmark of switch runs

Written by `scripts/bench` on {time.strftime('%Y-%m-%d')}. Each size N is a fresh
simulated machine with N interfaces (static IPv4 servers on every other one)
and N + 4 adapter-class subkeys. On a fresh copy of it, in order: a `vpn` run
with the VPN's default servers 172.16.0.1 and fd00:dead:beef:cafe::1, which
changes every interface; the same `vpn` run again, which changes nothing;
`status --json`, which reads what that no-op `vpn` reads and writes nothing
(the benchmark fails if it logs or runs more than the adapter listing); a
`reset`. The floor of each run is `tarnwick-replay`: the same child commands,
read from the run's journal, run in the same order and each awaited, on a
second copy of the machine in the same state, right after the tool's run.
The replay must journal the same calls and leave the same registry as the
tool. Times are medians of {repetitions} repetitions; processes are counted from
the journal; the adapter listing's time is the one the tool logs, the median
of the three runs that log; peak memory is the largest resident set of the tool and of
the child processes it awaited, as wait4 reports it.

All of it on machines with `wmic` and on machines without it (as on a new
installation of Windows 11), where the tool lists the adapters through the
stand-in `GetAdaptersAddresses` in its own process: there a run starts no
process besides its `netsh` commands, none at all when nothing changes (the
benchmark fails otherwise). The stand-in reads the simulated registry, so
the listing's milliseconds on a real Windows come from
`check-on-windows.cmd` (item 4).

Measured on a machine with {os.cpu_count()} cores, load average {load[0]:.1f} at the start
and {load[1]:.1f} at the end; a load above the core count means that other work
ran beside the benchmark. Absolute times depend on the machine and on what else it
runs; tool / floor, taken within the same repetition, is the figure to
compare.

{tables}

Time per interface, with `wmic`:

{per_interface_table(rows)}

![time per interface against N]({image_name})
"""


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sim", required=True)
    parser.add_argument("--tool", required=True)
    parser.add_argument("--replay", required=True)
    parser.add_argument("--sizes", type=int, nargs="+", required=True)
    parser.add_argument("--repetitions", type=int, required=True)
    parser.add_argument("--out", required=True, help="folder for benchmarks.md and .png")
    return parser.parse_args()


def main():
    arguments = parse_arguments()
    rows = {title: [] for title, _ in VARIANTS}
    load_at_start = os.getloadavg()[0]
    # The rows are printed one by one, as each is done; both variants of a
    # size are measured one after the other, under much the same load.
    print("\n".join(TABLE_HEADER), flush=True)
    with tempfile.TemporaryDirectory(prefix="tarnwick-bench-") as scratch:
        for count in arguments.sizes:
            for title, with_wmic in VARIANTS:
                rows[title].append(summarize(count, measure_size(
                    arguments, count, arguments.repetitions, scratch, with_wmic)))
                print(f"{table_row(rows[title][-1])} {title}", flush=True)
    os.makedirs(arguments.out, exist_ok=True)
    with_wmic_rows = rows[VARIANTS[0][0]]
    plot(with_wmic_rows, os.path.join(arguments.out, "benchmarks.png"))
    tables = "\n\n".join(f"{title}:\n\n" + "\n".join(TABLE_HEADER + [table_row(row) for row in
                                                                      rows[title]])
                         for title, _ in VARIANTS)
    with open(os.path.join(arguments.out, "benchmarks.md"), "w", encoding="utf-8") as out:
        load = (load_at_start, os.getloadavg()[0])
        out.write(document(with_wmic_rows, arguments.repetitions, load, tables,
                           "benchmarks.png"))


if __name__ == "__main__":
    main()
