#!/usr/bin/env python3
"""Times tarnwick-dns switch runs on simulated machines against their floor.

For each machine size N (interfaces; the machine has N + 4 adapter-class
subkeys) and each repetition, a fresh copy of the machine runs, in order:
a vpn run that changes every interface, the same vpn run again (a no-op),
a status (which runs what a no-op vpn runs, writing nothing), and a reset.
Right after each tool run, tarnwick-replay runs the child commands that the
tool's run journaled, and makes its SetInterfaceDnsSettings calls, in the
same order, on a second copy of the machine that went through the same runs
before: the floor, the cost of the child processes and native calls alone.
The replay must journal the same commands and calls and leave the same
registry as the tool, or the benchmark fails.

All of it on four machines: with wmic and without it, where the tool lists
the adapters through the stand-in GetAdaptersAddresses in its own process,
each without SetInterfaceDnsSettings (as Windows before 10 2004), where the
tool sets the DNS lists with netsh, and with it, where it sets them in its
own process. Without wmic a run must start no process but netsh, and none
at all with SetInterfaceDnsSettings. Each repetition runs the four machines
one after the other, so that netsh and SetInterfaceDnsSettings are timed
under much the same load.

Called by scripts/bench, which builds the programs and passes their paths.
"""

import argparse
import collections
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
# Runs that change nothing: they start no netsh and call no
# SetInterfaceDnsSettings.
NO_CHANGE_RUNS = ("no-op vpn", "status")

Variant = collections.namedtuple("Variant", "title wmic dns_api")
NETSH_WITH_WMIC = Variant("With wmic", True, False)
NETSH_WITHOUT_WMIC = Variant("Without wmic (adapters listed through GetAdaptersAddresses)",
                             False, False)
NATIVE_WITH_WMIC = Variant("With wmic, with SetInterfaceDnsSettings", True, True)
NATIVE_WITHOUT_WMIC = Variant("Without wmic, with SetInterfaceDnsSettings", False, True)
VARIANTS = (NETSH_WITH_WMIC, NETSH_WITHOUT_WMIC, NATIVE_WITH_WMIC, NATIVE_WITHOUT_WMIC)
# Each machine with SetInterfaceDnsSettings against the same machine without.
COMPARISONS = ((NATIVE_WITHOUT_WMIC, NETSH_WITHOUT_WMIC), (NATIVE_WITH_WMIC, NETSH_WITH_WMIC))
# The size at which the page states the speed-up, or the largest below it.
STATED_SIZE = 64

LISTING_LINE = re.compile(r"\tDnsManager: Adapters listed by (\S+): \d+ in ([\d.]+) ms")
LISTS_SET_LINE = re.compile(r"\tDnsManager: DNS lists set: (\d+) natively in (\d+) ms,"
                            r" (\d+) netsh commands in (\d+) ms")
REPLACEMENT_LINE = re.compile(r"\tDnsManager: Replace DNS settings for .*")


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


def is_child_command(line):
    # "dnsapi" and "iphlpapi" lines record calls of libraries, not processes.
    return not line.startswith(("dnsapi\t", "iphlpapi\t"))


def is_native_call(line):
    return line.startswith("iphlpapi\tSetInterfaceDnsSettings\t")


def child_commands(journal_lines):
    return [line for line in journal_lines if is_child_command(line)]


def native_calls(journal_lines):
    return [line for line in journal_lines if is_native_call(line)]


def replayed_calls(journal_lines):
    """What tarnwick-replay repeats of a journal: the child commands and the
    SetInterfaceDnsSettings calls, in their order."""
    return [line for line in journal_lines if is_child_command(line) or is_native_call(line)]


def log_path(machine):
    return os.path.join(machine, "ProgramData", "Tarnwick", "tarnwick-dns.log")


def log_size(machine):
    path = log_path(machine)
    return os.path.getsize(path) if os.path.exists(path) else 0


def log_since(machine, offset):
    """The log's text that the last run appended after offset."""
    with open(log_path(machine), encoding="utf-8") as log:
        log.seek(offset)
        return log.read()


def check_logging_run(name, count, variant, journal, log):
    """Checks a logging run's adapter listing, its processes and the way it
    set the DNS lists; returns the listing's milliseconds."""
    listings = LISTING_LINE.findall(log)
    lists_set = LISTS_SET_LINE.findall(log)
    if not listings or len(lists_set) != 1:
        sys.exit(f"bench: {name} at N = {count} on the machine {variant.title!r} logged"
                 f" {len(listings)} adapter listings and {len(lists_set)} summaries of the"
                 " DNS lists set")
    lister, listing = listings[-1]
    commands = child_commands(journal)
    allowed = ["netsh"] if not variant.dns_api else []
    if variant.wmic:
        allowed.append("wmic")
    if (lister == "wmic") != variant.wmic or any(
            line.split("\t")[0] not in allowed for line in commands):
        sys.exit(f"bench: {name} at N = {count} on the machine {variant.title!r} listed with"
                 f" {lister}, processes: {commands}")
    natively, _, netsh_commands, _ = (int(field) for field in lists_set[0])
    calls = len(native_calls(journal))
    netsh_lines = sum(1 for line in commands if line.startswith("netsh\t"))
    # Each replacement says how the list was set; a skipped one sets none.
    way = ", via SetInterfaceDnsSettings" if variant.dns_api else ", via netsh"
    other_ways = [line for line in REPLACEMENT_LINE.findall(log)
                  if not line.endswith((", skipped", way))]
    other_calls = netsh_lines if variant.dns_api else calls
    if natively != calls or netsh_commands != netsh_lines or other_calls or other_ways:
        sys.exit(f"bench: {name} at N = {count} on the machine {variant.title!r} logged"
                 f" {natively} lists set natively and {netsh_commands} netsh commands, journaled"
                 f" {calls} SetInterfaceDnsSettings calls and {netsh_lines} netsh commands;"
                 f" replacements set another way: {other_ways}")
    return float(listing)


def same_tree(left, right):
    comparison = filecmp.dircmp(left, right)
    if comparison.left_only or comparison.right_only or comparison.funny_files:
        return False
    _, mismatch, errors = filecmp.cmpfiles(left, right, comparison.common_files, shallow=False)
    if mismatch or errors:
        return False
    return all(same_tree(os.path.join(left, sub), os.path.join(right, sub))
               for sub in comparison.common_dirs)


def make_template(programs, count, scratch, variant):
    template = os.path.join(scratch, f"template-{count}-{VARIANTS.index(variant)}")
    run_timed([programs.sim, "create", template, "--interfaces", str(count)]
              + (["--with-dns-api"] if variant.dns_api else []))
    if not variant.wmic:
        os.remove(os.path.join(template, "bin", "wmic"))
    return template


def measure_repetition(programs, count, repetition, scratch, template, variant, results):
    """Runs the runs once on fresh copies of the template, adding to results."""
    tool_machine = os.path.join(scratch, f"tool-{count}-{repetition}")
    floor_machine = os.path.join(scratch, f"floor-{count}-{repetition}")
    shutil.copytree(template, tool_machine, symlinks=True)
    shutil.copytree(template, floor_machine, symlinks=True)
    for name, arguments, exit_code in RUNS:
        result = results[name]
        log_offset = log_size(tool_machine)
        seconds, peak = run_timed([programs.sim, "run", tool_machine, "--", programs.tool]
                                  + arguments, exit_code)
        journal = take_journal(tool_machine)
        replayed = os.path.join(scratch, "replayed-journal")
        with open(replayed, "w", encoding="utf-8") as out:
            out.write("".join(line + "\n" for line in journal))
        floor_seconds, _ = run_timed([programs.sim, "run", floor_machine, "--",
                                      programs.replay, replayed])
        if take_journal(floor_machine) != replayed_calls(journal):
            sys.exit(f"bench: the replay of {name} at N = {count} on the machine"
                     f" {variant.title!r} journaled other calls")
        commands = child_commands(journal)
        if name in NO_CHANGE_RUNS and (native_calls(journal) or any(
                not line.startswith("wmic\t") for line in commands)):
            sys.exit(f"bench: {name} at N = {count} on the machine {variant.title!r} changed"
                     f" something: {replayed_calls(journal)}")
        if name == "status":
            if log_size(tool_machine) != log_offset or len(commands) != (
                    1 if variant.wmic else 0):
                sys.exit(f"bench: status at N = {count} on the machine {variant.title!r} wrote"
                         f" the log or ran {commands}")
        else:
            result["listing"].append(check_logging_run(name, count, variant, journal,
                                                       log_since(tool_machine, log_offset)))
        result["tool"].append(seconds)
        result["floor"].append(floor_seconds)
        result["peak"].append(peak)
        result["processes"].add(len(commands))
        result["calls"].add(len(native_calls(journal)))
    if not same_tree(os.path.join(tool_machine, "registry"),
                     os.path.join(floor_machine, "registry")):
        sys.exit(f"bench: tool and replay left different registries at N = {count} on the"
                 f" machine {variant.title!r}")
    shutil.rmtree(tool_machine)
    shutil.rmtree(floor_machine)


def measure_size(programs, count, repetitions, scratch):
    """Per variant, per run name: lists of tool seconds, floor seconds, peak
    KiB and listing milliseconds, and the sets of process counts and of
    SetInterfaceDnsSettings call counts."""
    templates = {variant: make_template(programs, count, scratch, variant)
                 for variant in VARIANTS}
    results = {variant: {name: {"tool": [], "floor": [], "peak": [], "listing": [],
                                "processes": set(), "calls": set()}
                         for name, _, _ in RUNS}
               for variant in VARIANTS}
    for repetition in range(repetitions):
        for variant in VARIANTS:
            measure_repetition(programs, count, repetition, scratch, templates[variant],
                               variant, results[variant])
    for template in templates.values():
        shutil.rmtree(template)
    return results


def counts_text(counts):
    return "/".join(str(count) for count in sorted(counts))


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
            "processes": counts_text(result["processes"]),
            "calls": counts_text(result["calls"]),
        }
    return row


TABLE_HEADER = [
    "| N | vpn: tool, floor (s) | tool / floor | no-op vpn: tool, floor (s) | tool / floor"
    " | status: tool, floor (s) | tool / floor"
    " | reset: tool, floor (s) | tool / floor | processes (vpn, no-op, status, reset)"
    " | SetInterfaceDnsSettings calls (vpn, no-op, status, reset)"
    " | adapter listing (ms) | peak memory (MiB) |",
    "|---|---|---|---|---|---|---|---|---|---|---|---|---|",
]


def table_row(row):
    cells = [str(row["n"])]
    for name, _, _ in RUNS:
        run = row[name]
        cells += [f"{run['tool']:.3f}, {run['floor']:.3f}", f"{run['ratio']:.2f}"]
    cells.append(", ".join(row[name]["processes"] for name, _, _ in RUNS))
    cells.append(", ".join(row[name]["calls"] for name, _, _ in RUNS))
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


COMPARISON_HEADER = [
    "| N | processes (vpn, reset) | SetInterfaceDnsSettings calls (vpn, reset)"
    " | vpn: SetInterfaceDnsSettings, netsh (s) | netsh / SetInterfaceDnsSettings"
    " | reset: SetInterfaceDnsSettings, netsh (s) | netsh / SetInterfaceDnsSettings |",
    "|---|---|---|---|---|---|---|",
]


def speed_up(native_row, netsh_row, name):
    return netsh_row[name]["tool"] / native_row[name]["tool"]


def comparison_row(native_row, netsh_row):
    cells = [str(native_row["n"]),
             ", ".join(native_row[name]["processes"] for name in ("vpn", "reset")),
             ", ".join(native_row[name]["calls"] for name in ("vpn", "reset"))]
    for name in ("vpn", "reset"):
        cells += [f"{native_row[name]['tool']:.3f}, {netsh_row[name]['tool']:.3f}",
                  f"{speed_up(native_row, netsh_row, name):.1f}"]
    return "| " + " | ".join(cells) + " |"


def comparison_table(rows, native, netsh):
    return "\n".join(COMPARISON_HEADER + [comparison_row(native_row, netsh_row) for
                                          native_row, netsh_row in zip(rows[native], rows[netsh])])


def stated_index(rows):
    """The row of STATED_SIZE, else of the largest size below it, else the
    smallest."""
    counts = [row["n"] for row in rows]
    below = [i for i, count in enumerate(counts) if count <= STATED_SIZE]
    return max(below, key=lambda i: counts[i]) if below else counts.index(min(counts))


def native_section(rows):
    at = stated_index(rows[NATIVE_WITHOUT_WMIC])
    native_row, netsh_row = rows[NATIVE_WITHOUT_WMIC][at], rows[NETSH_WITHOUT_WMIC][at]
    count = native_row["n"]
    vpn, reset = (speed_up(native_row, netsh_row, name) for name in ("vpn", "reset"))
    at = stated_index(rows[NATIVE_WITH_WMIC])
    wmic_count = rows[NATIVE_WITH_WMIC][at]["n"]
    wmic_vpn, wmic_reset = (speed_up(rows[NATIVE_WITH_WMIC][at], rows[NETSH_WITH_WMIC][at], name)
                            for name in ("vpn", "reset"))
    return f"""## SetInterfaceDnsSettings against netsh

Where iphlpapi.dll has `SetInterfaceDnsSettings` (Windows 10 2004 and
later), the tool sets each protocol's list of an interface with one call in
its own process, and reads it back from the registry, instead of one `netsh`
command per server. Without `wmic` a `vpn` run and a `reset` then start no
process at all, at every N (the benchmark fails if one starts any); with
`wmic`, only the adapter listing.

At N = {count}, without `wmic`, the `vpn` run takes {native_row['vpn']['tool']:.3f} s through
`SetInterfaceDnsSettings` against {netsh_row['vpn']['tool']:.3f} s through `netsh`: it is
**{vpn:.1f} times as fast**, the `reset` {reset:.1f} times. With `wmic`, at N = {wmic_count},
the `vpn` run is {wmic_vpn:.1f} times as fast, the `reset` {wmic_reset:.1f} times.

Both machines of a row were measured in the same repetitions, one after
the other. On the simulated machine the stand-in writes the simulated
registry, so these times say how much less the tool does, not what the call
costs on Windows: there, `check-on-windows.cmd` (item 13) compares the
milliseconds per list set natively and per `netsh` command. The floor of
these machines is the same replay, which makes the run's
`SetInterfaceDnsSettings` calls with the same arguments: tool / floor in
their tables above weighs what the tool does besides those calls and its
child processes (listing the adapters without `wmic`, reading the lists
back, its record and its log) against a replay that only starts and makes
them.

Without `wmic`:

{comparison_table(rows, NATIVE_WITHOUT_WMIC, NETSH_WITHOUT_WMIC)}

With `wmic`:

{comparison_table(rows, NATIVE_WITH_WMIC, NETSH_WITH_WMIC)}
"""


def plot(rows, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib import ticker

    figure, (left, right) = plt.subplots(1, 2, figsize=(12, 4.8), sharey=True)
    colours = (("vpn", "tab:blue"), ("reset", "tab:orange"))
    with_wmic = rows[NETSH_WITH_WMIC]
    for name, colour in colours:
        for kind, style in (("tool", "-o"), ("floor", "--s")):
            left.plot([row["n"] for row in with_wmic],
                      [1000 * row[name][kind] / row["n"] for row in with_wmic], style,
                      color=colour, label=f"{name}: {kind}")
        for variant, way, style in ((NETSH_WITHOUT_WMIC, "netsh", "-o"),
                                    (NATIVE_WITHOUT_WMIC, "SetInterfaceDnsSettings", ":^")):
            right.plot([row["n"] for row in rows[variant]],
                       [1000 * row[name]["tool"] / row["n"] for row in rows[variant]], style,
                       color=colour, label=f"{name}: {way}")
    left.set_title("With wmic, netsh: tool against the floor\nof its child processes")
    right.set_title("Without wmic: netsh against SetInterfaceDnsSettings\n(tool runs)")
    counts = [row["n"] for row in with_wmic]
    for axes in (left, right):
        axes.set_xscale("log", base=2)
        axes.set_yscale("log")
        axes.set_xticks(counts)
        axes.set_xticklabels([str(count) for count in counts])
        axes.set_xlabel("interfaces N (adapter-class subkeys N + 4)")
        # Milliseconds written out, at 1, 2 and 5 of each power of ten.
        axes.yaxis.set_minor_locator(ticker.LogLocator(base=10, subs=(2, 5)))
        for formatter in (axes.yaxis.set_major_formatter, axes.yaxis.set_minor_formatter):
            formatter(ticker.FuncFormatter(lambda value, _: f"{value:g}"))
        axes.grid(True, which="both", alpha=0.3)
        axes.legend(loc="lower left", fontsize="small")
    left.set_ylabel("time per interface (ms, median)")
    figure.tight_layout()
    figure.savefig(path, dpi=100)


def document(rows, repetitions, load, image_name):
    tables = "\n\n".join(f"{variant.title}:\n\n" + "\n".join(
        TABLE_HEADER + [table_row(row) for row in rows[variant]]) for variant in VARIANTS)
    return f"""# Benchmark of switch runs

Written by `scripts/bench` on {time.strftime('%Y-%m-%d')}. Each size N is a fresh
simulated machine with N interfaces (static IPv4 servers on every other one)
and N + 4 adapter-class subkeys. On a fresh copy of it, in order: a `vpn` run
with the VPN's default servers 172.16.0.1 and fd00:dead:beef:cafe::1, which
changes every interface; the same `vpn` run again, which changes nothing;
`status --json`, which reads what that no-op `vpn` reads and writes nothing
(the benchmark fails if it logs or runs more than the adapter listing); a
`reset`. The floor of each run is `tarnwick-replay`: the same child commands,
read from the run's journal, run in the same order and each awaited, and the
same `SetInterfaceDnsSettings` calls, on a second copy of the machine in the
same state, right after the tool's run. The replay must journal the same
commands and calls and leave the same registry as the tool. Times are
medians of {repetitions} repetitions; processes and calls are counted from the
journal; the adapter listing's time is the one the tool logs, the median
of the three runs that log; peak memory is the largest resident set of the tool and of
the child processes it awaited, as wait4 reports it.

All of it on four machines: with `wmic` and without it (as on a new
installation of Windows 11), where the tool lists the adapters through the
stand-in `GetAdaptersAddresses` in its own process; and each of these
without `SetInterfaceDnsSettings` in iphlpapi.dll (as Windows before 10
2004), where the tool sets the DNS lists with `netsh`, and with it, where it
sets them in its own process. Without `wmic` a run starts no process besides
its `netsh` commands, and none at all when nothing changes or when it has
`SetInterfaceDnsSettings`; every run must log and journal the way its
machine sets the lists (the benchmark fails otherwise). The stand-ins read
and write the simulated registry, so the listing's milliseconds on a real
Windows come from `check-on-windows.cmd` (item 2). Each repetition runs the
four machines one after the other, under much the same load.

Measured on a machine with {os.cpu_count()} cores, load average {load[0]:.1f} at the start
and {load[1]:.1f} at the end; a load above the core count means that other work
ran beside the benchmark. Absolute times depend on the machine and on what else it
runs; tool / floor, taken within the same repetition, is the figure to
compare.

{tables}

Time per interface, with `wmic`:

{per_interface_table(rows[NETSH_WITH_WMIC])}

{native_section(rows)}
![time per interface against N]({image_name})
"""


def kept_sections(path, image_name):
    """What the page holds after the plot: sections written by hand, which
    a new measurement keeps."""
    if not os.path.exists(path):
        return ""
    with open(path, encoding="utf-8") as page:
        text = page.read()
    plot_line = re.search(rf"^!\[[^\]]*\]\({re.escape(image_name)}\)\n", text, re.MULTILINE)
    return text[plot_line.end():] if plot_line else ""


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
    rows = {variant: [] for variant in VARIANTS}
    load_at_start = os.getloadavg()[0]
    # The rows of a size are printed as soon as it is done.
    print("\n".join(TABLE_HEADER), flush=True)
    with tempfile.TemporaryDirectory(prefix="tarnwick-bench-") as scratch:
        for count in arguments.sizes:
            results = measure_size(arguments, count, arguments.repetitions, scratch)
            for variant in VARIANTS:
                rows[variant].append(summarize(count, results[variant]))
                print(f"{table_row(rows[variant][-1])} {variant.title}", flush=True)
    for native, netsh in COMPARISONS:
        print(f"\n{native.title}, against netsh:\n{comparison_table(rows, native, netsh)}")
    os.makedirs(arguments.out, exist_ok=True)
    plot(rows, os.path.join(arguments.out, "benchmarks.png"))
    page = os.path.join(arguments.out, "benchmarks.md")
    kept = kept_sections(page, "benchmarks.png")
    load = (load_at_start, os.getloadavg()[0])
    with open(page, "w", encoding="utf-8") as out:
        out.write(document(rows, arguments.repetitions, load, "benchmarks.png"))
        out.write(kept)


if __name__ == "__main__":
    main()
