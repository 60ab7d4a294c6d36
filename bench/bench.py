#!/usr/bin/env python3
"""Times the native quorbel against the Driver Manager alone.

Each scenario is a private odbcinst.ini. For each, quorbel -b, -a,
-a -c, -j -a and the bare SQLDrivers loop (the floor) run side by side,
interleaved, and the median wall time of each is printed with its ratio to
the bare loop and its peak memory, against the targets below.

- real loads: sections over the four Debian driver libraries (psqlodbcw,
  psqlodbca, libmaodbc, libsqlite3odbc: four different loads, psqlodbcw's
  26 files deep), holding Driver= alone or laid out as Debian writes them
  (Description, Driver, Setup, UsageCount);
- many sections: 10, 50 and 1,000 of the benchmark's own layout, each a
  link to psqlodbcw.so; unixODBC lists 46 of the larger ones;
- a hostile load: a chain of 1,000 libraries, each with an RPATH folder that
  does not exist, found through LD_LIBRARY_PATH; quorbel -b -c alone;
- what -c adds to the bare loop, beside one `ldd -r` of psqlodbcw.so;
- -v over Debian's five drivers as their packages register them, which
  reads the package database once, beside quorbel and the bare loop.

Then callgrind counts instructions: quorbel's own per driver, which do not
depend on how busy the machine is.

Usage: bench.py BUILD_DIR   (BENCH_RUNS sets the runs per command;
BENCH_ONLY=versions measures -v alone)
"""
import glob
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

RUNS = int(os.environ.get("BENCH_RUNS", "101"))
LARGE_RUNS = max(5, RUNS // 10)  # a run over 1,000 sections takes seconds
WARM_UP = 3
MEMORY_RUNS = 3
ODBC = "/usr/lib/{}/odbc".format(os.uname().machine + "-linux-gnu")
REAL = ["psqlodbcw.so", "psqlodbca.so", "libmaodbc.so", "libsqlite3odbc.so"]
# (scenario, sections): command -> ratio to the bare loop (or to another
# command) that quorbel promises.
TARGETS = {
    ("driver only", 10): {"quorbel -a -c": 1.1},
    ("driver only", 48): {"quorbel -a -c": 1.05},
    ("debian", 12): {"quorbel -a -c": 1.25},
    ("debian", 48): {"quorbel -a -c": 1.1},
    ("benchmark", 10): {"quorbel -b": 1.05, "quorbel -a": 1.7, "quorbel -a -c": 1.1},
    ("benchmark", 50): {"quorbel -b": 1.05, "quorbel -a": 1.7, "quorbel -a -c": 1.1,
                        "quorbel -j -a": (1.05, "quorbel -a")},
}
HOSTILE_SECONDS = 0.3
# Debian's ODBC driver packages' drivers, as they register them, and what
# -v may take over them.
DEBIAN_DRIVERS = [("PostgreSQL ANSI", "psqlodbca.so"), ("PostgreSQL Unicode", "psqlodbcw.so"),
                  ("MariaDB Unicode", "libmaodbc.so"), ("FreeTDS", "libtdsodbc.so"),
                  ("SQLite3", "libsqlite3odbc.so")]
VERSIONS_SECONDS = 0.05


def write_ini(folder, layout, count):
    """The sections of a scenario."""
    with open(os.path.join(folder, "odbcinst.ini"), "w") as ini:
        for i in range(count):
            if layout == "benchmark":
                path = os.path.join(folder, "lib", f"libbench{i:04d}.so")
                if not os.path.lexists(path):
                    os.makedirs(os.path.dirname(path), exist_ok=True)
                    os.symlink(os.path.join(ODBC, "psqlodbcw.so"), path)
                ini.write(f"[Benchmark driver {i:04d}]\nDescription=Benchmark ODBC driver {i}\nDriver={path}\n"
                          f"Setup={folder}/lib/libbenchS{i:04d}.so\nAPILevel=1\nConnectFunctions=YYY\n"
                          "DriverODBCVer=03.50\nFileUsage=0\nSQLLevel=1\nUsageCount=1\n\n")
            elif layout == "debian":
                library = os.path.join(ODBC, REAL[i % 4])
                ini.write(f"[Bench {i:02d}]\nDescription=Bench driver {i}\nDriver={library}\n"
                          f"Setup={library}\nUsageCount=1\n\n")
            else:
                ini.write(f"[Bench {i:02d}]\nDriver={os.path.join(ODBC, REAL[i % 4])}\n\n")


def accepted_statuses(argv):
    """With -c, status 16 (a driver the Driver Manager left out) is the
    run's answer, not a failure."""
    return (0, 16) if "-c" in argv else (0,)


def run_once(argv, env):
    """Wall time of one run, output dropped."""
    quiet = [(os.POSIX_SPAWN_OPEN, fd, os.devnull, os.O_WRONLY, 0) for fd in (1, 2)]
    start = time.perf_counter()
    pid = os.posix_spawnp(argv[0], argv, env, file_actions=quiet)
    _, status, _ = os.wait4(pid, 0)
    elapsed = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) not in accepted_statuses(argv):
        sys.exit(f"{' '.join(argv)} failed with status {status}")
    return elapsed


def peak_memory(argv, env):
    """Peak resident memory (KiB). A child of this interpreter would inherit
    its peak, which Linux keeps across exec; GNU time's children start small."""
    peaks = []
    with tempfile.NamedTemporaryFile() as report:
        for _ in range(MEMORY_RUNS):
            run_once(["/usr/bin/time", "-f", "%M", "-o", report.name] + argv, env)
            peaks.append(int(open(report.name).read().split()[-1]))
    return max(peaks)


def medians(commands, env, runs):
    """The median wall time of each command over interleaved runs."""
    times = {name: [] for name in commands}
    for round_number in range(WARM_UP + runs):
        for name, argv in commands.items():
            elapsed = run_once(argv, env)
            if round_number >= WARM_UP:
                times[name].append(elapsed)
    return {name: statistics.median(values) for name, values in times.items()}


def own_and_total_instructions(argv, env, own_object):
    """Instructions executed in own_object, and in the whole process."""
    with tempfile.NamedTemporaryFile(suffix=".callgrind") as out:
        done = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out.name]
                              + argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if done.returncode not in accepted_statuses(argv):
            sys.exit(f"{' '.join(argv)} under callgrind failed with status {done.returncode}")
        objects = {}
        current = None
        own = total = 0
        skip_next_cost = False  # the line after calls= is the callee's cost
        for line in open(out.name):
            if line.startswith(("ob=", "cob=")):
                # Either may name an object first; later lines use its number.
                key, _, name = line.split("=", 1)[1].strip().partition(" ")
                if name:
                    objects[key] = name
                if line.startswith("ob="):
                    current = objects.get(key, key)
            elif line.startswith("calls="):
                skip_next_cost = True
            elif line[:1].isdigit() or line[:1] in "+-*":
                if skip_next_cost:
                    skip_next_cost = False
                    continue
                cost = int(line.split()[-1])
                total += cost
                if current and current.endswith(own_object):
                    own += cost
        return own, total


def hostile_chain(folder, count):
    """A chain of libraries, each needing the next, each with an RPATH folder
    that does not exist; LD_LIBRARY_PATH finds them. Copies of one library,
    its names rewritten."""
    lib = os.path.join(folder, "chain")
    os.makedirs(lib, exist_ok=True)
    source = os.path.join(folder, "entry.c")
    open(source, "w").write("int bench_entry(void) { return 1; }\n")
    subprocess.run(["cc", "-shared", "-fPIC", "-o", os.path.join(folder, "libhc0001.so"), source], check=True)
    template = os.path.join(folder, "libhc0000.so")
    subprocess.run(["cc", "-shared", "-fPIC", "-o", template, source, "-L" + folder, "-Wl,--no-as-needed",
                    "-lhc0001", "-Wl,--disable-new-dtags,-rpath,/nonexistent/hc0000"], check=True)
    data = open(template, "rb").read()
    for i in range(count):
        copy = data.replace(b"libhc0001.so\0", f"libhc{i + 1:04d}.so\0".encode())
        copy = copy.replace(b"/nonexistent/hc0000\0", f"/nonexistent/hc{i:04d}\0".encode())
        open(os.path.join(lib, f"libhc{i:04d}.so"), "wb").write(copy)
    shutil.copy(os.path.join(folder, "libhc0001.so"), os.path.join(lib, f"libhc{count:04d}.so"))
    with open(os.path.join(folder, "odbcinst.ini"), "w") as ini:
        ini.write(f"[Hostile]\nDriver={lib}/libhc0000.so\n")
    return lib


def versions_cost(quorbel, bare, folder):
    """-v over Debian's five drivers, registered as their packages register
    them, beside the listing without it and the bare loop: True when it is
    within its target."""
    with open(os.path.join(folder, "odbcinst.ini"), "w") as ini:
        for name, library in DEBIAN_DRIVERS:
            ini.write(f"[{name}]\nDescription={name}\nDriver={library}\nUsageCount=1\n\n")
    env = dict(os.environ, ODBCSYSINI=folder)
    lines = subprocess.run([quorbel, "-v"], env=env, capture_output=True, check=True).stdout.splitlines()
    if sum(line.count(b"\t") == 2 for line in lines) != len(DEBIAN_DRIVERS):
        sys.exit(f"quorbel -v gave no version to some of Debian's drivers: {lines}")
    commands = {"quorbel": [quorbel], "quorbel -v": [quorbel, "-v"], "quorbel -j -v": [quorbel, "-j", "-v"],
                "bare loop": [bare]}
    median = medians(commands, env, RUNS)
    print(f"-v over Debian's {len(DEBIAN_DRIVERS)} drivers (the package database read once)")
    for name in commands:
        verdict = ""
        if name == "quorbel -v":
            verdict = f"  target {VERSIONS_SECONDS * 1000:.0f} ms, " + \
                      ("met" if median[name] <= VERSIONS_SECONDS else "MISSED")
        print(f"  {name:17} {median[name] * 1000:8.2f} ms  {median[name] / median['bare loop']:5.2f}x  "
              f"peak {peak_memory(commands[name], env):6d} KiB{verdict}")
    print(f"  -v adds {(median['quorbel -v'] - median['quorbel']) * 1000:.2f} ms\n")
    return median["quorbel -v"] <= VERSIONS_SECONDS


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build/linux"
    quorbel = os.path.abspath(os.path.join(build, "quorbel"))
    bare = os.path.abspath(os.path.join(build, "tests", "bare_drivers_loop"))
    commands = {
        "quorbel -b": [quorbel, "-b"],
        "quorbel -a": [quorbel, "-a"],
        "quorbel -a -c": [quorbel, "-a", "-c"],
        "quorbel -j -a": [quorbel, "-j", "-a"],
        "bare loop": [bare],
    }
    libraries = set(REAL) | {library for _, library in DEBIAN_DRIVERS}
    missing = [name for name in sorted(libraries) if not os.path.exists(os.path.join(ODBC, name))]
    if missing:
        sys.exit(f"no {', '.join(missing)} in {ODBC}: install odbc-postgresql odbc-mariadb tdsodbc libsqliteodbc")
    missed = []
    if os.environ.get("BENCH_ONLY") == "versions":
        with tempfile.TemporaryDirectory() as folder:
            return 0 if versions_cost(quorbel, bare, folder) else 1
    print(f"median of {RUNS} interleaved runs ({LARGE_RUNS} over 1,000 sections); ratio to the bare "
          "SQLDrivers loop\n")
    scenarios = [("driver only", 10), ("driver only", 48), ("debian", 12), ("debian", 48),
                 ("benchmark", 10), ("benchmark", 50), ("benchmark", 1000)]
    with tempfile.TemporaryDirectory() as folder:
        env = dict(os.environ, ODBCSYSINI=folder)
        for layout, size in scenarios:
            write_ini(folder, layout, size)
            listed = subprocess.run(commands["quorbel -b"], env=env, capture_output=True,
                                    check=True).stdout.count(b"\n")
            print(f"{layout}: {size} sections, {listed} listed")
            median = medians(commands, env, RUNS if size < 1000 else LARGE_RUNS)
            for name in commands:
                target = TARGETS.get((layout, size), {}).get(name)
                target, against = target if isinstance(target, tuple) else (target, "bare loop")
                verdict = ""
                if target:
                    measured = median[name] / median[against]
                    verdict = f"  target {target} of {against}: {measured:.3f}, " + \
                              ("met" if measured <= target else "MISSED")
                    if measured > target:
                        missed.append(f"{name} at {layout} {size}")
                print(f"  {name:17} {median[name] * 1000:8.2f} ms  {median[name] / median['bare loop']:5.2f}x  "
                      f"peak {peak_memory(commands[name], env):6d} KiB{verdict}")
            print()

        # What -c adds for 50 drivers, beside what ldd -r costs for one.
        write_ini(folder, "debian", 50)
        ldd = {"ldd -r psqlodbcw.so": ["ldd", "-r", os.path.join(ODBC, "psqlodbcw.so")]}
        median = medians({**commands, **ldd}, env, RUNS)
        added = median["quorbel -a -c"] - median["quorbel -a"]
        print(f"-c at 50 drivers adds {added * 1000:.2f} ms to quorbel -a: "
              f"{added / median['ldd -r psqlodbcw.so']:.2f} of one ldd -r of psqlodbcw.so "
              f"({median['ldd -r psqlodbcw.so'] * 1000:.2f} ms)\n")

        # A hostile load: its cost grows with the files, no faster.
        chain = hostile_chain(folder, 1000)
        hostile_env = dict(env, LD_LIBRARY_PATH=chain)
        seconds = medians({"hostile": [quorbel, "-b", "-c"]}, hostile_env, max(3, RUNS // 20))["hostile"]
        print(f"a chain of 1,000 libraries with RPATH folders that do not exist: quorbel -b -c "
              f"{seconds:.3f} s, target {HOSTILE_SECONDS} s, {'met' if seconds <= HOSTILE_SECONDS else 'MISSED'}\n")
        if seconds > HOSTILE_SECONDS:
            missed.append("the hostile chain")

        if not versions_cost(quorbel, bare, folder):
            missed.append("-v over Debian's drivers")

        print("instructions per driver (callgrind, between 12 and 48 sections laid out as Debian does)")
        for name in ("quorbel -b", "quorbel -a", "quorbel -a -c", "quorbel -j -a", "bare loop"):
            own, total = {}, {}
            for size in (12, 48):
                write_ini(folder, "debian", size)
                own[size], total[size] = own_and_total_instructions(commands[name], env,
                                                                    os.path.basename(commands[name][0]))
            print(f"  {name:17} own code {(own[48] - own[12]) / 36:9.0f}   "
                  f"whole process {(total[48] - total[12]) / 36:11.0f}")

    if missed:
        print("\nmissed targets: " + ", ".join(missed))
    return 0


if __name__ == "__main__":
    sys.exit(main())
