"""The manual pages and the bash completion of lopper and lopper-cluster are
checked against each command's --help: the same options, both forms, and
the completion's fixed words are words --help offers."""
import os
import re
import shutil
import subprocess
from pathlib import Path

import pytest

from conftest import missing

DOCS = Path(__file__).resolve().parents[2] / "docs"
COMMANDS = {"lopper": "LOPPER", "lopper-cluster": "LOPPER_CLUSTER"}


def binary(name):
    path = os.environ.get(COMMANDS[name])
    if not path or not os.access(path, os.X_OK):
        missing(f"{name}: set {COMMANDS[name]} to the built command")
    return path


def help_text(name):
    return subprocess.run([binary(name), "--help"], capture_output=True, text=True).stdout


def help_options(name):
    """Every option form of --help's option lines: '  -m [ --method ] arg', '  --gaps'."""
    options = set()
    for line in help_text(name).splitlines():
        match = re.match(r"  (-[^-\s]|--[\w.+-]+)(?: \[ (--[\w.+-]+) \])?(?:\s|$)", line)
        if match:
            options.update(form for form in match.groups() if form)
    return options


def help_names(name, section):
    """The names of a --help section such as 'Linkages': '  ward, ward.D2 (w): ...'."""
    text = help_text(name).split(f"\n{section}", 1)[1].split("\n\n", 1)[0]
    return [word for names in re.findall(r"^  ([a-z][^(:]*) \([a-zA-Z]\):", text, re.M)
            for word in names.split(", ")]


def page_options(page):
    """The option forms of the .TP entries in the OPTIONS section of a roff page."""
    text = page.read_text()
    section = re.search(r"^\.SH OPTIONS\n(.*?)(?=^\.SH )", text, re.M | re.S).group(1)
    heads = re.findall(r"^\.TP\n(.*)$", section, re.M)
    return {form.replace("\\-", "-") for head in heads
            for form in re.findall(r"\\fB(\\-(?:[^\\]|\\-)*)\\f[RIP]", head)}


def complete(name, *words):
    """What the completion script offers for the command line WORDS (the last
    being completed)."""
    script = DOCS / "completion" / name
    function = "_" + name.replace("-", "_")
    words = [binary(name), *words]
    program = (f'source "$0"; COMP_WORDS=("${{@}}"); COMP_CWORD=$(($# - 1)); {function}; '
               'printf "%s\\n" "${COMPREPLY[@]}"')
    run = subprocess.run(["bash", "-c", program, str(script), *words],
                         capture_output=True, text=True, check=True)
    return [word for word in run.stdout.splitlines() if word]


@pytest.mark.parametrize("name", COMMANDS)
def test_manual_page_lists_exactly_the_options_of_help(name):
    expected = help_options(name)
    page = DOCS / "man" / f"{name}.1"
    assert page.exists(), f"{page} is missing"
    assert page_options(page) == expected


@pytest.mark.parametrize("name", COMMANDS)
def test_manual_page_examples_use_only_options_of_help(name):
    text = (DOCS / "man" / f"{name}.1").read_text()
    section = re.search(r"^\.SH EXAMPLES\n(.*?)(?=^\.SH )", text, re.M | re.S).group(1)
    blocks = re.findall(r"^\.(?:nf|EX)\n(.*?)^\.(?:fi|EE)", section, re.M | re.S)
    commands = [line.replace("\\-", "-") for block in blocks for line in block.splitlines()]
    used = {word for line in commands for word in re.findall(r"(?<!\S)(-[A-Za-z]|--[\w.+-]+)", line)}
    assert commands and used <= help_options(name), used - help_options(name)


@pytest.mark.parametrize("name", COMMANDS)
def test_manual_page_renders_without_warnings(name):
    if not shutil.which("man"):
        missing("man is not installed (man-db); the manual pages are not rendered")
    page = DOCS / "man" / f"{name}.1"
    assert page.exists(), f"{page} is missing"
    run = subprocess.run(f'man --warnings -l "{page}" 2>&1 >/dev/null', shell=True,
                         capture_output=True, text=True, env={**os.environ, "MANWIDTH": "80"})
    assert run.stdout == ""


@pytest.mark.parametrize("name", COMMANDS)
def test_completion_offers_exactly_the_long_options_of_help(name):
    offered = complete(name, "--")
    assert len(offered) == len(set(offered))
    assert set(offered) == {option for option in help_options(name) if option.startswith("--")}


# Each option's words as the completion offers them; every word must stand
# in the option's own --help text (or its section for linkages and distances).
WORDS = [
    ("lopper", "--lengths", "--lengths"),
    ("lopper", "--clade", "--clade"),
    ("lopper-cluster", "-m", "-m"),
    ("lopper-cluster", "--cluster-columns", "-m"),
    ("lopper-cluster", "-d", "-d"),
    ("lopper-cluster", "--input", "--input"),
    ("lopper-cluster", "--center", "--center"),
    ("lopper-cluster", "--scale", "--scale"),
    ("lopper-cluster", "--init", "--init"),
    ("lopper-cluster", "--leaf-order", "--leaf-order"),
    ("lopper-cluster", "--clade", "--clade"),
    ("lopper-cluster", "--support-label", "--support-label"),
    ("lopper-cluster", "--dynamic-method", "--dynamic-method"),
]


def option_help(name, option):
    """The help text of OPTION: its line and the continuation lines below it."""
    lines = help_text(name).splitlines()
    start = next(i for i, line in enumerate(lines)
                 if re.match(rf"  (-\S \[ )?{re.escape(option)}[ \]]", line + " "))
    text = [lines[start]]
    for line in lines[start + 1:]:
        if not re.match(r"\s{10,}\S", line):
            break
        text.append(line)
    return " ".join(text)


@pytest.mark.parametrize("name,option,help_of", WORDS)
def test_completion_words_are_those_of_help(name, option, help_of):
    offered = complete(name, option, "")
    assert offered, f"no words for {option}"
    if name == "lopper-cluster" and help_of == "-m":
        linkages = help_names(name, "Linkages")
        expected = set(linkages) | ({"kmeans", "kmedians", "kmedoids", "som"} if option == "-m" else set())
        assert set(offered) == expected
    elif help_of == "-d":
        assert set(offered) == set(help_names(name, "Distances"))
    else:
        text = option_help(name, help_of)
        for word in offered:
            assert re.search(rf"(?<![\w-]){re.escape(word)}(?![\w-])", text), (word, text)
