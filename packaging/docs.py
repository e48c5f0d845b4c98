#!/usr/bin/env python3
"""Manual pages and shell completions for `linkferry`, made from the program's own --help.

Usage: docs.py PROGRAM VERSION OUTPUT_FOLDER

Writes OUTPUT_FOLDER/man/linkferry.1 and one linkferry-<command>.1 per command (its subcommands
on the same page), and OUTPUT_FOLDER/completions/{linkferry.bash,_linkferry,linkferry.fish}.
Everything is read from `PROGRAM --help` and `PROGRAM <command> --help`, so a command, option or
description is documented and completed exactly as the program states it. Help text the parser
does not recognise fails the build rather than leaving a page or a completion out.
"""

import os
import re
import subprocess
import sys
from dataclasses import dataclass, field

# The help text names the data folder of whoever runs it; the pages say "~" instead.
HOME_PLACEHOLDER = "/nonexistent-linkferry-home"


@dataclass
class Entry:
    name: str  # "--refresh-delay", "-h,--help", "links", "check"
    detail: str  # what follows the name on its line: "FLOAT:SECONDS=5", "TEXT ... REQUIRED"
    description: str


@dataclass
class Command:
    words: list  # ["linkferry", "rules", "check"]
    description: str = ""
    usage: str = ""
    positionals: list = field(default_factory=list)
    options: list = field(default_factory=list)
    subcommands: list = field(default_factory=list)  # Command
    notes: str = ""

    @property
    def name(self):
        return " ".join(self.words)


def run_help(program, words):
    environment = {k: v for k, v in os.environ.items()
                   if k not in ("LINKFERRY_HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME")}
    environment["HOME"] = HOME_PLACEHOLDER
    environment["COLUMNS"] = "80"
    result = subprocess.run([program, *words, "--help"], capture_output=True, text=True,
                            env=environment, check=False)
    if result.returncode != 0:
        sys.exit(f"docs.py: {' '.join([program, *words])} --help exited {result.returncode}: "
                 f"{result.stderr.strip()}")
    return result.stdout.replace(HOME_PLACEHOLDER, "~")


ENTRY = re.compile(r"^  (\S(?:.*?\S)?)(?:\s{2,}(\S.*))?$")


def parse_entries(lines, where):
    """The rows of one section: a name (and its detail), then a description in the second column,
    on the same line or indented on the next."""
    entries = []
    for line in lines:
        if not line.strip():
            continue
        if line.startswith(" " * 20) and entries:
            entries[-1].description = (entries[-1].description + " " + line.strip()).strip()
            continue
        match = ENTRY.match(line)
        if not match:
            sys.exit(f"docs.py: {where}: cannot read the help line {line!r}")
        head, description = match.group(1), match.group(2) or ""
        name, _, detail = head.partition(" ")
        entries.append(Entry(name, detail.strip(), description))
    return entries


def parse(program, words):
    text = run_help(program, words[1:])
    lines = text.split("\n")
    command = Command(words)
    where = " ".join(words) + " --help"
    if len(lines) < 2 or not lines[1].startswith("Usage: "):
        sys.exit(f"docs.py: {where}: no usage line")
    command.description = lines[0].strip()
    command.usage = lines[1][len("Usage: "):].strip()
    sections = {}
    current = None
    notes = []
    for line in lines[2:]:
        if notes:
            notes.append(line)
        elif line in ("Positionals:", "Options:", "Subcommands:"):
            current = line[:-1]
            sections[current] = []
        elif not line.strip():
            current = None
        elif current and line.startswith("  "):
            sections[current].append(line)
        else:
            notes.append(line)
    command.positionals = parse_entries(sections.get("Positionals", []), where)
    command.options = parse_entries(sections.get("Options", []), where)
    command.notes = "\n".join(notes).strip("\n")
    for entry in parse_entries(sections.get("Subcommands", []), where):
        sub = parse(program, words + [entry.name])
        if sub.notes == command.notes:
            sub.notes = ""  # the footer a subcommand inherits
        command.subcommands.append(sub)
    if not any(o.name.endswith("--help") for o in command.options):
        sys.exit(f"docs.py: {where}: no --help option found; the help format changed")
    return command


# Manual pages (man-pages(7), groff_man(7)).

def roff(text):
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return "\n".join(("\\&" + line) if line[:1] in (".", "'") else line
                     for line in text.split("\n"))


def option_names(entry):
    return ", ".join("\\fB" + roff(name) + "\\fR" for name in entry.name.split(","))


def entries_roff(entries):
    out = []
    for entry in entries:
        if entry.name in ("-h,--help",):
            continue
        detail = " \\fI" + roff(entry.detail) + "\\fR" if entry.detail else ""
        out += [".TP", option_names(entry) + detail, roff(entry.description)]
    return out


def command_body(command, level):
    heading = ".SH" if level == 0 else ".SS"
    out = []
    if command.positionals:
        out += [heading + (" ARGUMENTS" if level == 0 else f' "{roff(command.name)} arguments"')]
        out += entries_roff(command.positionals)
    options = [o for o in command.options if o.name != "-h,--help"]
    if options:
        out += [heading + (" OPTIONS" if level == 0 else f' "{roff(command.name)} options"')]
        out += entries_roff(command.options)
    if command.notes:
        out += [heading + (" NOTES" if level == 0 else f' "{roff(command.name)}"'),
                ".nf", roff(command.notes), ".fi"]
    return out


def sentence_start(text):
    """ "Open a link…" as "open a link…" for the NAME line; "URL…" stays."""
    first_word = text.split(" ", 1)[0]
    if len(text) > 1 and text[0].isupper() and not any(c.isupper() for c in first_word[1:]):
        return text[0].lower() + text[1:]
    return text


def header(title, version):
    return [f'.TH {title} 1 "" "LinkFerry {version}" "User Commands"']


def command_page(command, version):
    page_name = "-".join(command.words)
    out = header(page_name.upper(), version)
    out += [".SH NAME", f"{roff(page_name)} \\- {roff(sentence_start(command.description))}"]
    out += [".SH SYNOPSIS", f".B {roff(command.name)}", roff(command.usage.split(" ", 2)[-1])
            if command.usage.startswith(command.name) else roff(command.usage)]
    out += [".SH DESCRIPTION", roff(command.description) + "."]
    if command.words[-1] == "open":
        out += [".PP", "\\fBlinkferry\\-open\\fR, the small program the desktop entry runs for a "
                "click, takes the same arguments and hands whatever it does not handle itself "
                "to \\fBlinkferry open\\fR."]
    out += command_body(command, 0)
    if command.subcommands:
        out += [".SH COMMANDS"]
        for sub in command.subcommands:
            out += [f".SS {roff(sub.name)}", roff(sub.description) + ".", ".PP",
                    "Usage: " + roff(sub.usage)]
            out += command_body(sub, 1)
    out += [".SH SEE ALSO", ".BR linkferry (1)"]
    return "\n".join(out) + "\n"


def main_page(program, version):
    out = header("LINKFERRY", version)
    out += [".SH NAME", "linkferry \\- route every link to the right browser, profile or app",
            ".SH SYNOPSIS", ".B linkferry", "\\fICOMMAND\\fR [\\fIOPTIONS\\fR] [\\fIARGUMENTS\\fR]",
            ".br", ".B linkferry", "\\fB\\-\\-version\\fR | \\fB\\-\\-help\\fR",
            ".SH DESCRIPTION", roff(program.description),
            ".PP",
            "Registered as the desktop's default web browser (\\fBlinkferry install\\fR), it "
            "receives every link clicked in other programs and decides where it opens \\(em which "
            "browser, profile or Firefox container, a private window, or a desktop app \\(em from "
            "the user's rules and what it knows of their browsing, or shows a picker with its best "
            "guesses first. Every command takes \\fB\\-\\-help\\fR.",
            ".SH COMMANDS"]
    for sub in program.subcommands:
        out += [".TP", f"\\fBlinkferry {roff(sub.words[-1])}\\fR",
                roff(sub.description) + ". See \\fB\\%" + roff("-".join(sub.words)) + "\\fR(1)."]
    out += [".SH EXIT STATUS",
            ".TP", "0", "Success.",
            ".TP", "1", "A usage or input error, or a problem found (\\fBdoctor\\fR, "
            "\\fBrules check\\fR).",
            ".TP", "2", "An internal failure.",
            ".TP", "3", "The user must choose: the picker request was printed as JSON instead "
            "of shown.",
            ".SH ENVIRONMENT",
            ".TP", ".B LINKFERRY_HOME",
            "The data folder; a leading \\(ti is the home folder.",
            ".TP", ".B XDG_CONFIG_HOME",
            "Without \\fBLINKFERRY_HOME\\fR, the data folder is "
            "\\fI$XDG_CONFIG_HOME/linkferry\\fR when this is an absolute path, else "
            "\\fI\\(ti/.config/linkferry\\fR.",
            ".TP", ".B XDG_RUNTIME_DIR",
            "Where the service's socket \\fIlinkferry/router.sock\\fR lives.",
            ".SH FILES",
            ".TP", ".I rules.json",
            "The rules, in the data folder.",
            ".TP", ".I settings.json",
            "The settings, in the data folder.",
            ".TP", ".I browsers.json",
            "Browsers added by hand, in the data folder.",
            ".TP", ".I log.json",
            "The recent decisions (with \\fIlog.json.journal\\fR), readable by the user only.",
            ".TP", ".I \\(ti/.local/share/applications/linkferry.desktop",
            "The desktop entry \\fBlinkferry install\\fR writes.",
            ".TP", ".I \\(ti/.config/systemd/user/linkferry.socket",
            "The systemd user units that start \\fBlinkferry serve\\fR on the first click.",
            ".SH SEE ALSO"]
    see = [f".BR {roff('-'.join(sub.words))} (1)," for sub in program.subcommands]
    see += [".BR linkferry\\-picker (1),", ".BR linkferry\\-helper (1),", ".BR xdg\\-open (1)"]
    out += see
    return "\n".join(out) + "\n"


# Shell completions. A command path is the command words typed so far ("", "rules",
# "rules check"); each path offers its subcommands and options.

def paths(command, prefix=()):
    yield prefix, command
    for sub in command.subcommands:
        yield from paths(sub, prefix + (sub.words[-1],))


def flags(entry):
    return [name for name in entry.name.split(",") if name.startswith("-")]


def takes_value(entry):
    return bool(entry.detail) and not entry.detail.startswith("Excludes")


def bash(program):
    out = ["# bash completion for linkferry. Generated from linkferry --help.",
           "_linkferry() {",
           "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} path= i word",
           "  for ((i = 1; i < COMP_CWORD; i++)); do",
           "    word=${COMP_WORDS[i]}",
           "    case \"$path/$word\" in"]
    known = ["/".join(("",) + p) for p, _ in paths(program) if p]
    out.append("      " + "|".join(f'"{k}"' for k in known) + ") path=$path/$word ;;")
    out += ["    esac", "  done", "  local words="]
    value_options = sorted({f for _, c in paths(program) for o in c.options if takes_value(o)
                            for f in flags(o)})
    if value_options:
        out += [f"  case $prev in {'|'.join(value_options)}) COMPREPLY=(); return ;; esac"]
    out += ["  case $path in"]
    for prefix, command in paths(program):
        words = [s.words[-1] for s in command.subcommands]
        words += [f for o in command.options for f in flags(o)]
        out.append(f'    "{"".join("/" + w for w in prefix)}") words="{" ".join(words)}" ;;')
    out += ["  esac",
            "  mapfile -t COMPREPLY < <(compgen -W \"$words\" -- \"$cur\")",
            "}",
            "complete -F _linkferry linkferry"]
    return "\n".join(out) + "\n"


def zsh_quote(text):
    return "'" + text.replace("'", "'\\''") + "'"


def zsh(program):
    out = ["#compdef linkferry",
           "# zsh completion for linkferry. Generated from linkferry --help.",
           "local path_ i",
           "for (( i = 2; i < CURRENT; i++ )); do",
           "  case \"$path_/${words[i]}\" in"]
    known = ["/".join(("",) + p) for p, _ in paths(program) if p]
    out.append("    (" + "|".join(f'"{k}"' for k in known) + ") path_=$path_/${words[i]} ;;")
    out += ["  esac", "done", "local -a entries", "case $path_ in"]
    for prefix, command in paths(program):
        items = [zsh_quote(s.words[-1] + ":" + s.description.replace(":", "\\:"))
                 for s in command.subcommands]
        items += [zsh_quote(f + ":" + o.description.replace(":", "\\:"))
                  for o in command.options for f in flags(o)]
        out.append(f'  ("{"".join("/" + w for w in prefix)}") entries=({" ".join(items)}) ;;')
    out += ["esac", "_describe -t commands linkferry entries"]
    return "\n".join(out) + "\n"


def fish_quote(text):
    return "'" + text.replace("\\", "\\\\").replace("'", "\\'") + "'"


def fish(program):
    out = ["# fish completion for linkferry. Generated from linkferry --help.",
           "complete -c linkferry -f"]
    for prefix, command in paths(program):
        if not prefix:
            condition = "__fish_use_subcommand"
        else:
            condition = "; and ".join(f"__fish_seen_subcommand_from {w}" for w in prefix)
            siblings = [s.words[-1] for s in command.subcommands]
            if siblings:
                condition += "; and not __fish_seen_subcommand_from " + " ".join(siblings)
        for sub in command.subcommands:
            out.append(f"complete -c linkferry -n {fish_quote(condition)} -a {sub.words[-1]} "
                       f"-d {fish_quote(sub.description)}")
        option_condition = condition if prefix else "not __fish_seen_subcommand_from " + \
            " ".join(s.words[-1] for s in program.subcommands)
        for option in command.options:
            names = []
            for flag in flags(option):
                names.append(f"-l {flag[2:]}" if flag.startswith("--") else f"-s {flag[1:]}")
            out.append(f"complete -c linkferry -n {fish_quote(option_condition)} {' '.join(names)}"
                       f"{' -r' if takes_value(option) else ''} -d {fish_quote(option.description)}")
    return "\n".join(out) + "\n"


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as file:
        file.write(text)


def main():
    if len(sys.argv) != 4:
        sys.exit("usage: docs.py PROGRAM VERSION OUTPUT_FOLDER")
    executable, version, output = sys.argv[1:]
    program = parse(executable, ["linkferry"])
    if not program.subcommands:
        sys.exit("docs.py: linkferry --help lists no commands")
    man = os.path.join(output, "man")
    if os.path.isdir(man):
        for old in os.listdir(man):
            os.remove(os.path.join(man, old))
    write(os.path.join(man, "linkferry.1"), main_page(program, version))
    for sub in program.subcommands:
        write(os.path.join(man, "-".join(sub.words) + ".1"), command_page(sub, version))
    completions = os.path.join(output, "completions")
    write(os.path.join(completions, "linkferry.bash"), bash(program))
    write(os.path.join(completions, "_linkferry"), zsh(program))
    write(os.path.join(completions, "linkferry.fish"), fish(program))


if __name__ == "__main__":
    main()
