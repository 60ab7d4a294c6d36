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
  reads the package database once, beside quorbel and the bare loop;
- what -c adds beside the system loader's own load of the same libraries
  (bench/load.c, less its run that loads nothing but libodbc.so.2): the four
  Debian drivers; a library of 1,000,000 exported symbols; one with 100,000
  relocations to 100,000 symbols of a library it needs; and under Wine, a DLL
  importing 100,000 functions from another, and one whose import table names
  4,097 DLLs.

Then callgrind counts instructions: quorbel's own per driver, which do not
depend on how busy the machine is.

Usage: bench.py BUILD_DIR [WINDOWS_BUILD_DIR]   (BENCH_RUNS sets the runs per
command: at least 201 beside glibc's loads, an eighth of them and at least 11
under Wine; BENCH_ONLY=versions measures -v alone, BENCH_ONLY=loads the loads
beside the system loader's; without WINDOWS_BUILD_DIR, a 64-bit mingw-w64 build
of quorbel, the Wine loads are skipped)
"""
import collections
import glob
import os
import shutil
import statistics
import struct
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
# What -c may add, as a share of the system loader's own load of the same
# libraries, and in peak memory (KiB) over Debian's drivers.
DEBIAN_LOAD_SHARE = 0.4
DEBIAN_PEAK_KIB = 1024
MANY_SYMBOLS, MANY_SYMBOLS_SHARE = 1000000, 2
MANY_RELOCATIONS, MANY_RELOCATIONS_SHARE = 100000, 1.5
WINE_IMPORTS, WINE_IMPORTS_SHARE = 100000, 1
WINE_DLLS, WINE_DLLS_SECONDS = 4097, 0.5
# glibc's load of one library can take under a millisecond, less than the
# spread of the runs on a busy machine: the difference of medians needs more.
LOAD_RUNS = max(RUNS, 201)
WINE_RUNS = max(11, RUNS // 8)  # each run under Wine starts a Windows process
WINE_LOADER = os.environ.get("QUORBEL_WINE64_LOADER", "/usr/lib/wine/wine64")
MINGW_GCC = "x86_64-w64-mingw32-gcc"
BENCH = os.path.dirname(os.path.abspath(__file__))


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


def judged(name, measured, target, missed, unit=""):
    """A target's line; a missed one is added to missed."""
    met = measured <= target
    if not met:
        missed.append(name)
    shown = measured if isinstance(measured, int) else f"{measured:.3f}"
    return f"target {target}{unit}, measured {shown}{unit}, {'met' if met else 'MISSED'}"


def output(argv, env):
    """Status, standard output and standard error of one run. Through files:
    Wine's services, started by a run, would hold pipes open."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        status = subprocess.run(argv, env=env, stdout=out, stderr=err).returncode
        out.seek(0)
        err.seek(0)
        return status, out.read().decode(errors="replace"), err.read().decode(errors="replace")


def words(argv, env):
    """The last fields of the lines quorbel writes (with -c, its words),
    each with how many lines end in it."""
    out = output(argv, env)[1]
    counted = collections.Counter(line.rstrip("\r").split("\t")[-1] for line in out.splitlines())
    return ", ".join(f"{count} {word}" for word, count in counted.items())


def options(argv):
    """quorbel and its options, as the lines name a command."""
    return " ".join(["quorbel"] + [word for word in argv if word.startswith("-")])


def added_beside_load(title, plain, checked, load, libraries, env, runs, share, missed):
    """What -c adds to a run of quorbel (checked less plain), beside what
    the system loader's load of the libraries adds to the load program
    that loads none; interleaved, so that both see the same machine."""
    commands = {"plain": plain, "checked": checked, "load": load + libraries, "nothing": load}
    median = medians(commands, env, runs)
    added = median["checked"] - median["plain"]
    loaded = median["load"] - median["nothing"]
    print(f"{title} (quorbel -c says {words(checked, env)})\n"
          f"  -c adds {added * 1000:.2f} ms to {options(plain)} ({median['plain'] * 1000:.2f} ms); "
          f"the loader's own load {loaded * 1000:.2f} ms ({median['nothing'] * 1000:.2f} ms loading nothing)\n"
          f"  -c's addition over the loader's: "
          + judged(title, added / loaded if loaded > 0 else float("inf"), share, missed))


def register(folder, drivers):
    """A private odbcinst.ini of the drivers, (name, library) pairs."""
    with open(os.path.join(folder, "odbcinst.ini"), "w") as ini:
        ini.writelines(f"[{name}]\nDriver={library}\n\n" for name, library in drivers)


def shared_library(folder, name, assembly, *link):
    """A shared object assembled from the text given, without the C
    runtime's objects: its symbols alone."""
    library = os.path.join(folder, name)
    with open(library + ".s", "w") as source:
        source.writelines(assembly)
    subprocess.run(["cc", "-shared", "-nostdlib", "-s", "-o", library, source.name, *link], check=True)
    os.remove(source.name)
    return library


def functions(names):
    """Assembler lines of exported functions, all at one `ret`."""
    for name in names:
        yield f".globl {name}\n.type {name},@function\n{name}:\n"
    yield "\txorl %eax, %eax\n\tret\n"


def relocations(folder):
    """A driver whose data holds pointers to MANY_RELOCATIONS functions of a
    library it needs, each a symbol glibc looks up."""
    names = [f"bench_def_{i:06d}" for i in range(MANY_RELOCATIONS)]
    shared_library(folder, "libbenchdefs.so", [".text\n", *functions(names)])
    return shared_library(folder, "libbenchrefs.so",
                          [".text\n", *functions(["SQLAllocHandle"]), ".data\n",
                           *(f"\t.quad {name}\n" for name in names)],
                          "-L" + folder, "-lbenchdefs", "-Wl,-rpath,$ORIGIN")


def glibc_relocations(load, library):
    """The relocations glibc's statistics count for loading the library,
    beyond loading nothing, and of them those served from its cache."""
    def counts(argv):
        err = subprocess.run(argv, env=dict(os.environ, LD_DEBUG="statistics"), capture_output=True,
                             text=True).stderr
        found = {}
        for line in err.splitlines():
            key, _, value = line.partition(":\t")[2].rpartition(":")
            if key.strip().startswith("final number of relocations"):
                found[key.strip()] = int(value)
        return found
    loaded, alone = counts([load, library]), counts([load])
    return {key: loaded[key] - alone.get(key, 0) for key in loaded}


def glibc_costs(quorbel, folder, missed):
    """What -c adds on Linux, beside glibc's own load of the same libraries."""
    load = os.path.join(folder, "load")
    subprocess.run(["cc", "-O2", "-o", load, os.path.join(BENCH, "load.c"), "-ldl"], check=True)
    env = dict(os.environ, ODBCSYSINI=folder)
    print(f"-c beside the system loader's own load (bench/load.c), median of {LOAD_RUNS} interleaved runs\n")

    write_ini(folder, "debian", 12)
    title = "-c beside glibc's load at debian 12"
    plain, checked = [quorbel, "-v", "-a"], [quorbel, "-v", "-a", "-c"]
    added_beside_load(title, plain, checked, [load], [os.path.join(ODBC, name) for name in REAL], env, LOAD_RUNS,
                      DEBIAN_LOAD_SHARE, missed)
    peaks = [peak_memory(argv, env) for argv in (plain, checked)]
    print(f"  peak {peaks[0]} KiB, with -c {peaks[1]} KiB; what -c adds: "
          + judged("peak memory of -c at debian 12", peaks[1] - peaks[0], DEBIAN_PEAK_KIB, missed, " KiB") + "\n")

    names = [f"bench_sym_{i:07d}" for i in range(MANY_SYMBOLS - 1)] + ["SQLAllocHandle"]
    library = shared_library(folder, "libbenchsyms.so", [".text\n", *functions(names)])
    register(folder, [("Many symbols", library)])
    added_beside_load(f"-c beside glibc's load of {MANY_SYMBOLS:,} exported symbols",
                      [quorbel, "-b"], [quorbel, "-b", "-c"], [load], [library], env, LOAD_RUNS,
                      MANY_SYMBOLS_SHARE, missed)
    print()

    library = relocations(folder)
    register(folder, [("Many relocations", library)])
    added_beside_load(f"-c beside glibc's load of {MANY_RELOCATIONS:,} relocations to as many symbols "
                      "of a library it needs", [quorbel, "-b"], [quorbel, "-b", "-c"], [load], [library],
                      env, LOAD_RUNS, MANY_RELOCATIONS_SHARE, missed)
    print("  glibc's statistics for the load: " + ", ".join(
        f"{key} {value:,}" for key, value in glibc_relocations(load, library).items()) + "\n")


def pe_dll(path, base, exports=(), imports=()):
    """A 64-bit DLL as a linker writes one, with nothing to relocate: one
    function (`xor eax, eax; ret`) that every export names, and the export
    and import tables in a data section. exports: names, sorted as the
    loader's search wants them; imports: (DLL, [(name, hint)])."""
    text_rva, data_rva = 0x1000, 0x2000
    data = bytearray()

    def put(blob, align=8):
        """Appends to the data section; returns the address."""
        data.extend(bytes(-len(data) % align))
        data.extend(blob)
        return data_rva + len(data) - len(blob)

    def fill(address, blob):
        """Writes over what put reserved."""
        data[address - data_rva:address - data_rva + len(blob)] = blob

    directories = [(0, 0)] * 16
    if exports:
        # Laid out as ld lays it out: the directory, its three tables, then
        # the names, all within the directory's size. The name table's
        # ordinals are 16 bits: past 65,536 names, several to one function.
        count, named = min(len(exports), 1 << 16), len(exports)
        directory = put(bytes(40))
        addresses = put(struct.pack(f"<{count}I", *[text_rva] * count), 4)
        name_table = put(bytes(4 * named), 4)
        ordinals = put(struct.pack(f"<{named}H", *[i % count for i in range(named)]), 2)
        own = put(os.path.basename(path).encode() + b"\0", 1)
        names = [put(name.encode() + b"\0", 1) for name in exports]
        fill(name_table, struct.pack(f"<{named}I", *names))
        fill(directory, struct.pack("<IIHHIIIIIII", 0, 0, 0, 0, own, 1, count, named, addresses, name_table, ordinals))
        directories[0] = (directory, data_rva + len(data) - directory)
    if imports:
        thunks = []
        for dll, functions_named in imports:
            # A hint is 16 bits; past them the loader searches by name.
            thunks.append([put(struct.pack("<H", hint & 0xffff) + name.encode() + b"\0", 2)
                           for name, hint in functions_named])
        lookups = [put(struct.pack(f"<{len(t) + 1}Q", *t, 0)) for t in thunks]
        first = len(data) + (-len(data) % 8)
        bound = [put(struct.pack(f"<{len(t) + 1}Q", *t, 0)) for t in thunks]
        directories[12] = (data_rva + first, len(data) - first)
        dll_names = [put(dll.encode() + b"\0", 1) for dll, _ in imports]
        table = b"".join(struct.pack("<IIIII", lookup, 0, 0, name, iat)
                         for lookup, name, iat in zip(lookups, dll_names, bound))
        directories[1] = (put(table + bytes(20), 4), len(table) + 20)
    data.extend(bytes(-len(data) % 0x200))
    image_size = data_rva + (len(data) + 0xfff) // 0x1000 * 0x1000
    optional = struct.pack("<HBBIIIIIQIIHHHHHHIIIIHHQQQQII", 0x20b, 2, 40, 0x200, len(data), 0, 0, text_rva, base,
                           0x1000, 0x200, 6, 0, 0, 0, 6, 0, 0, image_size, 0x400, 0, 3, 0x100,
                           0x100000, 0x1000, 0x100000, 0x1000, 0, 16)
    optional += b"".join(struct.pack("<II", *entry) for entry in directories)
    sections = struct.pack("<8sIIIIIIHHI", b".text", 3, text_rva, 0x200, 0x400, 0, 0, 0, 0, 0x60000020)
    sections += struct.pack("<8sIIIIIIHHI", b".data", len(data), data_rva, len(data), 0x600, 0, 0, 0, 0, 0xc0000040)
    headers = b"MZ" + bytes(58) + struct.pack("<I", 0x40) + b"PE\0\0"
    headers += struct.pack("<HHIIIHH", 0x8664, 2, 0, 0, 0, len(optional), 0x2022) + optional + sections
    with open(path, "wb") as out:
        out.write(headers + bytes(0x400 - len(headers)))
        out.write(b"\x31\xc0\xc3" + bytes(0x200 - 3))
        out.write(data)


def wine_skip_reason(windows_build):
    """Why the Wine loads cannot run here, or None."""
    if not windows_build:
        return "no 64-bit Windows build of quorbel (bench/run.sh builds one where mingw-w64 and wine64 are)"
    if not os.path.exists(os.path.join(windows_build, "quorbel.exe")):
        return f"no {windows_build}/quorbel.exe"
    if not os.access(WINE_LOADER, os.X_OK):
        return f"Wine's 64-bit loader {WINE_LOADER} is not installed (wine64)"
    if not shutil.which(MINGW_GCC):
        return f"no {MINGW_GCC} (mingw-w64)"
    return None


def wine_costs(windows_build, folder, missed):
    """What -c adds under Wine, beside Wine's own LoadLibraryEx of the DLL,
    and what it takes over a DLL whose imports name WINE_DLLS DLLs."""
    reason = wine_skip_reason(windows_build)
    if reason:
        print(f"Wine: skipped, {reason}\n")
        return
    prefix = os.path.join(folder, "wineprefix")
    env = dict(os.environ, WINEPREFIX=prefix, WINELOADER=WINE_LOADER, WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=", ODBCSYSINI=os.path.join(folder, "wine"))
    os.makedirs(env["ODBCSYSINI"], exist_ok=True)
    server = os.path.join(os.path.dirname(WINE_LOADER), "wineserver64")
    if not os.access(server, os.X_OK):
        server = "wineserver"

    def wine(*argv):
        subprocess.run([WINE_LOADER, *argv], env=env, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)

    wine("wineboot", "-i")
    try:
        # One server for every run, so that no run pays for starting one:
        # the one wineboot started goes, a persistent one takes its place.
        subprocess.run([server, "-w"], env=env, check=True)
        subprocess.run([server, "-p"], env=env, check=True)
        # load.exe beside the DLLs: its search (flags 0) finds benchexp.dll
        # in the program's folder, where quorbel's finds it beside the driver.
        bench = os.path.join(prefix, "drive_c", "bench")
        os.makedirs(os.path.join(bench, "wide"))
        load = os.path.join(bench, "load.exe")
        subprocess.run([MINGW_GCC, "-O2", "-o", load, os.path.join(BENCH, "load.c")], check=True)
        names = [f"bench_fn_{i:06d}" for i in range(WINE_IMPORTS)]
        pe_dll(os.path.join(bench, "benchexp.dll"), 0x250000000, exports=names)
        pe_dll(os.path.join(bench, "benchimp.dll"), 0x260000000, exports=["SQLAllocHandle"],
               imports=[("benchexp.dll", [(name, hint) for hint, name in enumerate(names)])])
        # Copies of one DLL: only quorbel reads them, none is loaded.
        pe_dll(os.path.join(bench, "wide", "bench0000.dll"), 0x270000000, exports=["f"])
        for i in range(1, WINE_DLLS):
            shutil.copy(os.path.join(bench, "wide", "bench0000.dll"), os.path.join(bench, "wide", f"bench{i:04d}.dll"))
        pe_dll(os.path.join(bench, "wide", "benchwide.dll"), 0x280000000, exports=["SQLAllocHandle"],
               imports=[(f"bench{i:04d}.dll", [("f", 0)]) for i in range(WINE_DLLS)])

        def register_wine(name, library):
            """The host's unixODBC lists the driver; the registry names its DLL."""
            register(env["ODBCSYSINI"], [(name, "x")])
            wine("reg", "add", f"HKLM\\SOFTWARE\\ODBC\\ODBCINST.INI\\{name}", "/v", "Driver", "/d", library, "/f",
                 "/reg:64")

        # Every import bound to its export, none to a stub.
        status, _, err = output([WINE_LOADER, load, r"C:\bench\benchimp.dll"], dict(env, WINEDEBUG="warn+module"))
        if status or "No implementation" in err:
            sys.exit(f"Wine did not load benchimp.dll whole: status {status}\n{err[-2000:]}")

        quorbel = [WINE_LOADER, os.path.abspath(os.path.join(windows_build, "quorbel.exe"))]
        print(f"under Wine, median of {WINE_RUNS} interleaved runs\n")
        register_wine("Bench imports", r"C:\bench\benchimp.dll")
        added_beside_load(f"-c beside Wine's LoadLibraryEx of {WINE_IMPORTS:,} imports by name from "
                          "another DLL", quorbel, quorbel + ["-c"], [WINE_LOADER, load],
                          [r"C:\bench\benchimp.dll"], env, WINE_RUNS, WINE_IMPORTS_SHARE, missed)
        print()
        register_wine("Bench wide", r"C:\bench\wide\benchwide.dll")
        median = medians({"plain": quorbel, "checked": quorbel + ["-c"]}, env, WINE_RUNS)
        added = median["checked"] - median["plain"]
        title = f"-c over a DLL whose imports name {WINE_DLLS:,} DLLs"
        print(f"{title} (quorbel -c says {words(quorbel + ['-c'], env)})\n"
              f"  -c adds {added:.3f} s to quorbel ({median['plain']:.3f} s): "
              + judged(title, added, WINE_DLLS_SECONDS, missed, " s") + "\n")
    finally:
        subprocess.run([server, "-k"], env=env)


def listings(quorbel, bare, commands, folder, missed):
    """The listing's costs: the scenarios beside the bare loop, what -c adds
    beside ldd -r, the hostile chain, -v, and callgrind's counts."""
    print(f"median of {RUNS} interleaved runs ({LARGE_RUNS} over 1,000 sections); ratio to the bare "
          "SQLDrivers loop\n")
    scenarios = [("driver only", 10), ("driver only", 48), ("debian", 12), ("debian", 48),
                 ("benchmark", 10), ("benchmark", 50), ("benchmark", 1000)]
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
    print()


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
    only = os.environ.get("BENCH_ONLY")
    if only == "versions":
        with tempfile.TemporaryDirectory() as folder:
            return 0 if versions_cost(quorbel, bare, folder) else 1
    with tempfile.TemporaryDirectory() as folder:
        if only != "loads":
            listings(quorbel, bare, commands, folder, missed)
        glibc_costs(quorbel, folder, missed)
        wine_costs(sys.argv[2] if len(sys.argv) > 2 else None, folder, missed)

    if missed:
        print("\nmissed targets: " + ", ".join(missed))
    return 0


if __name__ == "__main__":
    sys.exit(main())
