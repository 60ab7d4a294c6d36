#!/usr/bin/env python3
"""Times the native quorbel against the Driver Manager alone.

For private odbcinst.ini files of 10, 50 and 1,000 driver sections, runs
quorbel, quorbel -b, quorbel -v -a, quorbel -v -a -c (each driver's library
a link to a real driver with a real tree of dependencies: PostgreSQL's
psqlodbcw.so, or the library BENCH_LIBRARY names), the bare SQLDrivers loop
(the floor) and
unixODBC's odbcinst -q -d side by side, interleaved, and prints the median
wall time of each, its ratio to the bare loop and its peak memory. Then
counts instructions with callgrind: those of quorbel's own code per driver,
which do not depend on how busy the machine is, and those of the whole
process per driver.

Usage: bench.py BUILD_DIR   (BENCH_RUNS sets the runs per command)
"""
import glob
import os
import statistics
import subprocess
import sys
import tempfile
import time

SIZES = (10, 50, 1000)
RUNS = int(os.environ.get("BENCH_RUNS", "101"))
LARGE_RUNS = max(5, RUNS // 10)  # a run over 1,000 sections takes seconds
WARM_UP = 3
MEMORY_RUNS = 3
# Ratio to the bare loop (or to another command), at these section counts.
TARGETS = {"quorbel -b": (1.05, (10, 50)), "quorbel -v -a": (1.7, (10, 50)),
           "quorbel -v -a -c": (1.1, (10, 50)),
           "quorbel -j -v -a": (1.05, (50,), "quorbel -v -a")}


def write_ini(folder, count, library):
    """Sections shaped like those Debian's driver packages install, each
    library a link to one real shared object."""
    libraries = os.path.join(folder, "lib")
    os.makedirs(libraries, exist_ok=True)
    with open(os.path.join(folder, "odbcinst.ini"), "w") as ini:
        for i in range(count):
            path = os.path.join(libraries, f"libbench{i:04d}.so")
            if not os.path.lexists(path):
                os.symlink(library, path)
            ini.write(
                f"[Benchmark driver {i:04d}]\n"
                f"Description=Benchmark ODBC driver {i}\n"
                f"Driver={path}\n"
                f"Setup={libraries}/libbenchS{i:04d}.so\n"
                "APILevel=1\nConnectFunctions=YYY\nDriverODBCVer=03.50\n"
                "FileUsage=0\nSQLLevel=1\nUsageCount=1\n\n")


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


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build/linux"
    quorbel = os.path.abspath(os.path.join(build, "quorbel"))
    bare = os.path.abspath(os.path.join(build, "tests", "bare_drivers_loop"))
    commands = {
        "quorbel": [quorbel],
        "quorbel -b": [quorbel, "-b"],
        "quorbel -v -a": [quorbel, "-v", "-a"],
        "quorbel -v -a -c": [quorbel, "-v", "-a", "-c"],
        "quorbel -j -v -a": [quorbel, "-j", "-v", "-a"],
        "bare loop": [bare],
        "odbcinst -q -d": ["odbcinst", "-q", "-d"],
    }
    # A real driver whose dependencies -c follows: about 25 files deep.
    drivers = glob.glob("/usr/lib/*/odbc/psqlodbcw.so")
    library = os.environ.get("BENCH_LIBRARY") or (drivers[0] if drivers else "")
    if not os.path.exists(library):
        sys.exit("no library to check: install odbc-postgresql or set BENCH_LIBRARY")
    missed = []
    counts = {}
    with tempfile.TemporaryDirectory() as folder:
        env = dict(os.environ, ODBCSYSINI=folder)
        print(f"median of {RUNS} interleaved runs ({LARGE_RUNS} over 1,000 sections); "
              f"ratio to the bare SQLDrivers loop; -c checks {library}\n")
        for size in SIZES:
            write_ini(folder, size, library)
            listed = subprocess.run(commands["quorbel -b"], env=env, capture_output=True,
                                    check=True).stdout.count(b"\n")
            counts[size] = listed
            print(f"{size} sections in odbcinst.ini, {listed} listed by unixODBC")
            times = {name: [] for name in commands}
            runs = RUNS if size < 1000 else LARGE_RUNS
            for round_number in range(WARM_UP + runs):
                for name, argv in commands.items():
                    elapsed = run_once(argv, env)
                    if round_number >= WARM_UP:
                        times[name].append(elapsed)
            memory = {name: peak_memory(argv, env) for name, argv in commands.items()}
            floor = statistics.median(times["bare loop"])
            for name in commands:
                median = statistics.median(times[name])
                ratio = median / floor
                target, sizes, *baseline = TARGETS.get(name, (None, ()))
                verdict = ""
                if target and size in sizes:
                    against = baseline[0] if baseline else "bare loop"
                    measured = median / statistics.median(times[against])
                    verdict = (f"  target {target} of {against}: {measured:.3f}, "
                               f"{'met' if measured <= target else 'MISSED'}")
                    if measured > target:
                        missed.append(f"{name} at {size}")
                print(f"  {name:17} {median * 1000:8.2f} ms  {ratio:5.2f}x  "
                      f"peak {memory[name]:6d} KiB{verdict}")
            print()

        print("instructions per driver (callgrind, from the 10- and 50-section files)")
        for name in ("quorbel -b", "quorbel -v -a", "quorbel -v -a -c", "quorbel -j -v -a",
                     "bare loop"):
            own = {}
            total = {}
            for size in (10, 50):
                write_ini(folder, size, library)
                own[size], total[size] = own_and_total_instructions(
                    commands[name], env, os.path.basename(commands[name][0]))
            drivers = counts[50] - counts[10]
            print(f"  {name:17} own code {(own[50] - own[10]) / drivers:9.0f}   "
                  f"whole process {(total[50] - total[10]) / drivers:11.0f}")

    if missed:
        print("\nmissed targets: " + ", ".join(missed))
    return 0


if __name__ == "__main__":
    sys.exit(main())
