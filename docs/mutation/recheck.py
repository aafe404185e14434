# Runs chosen mutants of a mutants JSON again, one at a time, with the same build and ctest arguments the
# tool uses: for mutants whose first kill was a test that failed for reasons of its own (load).
# usage: recheck.py BUILD JSON N[,N...] > log
import json, subprocess, sys, os, shlex, time
build, js, wanted = sys.argv[1], json.load(open(sys.argv[2])), [int(x) for x in sys.argv[3].split(",")]
ctest = ["ctest", "--test-dir", build, "--stop-on-failure", "-j", str(os.cpu_count() or 2), "--timeout", "300",
         "-LE", "e2e|robustness|packaging"]
for m in js["mutants"]:
    if m["n"] not in wanted: continue
    path, no = m["where"].rsplit(":", 1); no = int(no) - 1
    original = open(path, "rb").read()
    lines = original.decode("utf-8", "surrogateescape").split("\n")
    assert lines[no].strip() == m["from"], (m["where"], lines[no])
    indent = lines[no][: len(lines[no]) - len(lines[no].lstrip())]
    lines[no] = indent + m["to"]
    try:
        open(path, "wb").write("\n".join(lines).encode("utf-8", "surrogateescape"))
        b = subprocess.run(["cmake", "--build", build], capture_output=True, text=True)
        if b.returncode: verdict, first = "stillborn", ""
        else:
            r = subprocess.run(ctest, capture_output=True, text=True)
            out = r.stdout
            verdict = "survived" if r.returncode == 0 else "killed"
            first = ""
            if "The following tests FAILED" in out:
                import re
                mm = re.search(r"^\s*\d+ - (\S+)", out[out.find("The following tests FAILED"):], re.M)
                first = mm.group(1) if mm else ""
    finally:
        open(path, "wb").write(original)
    print("%3d %-9s %-40s [%s] (was %s by %s)" % (m["n"], verdict, m["where"], first, m["verdict"], m["caught_by"]), flush=True)
subprocess.run(["cmake", "--build", build], capture_output=True)
