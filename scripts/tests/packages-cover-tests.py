#!/usr/bin/python3
"""Checks that scripts/install-deps.sh names the Debian package of every Python module and every outside
program that the tests, the benchmarks and the demo use at run time.

A machine that happens to have a package hides its absence from the script; this reads the sources instead.
Python modules are found in the tests' .py files and in the Python snippets written inside C++ tests; programs
are found as string literals naming a known tool. A third-party module missing from the table below fails the
check, so that a new dependency is given its package here and in the script."""
import re
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]

# Third-party Python modules and the packages they need at run time. pydicom decodes JPEG 2000 through Pillow.
MODULES = {
    "pydicom": ["python3-pydicom", "python3-pil"],
    "numpy": ["python3-numpy"],
    "PIL": ["python3-pil"],
    "zeep": ["python3-zeep"],
}
# Outside programs, as the code names them, and their packages.
PROGRAMS = {
    "/usr/bin/python3": ["python3"],
    "dcmodify": ["dcmtk"], "dcmdump": ["dcmtk"], "dcmftest": ["dcmtk"], "dcmj2pnm": ["dcmtk"],
    "dcmmkdir": ["dcmtk"], "img2dcm": ["dcmtk"], "dcmconv": ["dcmtk"],
    "Xvfb": ["xvfb"], "xvfb-run": ["xvfb", "xauth"], "xdotool": ["xdotool"], "xauth": ["xauth"],
    "openbox": ["openbox"], "xwd": ["x11-apps"], "convert": ["imagemagick"],
    "zip": ["zip"], "unzip": ["unzip"],
    "pdfinfo": ["poppler-utils"], "pdftotext": ["poppler-utils"], "pdftoppm": ["poppler-utils"],
    "espeak-ng": ["espeak-ng"], "sox": ["sox"], "soxi": ["sox"], "pactl": ["pulseaudio-utils"], "pulseaudio": ["pulseaudio"],
}
STDLIB = set(sys.stdlib_module_names)


def script_packages():
    text = (ROOT / "scripts/install-deps.sh").read_text()
    block = re.search(r"^PACKAGES=\((.*?)^\)", text, re.S | re.M).group(1)
    return set(block.split())


def run_time_sources():
    for folder in ("imaging", "platform", "common", "viewer", "transfer", "testserver", "tools", "bench"):
        for path in (ROOT / folder).rglob("*"):
            if path.suffix not in (".py", ".cpp", ".h", ".sh", ".cmake") or not path.is_file():
                continue
            # Tests, benchmarks and tools run things; product sources are covered by the build itself.
            if "tests" in path.parts or "bench" in path.parts or "tools" in path.parts or path.suffix == ".py":
                yield path
    yield ROOT / "run.sh"


def main():
    have = script_packages()
    problems = []
    for path in run_time_sources():
        text = path.read_text(errors="replace")
        rel = path.relative_to(ROOT)
        if path.suffix == ".py" or "import " in text:
            for m in re.finditer(r"(?m)(?:^|\\n|\")\s*(?:from\s+([A-Za-z_]\w*)|import\s+([A-Za-z_][\w., ]*))", text):
                names = [m.group(1)] if m.group(1) else [n.strip().split(".")[0].split(" ")[0]
                                                           for n in m.group(2).split(",")]
                for name in filter(None, names):
                    if name in STDLIB or name == "__future__":
                        continue
                    if name not in MODULES:
                        problems.append(f"{rel}: Python module {name} has no package in this check's table")
                        continue
                    problems += [f"{rel}: module {name} needs {p}, not in install-deps.sh"
                                 for p in MODULES[name] if p not in have]
        for prog, packages in PROGRAMS.items():
            if re.search(r"[\"'(\s]" + re.escape(prog) + r"[\"'\s)]", text) and (
                    path.suffix != ".cpp" or f'"{prog}"' in text):
                problems += [f"{rel}: program {prog} needs {p}, not in install-deps.sh"
                             for p in packages if p not in have]
    for p in sorted(set(problems)):
        print(p)
    if problems:
        return 1
    print(f"every package used at run time is in install-deps.sh ({len(have)} packages)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
