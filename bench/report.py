"""The figures of bench/run: statistics over the timed runs, the budgets and the report.

Plain functions over plain data (no processes, no files), so that they are tested on their own
(bench/test_report.py). The report is Markdown that goes into the README as it is: a line on the
machine, a table of what does not depend on the payload, one table with a column per payload size,
and the verdict.
"""

KIB = 1024
MIB = 1024 * 1024
GIB = 1024 * MIB

# The budgets the installer is held to (see the README's "Performance" section).
OVERHEAD_BUDGET = 72 * KIB
# Held with Wine's default Windows, on the x64 twin: beyond the durable copy a fresh install costs
# little more than what its check does not hide behind the write; a replacement is held to the
# floor that replaces a copy too. Up to the default size, where starting a process weighs most,
# each budget is looser (the first figure), above it tighter (the second).
DURABLE_FRESH_BUDGETS = (1.25, 1.15)
DURABLE_REPLACE_BUDGETS = (1.3, 1.2)
LOOSER_UP_TO_MIB = 4
# With Windows 10 reported, start-up asks the command interpreter for "ver": the cost of naming
# Windows (the Windows 10 run less the default run) is held to so many starts of a do-nothing
# program.
NAMING_BUDGET = 4.0
# Up to the default size, where starting a process is most of a run, half of NSIS's time; above
# it no slower than NSIS plus the floor's flush, the durability NSIS does not give.
NSIS_RATIO_BUDGET = 0.5
NSIS_HALF_UP_TO_MIB = 4
NSIS_FLUSH_BUDGET = 1.0
# Memory must not grow with the payload, which is written from the mapped image and never copied.
REFERENCE_MIB = 4
PRIVATE_MARGIN = 2 * MIB  # at the reference size: over the payload
PRIVATE_GROWTH = 1 * MIB  # at the other sizes: over the reference size's figure
INTEGRITY_BUDGET_MS = 20.0
INTEGRITY_MS_UP_TO_MIB = 4
INTEGRITY_RATE_BUDGET = GIB  # per second, where the verifier has the SHA instructions
INTEGRITY_RATE_FROM_MIB = 512

# Fewer rounds at big sizes, so that `--sizes 4,64,512` stays within minutes: each timed program
# writes at most about this much per size, in at least the given number of rounds.
ROUND_VOLUME_MIB = 4096
MIN_SIZE_ROUNDS = 5
PORTABLE_VOLUME_MIB = 512
MIN_PORTABLE_ROUNDS = 3


def rounds_for(size_mib, rounds):
    return max(MIN_SIZE_ROUNDS, min(rounds, ROUND_VOLUME_MIB // size_mib))


def portable_rounds_for(size_mib, rounds):
    return max(MIN_PORTABLE_ROUNDS, min(rounds, PORTABLE_VOLUME_MIB // size_mib))


# --- statistics ----------------------------------------------------------------------------


def median(values):
    ordered = sorted(values)
    if not ordered:
        raise ValueError("median of no values")
    middle = len(ordered) // 2
    if len(ordered) % 2:
        return ordered[middle]
    return (ordered[middle - 1] + ordered[middle]) / 2


def parse_timings(text):
    """Lines "LABEL <tab> ROUND <tab> MILLISECONDS" into {label: {round: ms}}; "name=value" lines
    are facts (parse_facts) and left out."""
    runs = {}
    for number, line in enumerate(text.splitlines(), 1):
        if not line.strip() or ("=" in line and "\t" not in line):
            continue
        fields = line.split("\t")
        if len(fields) != 3:
            raise ValueError(f"timing line {number}: expected three fields: {line!r}")
        label, round_text, ms_text = fields
        runs.setdefault(label, {})[int(round_text)] = float(ms_text)
    return runs


def parse_facts(text):
    """The "name=value" lines into {name: value}."""
    values = {}
    for line in text.splitlines():
        name, sep, value = line.strip().partition("=")
        if sep and "\t" not in line:
            values[name] = value
    return values


def parse_memory(text):
    """The memory probe's "name=BYTES" lines into {name: int}."""
    return {name: int(value) for name, value in parse_facts(text).items()}


def spread(times):
    """(min, median) of one program's times, given as {round: ms} or a list."""
    values = list(times.values()) if isinstance(times, dict) else list(times)
    return min(values), median(values)


def mid(times):
    return spread(times)[1]


def per_round(runs, terms):
    """{round: the sum of sign × ms} of `terms` ({label: sign}), over the rounds in which each of
    those programs ran."""
    rounds = set.intersection(*(set(runs[label]) for label in terms))
    return {r: sum(sign * runs[label][r] for label, sign in terms.items()) for r in rounds}


def as_terms(figure):
    return {figure: 1} if isinstance(figure, str) else figure


def pairwise_ratio(runs, numerator, denominator):
    """Median over the rounds of numerator/denominator, each a program's label or {label: sign}:
    the runs of one round met the same moment of the machine, so its load cancels out of each
    ratio."""
    top, bottom = per_round(runs, as_terms(numerator)), per_round(runs, as_terms(denominator))
    ratios = [top[r] / bottom[r] for r in sorted(top.keys() & bottom.keys()) if bottom[r] > 0]
    if not ratios:
        raise ValueError(f"no round has both {numerator} and {denominator}")
    return median(ratios)


def pairwise_difference(runs, minuend, subtrahend):
    """Median over the rounds of the difference of two programs' times in that round."""
    differences = per_round(runs, {minuend: 1, subtrahend: -1})
    if not differences:
        raise ValueError(f"no round has both {minuend} and {subtrahend}")
    return median(differences.values())


def peak_private(samples):
    """The highest private bytes over the probe's reports: the counter's own peak, or the
    sampler's maximum where the system fills the peak with a current value (Wine)."""
    return max(max(s["peak_private"], s.get("sampled_private", 0)) for s in samples)


def rate(size_bytes, ms):
    """Bytes per second."""
    return size_bytes / (ms / 1000.0)


# --- the text ------------------------------------------------------------------------------


def kib(n):
    return f"{n / KIB:,.1f} KiB"


def mib(n):
    return f"{n / MIB:,.2f} MiB"


def ms_pair(times, size_bytes=None):
    """Min / median, and the payload's rate at the median when a size is given."""
    low, middle = spread(times)
    text = f"{low:.1f} / {middle:.1f} ms"
    return text if size_bytes is None else f"{text} ({rate(size_bytes, middle) / MIB:,.0f} MiB/s)"


def render(header, rows):
    """A Markdown table with aligned columns."""
    widths = [max(len(r[i]) for r in rows + [header]) for i in range(len(header))]
    lines = ["| " + " | ".join(c.ljust(w) for c, w in zip(header, widths)) + " |",
             "|" + "|".join("-" * (w + 2) for w in widths) + "|"]
    lines += ["| " + " | ".join(c.ljust(w) for c, w in zip(r, widths)) + " |" for r in rows]
    return "\n".join(lines)


class SizeTable:
    """Rows with one cell per payload size. A cell function returns None where the figure does not
    apply at that size, a text, or (text, ok) where a budget holds or fails there."""

    def __init__(self, sizes):
        self.sizes = sorted(sizes.items())
        self.rows, self.failed = [], []

    def row(self, figure, cell, budget=""):
        cells = []
        for size_mib, s in self.sizes:
            value = cell(size_mib, s)
            if isinstance(value, tuple):
                text, ok = value
                value = f"{text} ({'pass' if ok else '**FAIL**'})"
                if not ok:
                    self.failed.append(f"{figure.strip()} at {size_mib} MiB")
            cells.append("–" if value is None else value)
        self.rows.append((figure, *cells, budget))

    def header(self):
        return ("figure", *(f"{size_mib} MiB" for size_mib, _ in self.sizes), "budget")


def reference_size(sizes):
    """The size whose peak private bytes the others are held to: the default one, or the smallest."""
    return REFERENCE_MIB if REFERENCE_MIB in sizes else min(sizes)


def add_size_and_x86_rows(t):
    t.row("rounds (programs taking turns within each round)", lambda m, s: str(s["rounds"]))
    t.row("machine load (1-minute load average) as the timing began", lambda m, s: f"{s['load']:.2f}")
    t.row("shipped x86 installer",
          lambda m, s: f"refused by the builder: {s['x86_refusal']}" if s["x86_size"] is None
          else f"{s['x86_size']:,} bytes")
    t.row("its overhead (size − payload)",
          lambda m, s: None if s["x86_size"] is None
          else (kib(s["x86_size"] - s["payload_size"]), s["x86_size"] - s["payload_size"] <= OVERHEAD_BUDGET),
          f"≤ {kib(OVERHEAD_BUDGET)}")
    t.row("shipped x86, modest fresh install in Wine's WOW64 half (once, not timed)",
          lambda m, s: "refused by the builder" if s["x86_size"] is None
          else ("installs", True) if s["x86_install"] is None else (f"did not install: {s['x86_install']}", False),
          "installs, or the builder refuses the size")
    t.row("  x86 with the memory probe: peak private bytes (one run)",
          lambda m, s: mib(peak_private(s["x86_memory"])) if s["x86_memory"] else None)


# The modest runs of ours: label, what it is, the floor that does the same write, its budgets.
# The Windows 10 runs are held through the cost of naming Windows instead.
MODEST_RUNS = (
    ("ours", "fresh", "durable", DURABLE_FRESH_BUDGETS),
    ("ours-w10", "fresh, Windows 10", "durable", None),
    ("ours-replace", "replacement", "durable-replace", DURABLE_REPLACE_BUDGETS),
    ("ours-w10-replace", "replacement, Windows 10", "durable-replace", None),
)


def size_budget(budgets, size_mib):
    return None if budgets is None else budgets[0] if size_mib <= LOOSER_UP_TO_MIB else budgets[1]


def budget_text(budgets):
    return "" if budgets is None else f"≤ {budgets[0]} up to {LOOSER_UP_TO_MIB} MiB, ≤ {budgets[1]} above"


def naming_cost(s):
    """What naming Windows 10 costs a run, in starts of the do-nothing program: the Windows 10 run
    less the default run (median of pairwise differences) over the do-nothing program's median."""
    return pairwise_difference(s["runs"], "ours-w10", "ours") / mid(s["runs"]["noop"])


def startup_cost(s, label, floor):
    """What a run costs beyond its integrity check (on every thread) and its write (the floor that
    writes the same): start-up, naming Windows and finding the product. The check overlaps
    start-up, so this is what start-up adds beyond it."""
    return pairwise_difference(s["runs"], label, floor) - mid(s["integrity"])


def add_time_rows(t, minimal_stub):
    t.row(f"minimal NSIS x86 installer, payload stored ({minimal_stub} stub): overhead",
          lambda m, s: kib(s["nsis_minimal_size"] - s["payload_size"]))
    for label, figure in (
            ("noop", "do-nothing x64 program (process start floor), min / median"),
            ("copy", "CopyFileA of the payload (the plain floor), min / median (MiB/s)"),
            ("durable", "durable-copy floor: CopyFileW to the \"~\" name, FlushFileBuffers, MoveFileExW"),
            ("durable-replace", "  the same over the installed copy (the replacement's floor)"),
            ("nsis", "NSIS x64 installer /S, the modest job"),
            ("ours", "ours x64, modest, fresh install"),
            ("ours-w10", "ours x64, modest, fresh install, Windows 10 reported (start-up runs \"ver\")"),
            ("ours-replace", "ours x64, modest, equal-version replacement"),
            ("ours-w10-replace", "ours x64, modest, equal-version replacement, Windows 10 reported")):
        t.row(figure,
              lambda m, s, label=label: ms_pair(s["runs"][label], None if label == "noop" else s["payload_size"]))
    t.row("the floor's flush and rename (durable − CopyFile, median of pairwise differences)",
          lambda m, s: f"{pairwise_difference(s['runs'], 'durable', 'copy'):.1f} ms")
    for label, what, floor, budgets in MODEST_RUNS:
        floor_name = "durable-copy floor" if floor == "durable" else "durable-copy floor over the copy"
        t.row(f"ours {what} / {floor_name} (median of pairwise ratios)",
              lambda m, s, label=label, floor=floor, budgets=budgets: ratio_cell(s, label, floor,
                                                                                size_budget(budgets, m)),
              budget_text(budgets))
        t.row(f"  its start-up: ours {what} − integrity check − {floor_name} (medians)",
              lambda m, s, label=label, floor=floor: f"{startup_cost(s, label, floor):.1f} ms")
    t.row("the cost of naming Windows 10: ours fresh, Windows 10 − ours fresh, in do-nothing starts",
          lambda m, s: (f"{naming_cost(s):.2f}", naming_cost(s) <= NAMING_BUDGET), f"≤ {NAMING_BUDGET:g}")
    t.row("ours fresh / CopyFile floor", lambda m, s: ratio_cell(s, "ours", "copy"))
    t.row("ours fresh / NSIS",
          lambda m, s: ratio_cell(s, "ours", "nsis", NSIS_RATIO_BUDGET if m <= NSIS_HALF_UP_TO_MIB else None),
          f"≤ {NSIS_RATIO_BUDGET} up to {NSIS_HALF_UP_TO_MIB} MiB")
    t.row("ours fresh / (NSIS + the floor's flush and rename)",
          lambda m, s: ratio_cell(s, "ours", {"nsis": 1, "durable": 1, "copy": -1},
                                  NSIS_FLUSH_BUDGET if m > NSIS_HALF_UP_TO_MIB else None),
          f"≤ {NSIS_FLUSH_BUDGET} above {NSIS_HALF_UP_TO_MIB} MiB")
    t.row("ours replacement / NSIS", lambda m, s: ratio_cell(s, "ours-replace", "nsis"))
    t.row("ours fresh / do-nothing program", lambda m, s: ratio_cell(s, "ours", "noop"))


def ratio_cell(s, numerator, denominator, budget=None):
    value = pairwise_ratio(s["runs"], numerator, denominator)
    return f"{value:.2f}" if budget is None else (f"{value:.2f}", value <= budget)


def add_memory_rows(t, sizes):
    reference = reference_size(sizes)
    reference_private = peak_private(sizes[reference]["memory"])

    def private_cell(size_mib, s):
        private = peak_private(s["memory"])
        if size_mib == reference:
            return mib(private), private <= s["payload_size"] + PRIVATE_MARGIN
        return mib(private), private <= reference_private + PRIVATE_GROWTH

    runs = len(sizes[reference]["memory"])
    t.row(f"ours peak private bytes, modest fresh (highest of {runs} runs)", private_cell,
          f"≤ the {reference} MiB figure + {mib(PRIVATE_GROWTH)} = {mib(reference_private + PRIVATE_GROWTH)}; "
          f"at {reference} MiB ≤ payload + {mib(PRIVATE_MARGIN)}")

    def sampled(size_mib, s):
        highest = max(s["memory"], key=lambda sample: sample.get("sampled_private", 0))
        return (f"{mib(max(sample['peak_private'] for sample in s['memory']))} / "
                f"{mib(highest.get('sampled_private', 0))} ({highest.get('sampled_private_at_ms', '?')} ms)")

    t.row("  the same: the counter at the end / the sampler's highest (ms after start)", sampled)
    t.row("ours peak committed private regions (heap, VirtualAlloc, stacks)",
          lambda m, s: mib(max(sample.get("committed_private", 0) for sample in s["memory"])))
    t.row("ours peak working set (file-backed pages included)",
          lambda m, s: mib(max(sample["peak_working_set"] for sample in s["memory"])))


def add_integrity_rows(t):
    def time_cell(size_mib, s):
        text = ms_pair(s["integrity"])
        return (text, mid(s["integrity"]) <= INTEGRITY_BUDGET_MS) if size_mib <= INTEGRITY_MS_UP_TO_MIB else text

    def rate_cell(size_mib, s):
        value = rate(s["x64_size"], mid(s["integrity"]))
        text = f"{value / GIB:.2f} GiB/s"
        if size_mib < INTEGRITY_RATE_FROM_MIB:
            return text
        if not s["sha_instructions"]:
            return f"{text} (without SHA instructions: not held)"
        return text, value >= INTEGRITY_RATE_BUDGET

    t.row("integrity check alone (the verifier in-process on the x64 installer, on its threads), min / median",
          time_cell, f"≤ {INTEGRITY_BUDGET_MS:.0f} ms up to {INTEGRITY_MS_UP_TO_MIB} MiB")
    t.row("  its rate (file size / median)", rate_cell,
          f"≥ {INTEGRITY_RATE_BUDGET / GIB:.0f} GiB/s from {INTEGRITY_RATE_FROM_MIB} MiB, with SHA instructions")
    t.row("the same on one thread, min / median (rate)",
          lambda m, s: f"{ms_pair(s['integrity_1'])} ({rate(s['x64_size'], mid(s['integrity_1'])) / GIB:.2f} GiB/s)")
    t.row("portable SHA-256 rounds over the same file on one thread: rate (median of its rounds)",
          lambda m, s: f"{rate(s['x64_size'], mid(s['portable'])) / MIB:,.0f} MiB/s ({len(s['portable'])} rounds)")


def common_rows(f):
    rows = []
    stubs = f["nsis_x86_stubs"]
    if stubs:
        rows.append((f"NSIS x86 stubs ({len(stubs)}, Debian's nsis {f['nsis_version']})",
                     f"{kib(min(stubs.values()))} – {kib(max(stubs.values()))}"))
    rows.append(("NSIS x64 stub used for the timing", f["nsis_x64_stub_note"]))
    sha = {s["sha_instructions"] for s in f["sizes"].values()}
    rows.append(("the verifier's digest uses the SHA instructions", "yes" if sha == {True} else "no"))
    threads = sorted({s["check_threads"] for s in f["sizes"].values()})
    rows.append(("the verifier's threads (one per processor, at most 8)", " / ".join(map(str, threads))))
    noop = f["noop_memory"]
    rows.append(("do-nothing x64 program: peak private bytes / committed private regions / working set",
                 f"{mib(peak_private(noop))} / {mib(max(s.get('committed_private', 0) for s in noop))} / "
                 f"{mib(max(s['peak_working_set'] for s in noop))}"))
    return rows


def build_report(f):
    """The whole report as Markdown, and the failed budgets (each "figure at N MiB")."""
    t = SizeTable(f["sizes"])
    add_size_and_x86_rows(t)
    add_time_rows(t, f["nsis_minimal_stub"])
    add_memory_rows(t, f["sizes"])
    add_integrity_rows(t)
    lines = [f"Under wine64 {f['wine_version']}, persistent wineserver; {f['cores']} cores, 1-minute load "
             f"average {f['load_start']:.2f} at the start and {f['load_end']:.2f} at the end; x86 rows: "
             f"{f['i386']}.", "",
             render(("figure", "value"), common_rows(f)), "",
             render(t.header(), t.rows), ""]
    if t.failed:
        lines.append(f"FAIL: {len(t.failed)} budget(s) not met: " + "; ".join(t.failed))
        lines += where_the_time_goes(f["sizes"], t.failed)
    else:
        lines.append("Every budget holds.")
    return "\n".join(lines), t.failed


def where_the_time_goes(sizes, failed):
    """For each size whose modest run is beyond its budget: its time beyond the floor against what
    the check of the installer's own file takes alone. The check overlaps start-up and the write
    on processors and a disk they share, so whatever of it the write does not hide is beyond the
    floor; what is beyond even the whole check is start-up and the run's own steps."""
    lines = []
    for size_mib, s in sorted(sizes.items()):
        for label, what, floor, _ in MODEST_RUNS:
            if not any(f.startswith(f"ours {what} /") and f.endswith(f" at {size_mib} MiB") for f in failed):
                continue
            beyond = pairwise_difference(s["runs"], label, floor)
            check = mid(s["integrity"])
            head = f"Where the time goes at {size_mib} MiB, ours {what}: {beyond:.1f} ms beyond its floor"
            if beyond <= check:
                lines.append(f"{head}, less than the {check:.1f} ms the check of its own file takes alone: the part "
                             f"of the check that the write, on the same processors and disk, does not hide.")
            else:
                lines.append(f"{head}: the check of its own file takes {check:.1f} ms alone, and the other "
                             f"{beyond - check:.1f} ms are start-up and the run's own steps.")
    return lines


# --- the README ----------------------------------------------------------------------------

README_BEGIN = "<!-- bench/run --readme writes the report from here -->"
README_END = "<!-- to here -->"


def splice_readme(readme, report):
    """The README with the report between its two markers in place of what was there."""
    if readme.count(README_BEGIN) != 1 or readme.count(README_END) != 1:
        raise ValueError("the README needs each report marker exactly once")
    head, rest = readme.split(README_BEGIN)
    if README_END not in rest:
        raise ValueError("the README's report markers are out of order")
    _, tail = rest.split(README_END)
    return f"{head}{README_BEGIN}\n{report.rstrip()}\n{README_END}{tail}"
