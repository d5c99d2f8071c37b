"""The figures of bench/run: statistics over the timed runs, the budgets and the table.

Plain functions over plain data (no processes, no files), so that they are tested on their own
(bench/test_report.py).
"""

KIB = 1024
MIB = 1024 * 1024

# The budgets the installer is held to (see the README's "Performance" section).
OVERHEAD_BUDGET = 64 * KIB
FLOOR_RATIO_BUDGET = 1.5
NSIS_RATIO_BUDGET = 0.5
PRIVATE_MARGIN = 2 * MIB
INTEGRITY_BUDGET_MS = 20.0


def median(values):
    ordered = sorted(values)
    if not ordered:
        raise ValueError("median of no values")
    middle = len(ordered) // 2
    if len(ordered) % 2:
        return ordered[middle]
    return (ordered[middle - 1] + ordered[middle]) / 2


def parse_timings(text):
    """Lines "LABEL <tab> ROUND <tab> MILLISECONDS" into {label: {round: ms}}."""
    runs = {}
    for number, line in enumerate(text.splitlines(), 1):
        if not line.strip():
            continue
        fields = line.split("\t")
        if len(fields) != 3:
            raise ValueError(f"timing line {number}: expected three fields: {line!r}")
        label, round_text, ms_text = fields
        runs.setdefault(label, {})[int(round_text)] = float(ms_text)
    return runs


def parse_memory(text):
    """The probe's "name=BYTES" lines into {name: int}."""
    values = {}
    for line in text.splitlines():
        name, sep, value = line.strip().partition("=")
        if sep:
            values[name] = int(value)
    return values


def spread(times):
    """(min, median) of one program's times, given as {round: ms} or a list."""
    values = list(times.values()) if isinstance(times, dict) else list(times)
    return min(values), median(values)


def pairwise_ratio(runs, numerator, denominator):
    """Median of numerator/denominator over the rounds in which both ran: the two runs of a
    pair met the same moment of the machine, so its load cancels out of each ratio."""
    top, bottom = runs[numerator], runs[denominator]
    ratios = [top[r] / bottom[r] for r in sorted(top.keys() & bottom.keys()) if bottom[r] > 0]
    if not ratios:
        raise ValueError(f"no round has both {numerator} and {denominator}")
    return median(ratios)


def peak_private(samples):
    """The highest private bytes over the probe's reports: the counter's own peak, or the
    sampler's maximum where the system fills the peak with a current value (Wine)."""
    return max(max(s["peak_private"], s.get("sampled_private", 0)) for s in samples)


def kib(n):
    return f"{n / KIB:,.1f} KiB"


def mib(n):
    return f"{n / MIB:,.2f} MiB"


def ms_pair(times):
    low, mid = spread(times)
    return f"{low:.1f} / {mid:.1f} ms"


def verdict(ok, limit):
    return f"{limit}: pass" if ok else f"{limit}: **FAIL**"


def build_rows(f):
    """Rows (figure, value, budget) of the table from the collected figures `f`; the budget
    column is empty where a figure has none. Also returns the failed budgets' figures."""
    rows, failed = [], []

    def row(figure, value, budget=None):
        text = ""
        if budget is not None:
            ok, limit = budget
            text = verdict(ok, limit)
            if not ok:
                failed.append(figure)
        rows.append((figure, value, text))

    payload = f["payload_size"]
    overhead = f["shipped_size"] - payload
    row("shipped x86 installer", f"{f['shipped_size']:,} bytes (payload {payload:,})")
    row("its overhead (size − payload)", kib(overhead),
        (overhead <= OVERHEAD_BUDGET, f"≤ {kib(OVERHEAD_BUDGET)}"))
    stubs = f["nsis_x86_stubs"]
    if stubs:
        low, high = min(stubs.values()), max(stubs.values())
        row(f"NSIS x86 stubs ({len(stubs)}, Debian's nsis {f['nsis_version']})", f"{kib(low)} – {kib(high)}")
    minimal = f["nsis_minimal_size"]
    row(f"minimal NSIS x86 installer, payload stored ({f['nsis_minimal_stub']} stub)",
        f"{minimal:,} bytes, overhead {kib(minimal - payload)}")
    row("NSIS x64 stub used for the timing", f["nsis_x64_stub_note"])

    runs = f["runs"]
    for label, figure in (
            ("noop", "do-nothing x64 program (process start floor)"),
            ("copy", "CopyFileA of the payload (the job's floor)"),
            ("nsis", "NSIS x64 installer /S, the modest job"),
            ("ours", "ours x64, modest, fresh install"),
            ("ours-replace", "ours x64, modest, equal-version replacement")):
        row(f"{figure}, min / median of {len(runs[label])}", ms_pair(runs[label]))
    fresh_floor = pairwise_ratio(runs, "ours", "copy")
    fresh_nsis = pairwise_ratio(runs, "ours", "nsis")
    row("ours fresh / CopyFile floor (median of pairwise ratios)", f"{fresh_floor:.2f}",
        (fresh_floor <= FLOOR_RATIO_BUDGET, f"≤ {FLOOR_RATIO_BUDGET}"))
    row("ours fresh / NSIS (median of pairwise ratios)", f"{fresh_nsis:.2f}",
        (fresh_nsis <= NSIS_RATIO_BUDGET, f"≤ {NSIS_RATIO_BUDGET}"))
    row("ours replacement / CopyFile floor", f"{pairwise_ratio(runs, 'ours-replace', 'copy'):.2f}")
    row("ours replacement / NSIS", f"{pairwise_ratio(runs, 'ours-replace', 'nsis'):.2f}")
    row("ours fresh / do-nothing program", f"{pairwise_ratio(runs, 'ours', 'noop'):.2f}")

    private = peak_private(f["memory"])
    working = max(s["peak_working_set"] for s in f["memory"])
    limit = payload + PRIVATE_MARGIN
    row(f"ours peak private bytes, modest fresh (highest of {len(f['memory'])} runs)",
        f"{mib(private)} (payload {mib(payload)})", (private <= limit, f"≤ payload + 2 MiB = {mib(limit)}"))
    highest = max(f["memory"], key=lambda s: s.get("sampled_private", 0))
    row("  the same: the counter at the end / the sampler's highest (when)",
        f"{mib(max(s['peak_private'] for s in f['memory']))} / {mib(highest.get('sampled_private', 0))} "
        f"({highest.get('sampled_private_at_ms', '?')} ms after start)")
    row("ours peak committed private regions (heap, VirtualAlloc, stacks)",
        mib(max(s.get("committed_private", 0) for s in f["memory"])))
    row("ours peak working set (file-backed pages included)", mib(working))
    if f.get("noop_memory"):
        noop = f["noop_memory"]
        row("do-nothing x64 program: peak private bytes / committed private regions / working set",
            f"{mib(peak_private(noop))} / {mib(max(s.get('committed_private', 0) for s in noop))} / "
            f"{mib(max(s['peak_working_set'] for s in noop))}")

    _, integrity_mid = spread(f["integrity"])
    row(f"integrity check alone, 4 MiB installer, min / median of {len(f['integrity'])}",
        ms_pair(f["integrity"]), (integrity_mid <= INTEGRITY_BUDGET_MS, f"≤ {INTEGRITY_BUDGET_MS:.0f} ms"))
    return rows, failed


def render(rows):
    """A Markdown table, so that it can go into the README as it is."""
    header = ("figure", "value", "budget")
    widths = [max(len(r[i]) for r in rows + [header]) for i in range(3)]
    lines = ["| " + " | ".join(c.ljust(w) for c, w in zip(header, widths)) + " |",
             "|" + "|".join("-" * (w + 2) for w in widths) + "|"]
    lines += ["| " + " | ".join(c.ljust(w) for c, w in zip(r, widths)) + " |" for r in rows]
    return "\n".join(lines)
