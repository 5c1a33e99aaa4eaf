#!/usr/bin/env python3
"""The include check of scripts/lint.sh: every module includes only headers of the modules it
links itself (a header only of those it links PUBLIC), and links PUBLIC only what its headers
include, and links nothing none of its files includes; the files of a folder declare in the
namespace of its name; and each of the window's controls has one writer among the subsystems. Modules are the libraries and executables that the CMakeLists.txt files of the
program's folders declare; tests and benchmarks are left out.

    scripts/check_links.py [project root]            the check
    scripts/check_links.py --table [project root]    the links as a Markdown table
"""
import pathlib
import re
import sys

arguments = [a for a in sys.argv[1:] if a != "--table"]
table = "--table" in sys.argv[1:]
root = pathlib.Path(arguments[0] if arguments else ".").resolve()
folders = ["app", "camera", "generator", "imaging", "recording", "platform", "analysis"]
commands = re.compile(r"\b(add_library|add_executable|target_link_libraries)\s*\(([^)]*)\)", re.S)
include = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
namespace = re.compile(r"^namespace (\w+) \{", re.M)

owner = {}  # file (relative to root) -> module
public = {}  # module -> modules it links PUBLIC
private = {}  # module -> modules it links PRIVATE
files = {}  # module -> its files

lists = [root / "CMakeLists.txt"]
for folder in folders:
    lists += sorted((root / folder).rglob("CMakeLists.txt"))
for cmake in lists:
    text = re.sub(r"#[^\n]*", "", cmake.read_text())
    for command, body in commands.findall(text):
        words = body.split()
        if not words:
            continue
        name = words[0]
        if command in ("add_library", "add_executable"):
            sources = [w for w in words[1:] if re.search(r"\.(h|cpp)$", w)]
            for source in sources:
                path = (cmake.parent / source).resolve().relative_to(root).as_posix()
                owner[path] = name
                files.setdefault(name, []).append(path)
            public.setdefault(name, set())
            private.setdefault(name, set())
        else:
            scope = "PUBLIC"
            for word in words[1:]:
                if word in ("PUBLIC", "PRIVATE", "INTERFACE"):
                    scope = word
                elif word.startswith("strobolux_"):
                    (public if scope != "PRIVATE" else private).setdefault(name, set()).add(word)

if table:
    print("| module | links PUBLIC | links PRIVATE |")
    print("|---|---|---|")
    short = lambda names: ", ".join(sorted(n.replace("strobolux_", "") for n in names)) or "—"
    for module in sorted(files):
        print(f"| {module.replace('strobolux_', '')} | {short(public[module])} | "
              f"{short(private[module])} |")
    sys.exit(0)

problems = []
for module, paths in sorted(files.items()):
    included_by_headers = set()
    included = set()
    for path in paths:
        for header in include.findall((root / path).read_text()):
            other = owner.get(header)
            if other is None or other == module:
                continue
            included.add(other)
            is_header = path.endswith(".h")
            if is_header:
                included_by_headers.add(other)
            if is_header and other not in public[module]:
                problems.append(f"{path}: includes {header} of {other}, which {module} does not "
                                "link PUBLIC")
            elif other not in public[module] | private[module]:
                problems.append(f"{path}: includes {header} of {other}, which {module} does not "
                                "link")
    # The house's naming: what a folder's files declare lives in the namespace of that name.
    for path in paths:
        names = namespace.findall((root / path).read_text())
        folder = pathlib.PurePosixPath(path).parent.name
        if names and folder not in names:
            problems.append(f"{path}: declares in namespace {names[0]}, not in {folder}")
    for other in sorted(public[module] - included_by_headers):
        problems.append(f"{module}: links {other} PUBLIC, but none of its headers includes it")
    for other in sorted(private[module] - included):
        problems.append(f"{module}: links {other}, but none of its files includes it")

# One writer per control. The subsystems reach the window's controls through their views
# (struct ...Controls in their headers) and write them as `controls_.Name->...`. A control in one
# view is that subsystem's; one in several views is read by the others and written only by the
# owner named here. The status line (Label1) is in no view: the subsystems write it through the
# window's forms::StatusLine.
shared_owner = {
    "Text2": "generator", "Text3": "generator",      # date and time: the display and the stamp
    "Timer1": "generator", "Timer2": "generator",    # stopped and started for the video too
    "Picture2": "generator",                         # the signal panel, also the camera's info
    # The operator's choices: the subsystems read them; only the window's own scripted run,
    # typing as the operator would, sets them (the app is not a subsystem: it holds them).
    "Check2": "the operator", "Check3": "the operator",
    "Option7": "camera", "Option8": "camera", "Option9": "camera", "Option10": "camera",
    "Command19": "recording",
}
views = {"generator": "generator/generator.h", "camera": "camera/camera_control.h",
         "recording": "recording/picture_recorder.h"}
listed = {}  # control -> subsystems whose view lists it
for module, header in views.items():
    for body in re.findall(r"struct \w+Controls \{(.*?)\n\};", (root / header).read_text(), re.S):
        for control in re.findall(r"\*\s*(\w+)\s*=\s*nullptr", body):
            if control in ("Status", "Camera", "MainWindow"):  # not controls of the window
                continue
            listed.setdefault(control, set()).add(module)
if "Label1" in listed:
    problems.append(f"the status line Label1 is in the view of {', '.join(sorted(listed['Label1']))}: "
                    "write it through forms::StatusLine")
for control, modules in sorted(listed.items()):
    if len(modules) > 1 and control not in shared_owner:
        problems.append(f"{control} is in the views of {', '.join(sorted(modules))}: name its one "
                        "writer in check_links.py")
writes = re.compile(r"controls_\.(\w+)\s*->\s*(?:set\w+|clear|start|stop|Print|Cls|SetPicture|"
                    r"PaintPicture|Line|Scale|Refresh|resize|addItem|click|show|hide)\s*\(")
# A control kept under another name writes through it: a non-const reference or pointer to it,
# or a capture of it in a lambda.
aliases = re.compile(r"(const\s+)?[\w:]+\s*[&*]\s*\w+\s*=\s*\*?controls_\.(\w+)\b|"
                     r"\[[^\]]*=\s*controls_\.(\w+)[^\]]*\]")
for module in views:
    for path in sorted((root / module).rglob("*.cpp")):
        text = path.read_text()
        written = [m.group(1) for m in writes.finditer(text)]
        for match in aliases.finditer(text):
            if match.group(2) and not match.group(1):
                written.append(match.group(2))
            elif match.group(3):
                written.append(match.group(3))
        for control in written:
            owner = shared_owner.get(control, module)
            if owner != module:
                problems.append(f"{path.relative_to(root)}: writes {control}, whose one writer is "
                                f"{owner}")

for problem in problems:
    print(problem)
sys.exit(1 if problems else 0)
