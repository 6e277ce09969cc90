"""maya.cmds against MEL: the same calls in both forms give the same values,
flags are converted and checked before a command runs, and each kind of
failure raises what the host raises."""

import contextlib
import io

import pytest

from conftest import ECHO_PLUGIN, QUADRANTS

from maya import cmds, mel

GRID = "images/grid.png"
FLAT = [value for colour in QUADRANTS for value in colour]


def same_kind(a, b):
    """Equal, and of the same Python types, element by element (True is not 1)."""
    if type(a) is not type(b):
        return False
    if isinstance(a, list):
        return len(a) == len(b) and all(same_kind(x, y) for x, y in zip(a, b))
    return a == b


# (id, MEL, cmds name, positional arguments, flags, the value both give;
# None: only that they agree)
CALLS = [
    ("query width", f'queryFunction -f "{GRID}" -qX', "queryFunction", (), {"f": GRID, "qX": True}, 20),
    ("query height, long name", f'queryFunction -file "{GRID}" -qY', "queryFunction", (),
     {"file": GRID, "qY": True}, 20),
    ("depth, 10 x 10 blocks", f'depthFunction -f "{GRID}" -x 10 -y 10', "depthFunction", (),
     {"f": GRID, "x": 10, "y": 10}, FLAT),
    ("depth, one step as a float", f'depthFunction -f "{GRID}" -xcoord 10.0', "depthFunction", (),
     {"f": GRID, "xcoord": 10.0}, FLAT),
    ("average, 20 x 20", f'averageFunction -f "{GRID}" -x 20 -y 20', "averageFunction", (),
     {"f": GRID, "x": 20, "y": 20, "grey": False}, [66, 68, 71, 201]),
    ("average, grey", f'averageFunction -f "{GRID}" -grey -x 10 -y 10', "averageFunction", (),
     {"f": GRID, "grey": True, "x": 10, "y": 10}, None),
    ("resize the list", 'resizeFunction -folder "images/" -size 20 -number 2', "resizeFunction", (),
     {"folder": "images/", "size": 20, "number": 2}, ["grid.png"]),
    ("about the system", "about -operatingSystem", "about", (), {"os": True}, "linux64"),
    ("files of a folder", 'getFileList -folder "images/" -filespec "*.png"', "getFileList", (),
     {"folder": "images/", "filespec": "*.png"}, ["grid.png"]),
    ("no files: an empty list", 'getFileList -folder "images/" -fs "*.none"', "getFileList", (),
     {"folder": "images/", "fs": "*.none"}, []),
    ("a folder made", 'sysFile -makeDir "made/here"', "sysFile", ("made/here",), {"makeDir": True}, 1),
    ("a temporary folder", "internalVar -userTmpDir", "internalVar", (), {"utd": True}, None),
    ("an int", "echoInt 5", "echoInt", (5,), {}, 5),
    ("a float", "echoDouble 2.5", "echoDouble", (2.5,), {}, 2.5),
    ("a bool", "echoBool true", "echoBool", (True,), {}, True),
    ("a string", 'echoString "a b"', "echoString", ("a b",), {}, "a b"),
    ("strings, a list spread", 'echoStrings "x" "y" "z"', "echoStrings", ("x", ["y", "z"]), {},
     ["x", "y", "z"]),
    ("no ints", "echoInts", "echoInts", (), {}, []),
    ("no result", "echoNothing", "echoNothing", (), {}, None),
]


@pytest.mark.parametrize("text, name, args, flags, expected", [row[1:] for row in CALLS],
                         ids=[row[0] for row in CALLS])
def test_a_call_gives_what_its_mel_form_gives(host, text, name, args, flags, expected):
    from_mel = mel.eval(text)
    from_cmds = getattr(cmds, name)(*args, **flags)
    assert same_kind(from_cmds, from_mel), (from_cmds, from_mel)
    if expected is not None:
        assert same_kind(from_cmds, expected), from_cmds


@pytest.mark.parametrize("text, flags, expected", [
    ('pluginInfo -q -loaded "pictile"', {"q": True, "loaded": True}, True),
    ('pluginInfo -q -command "pictile"', {"query": True, "command": True},
     ["averageFunction", "depthFunction", "queryFunction", "resizeFunction"]),
    ('pluginInfo -q -version "pictile"', {"q": 1, "version": True}, None),
    ('pluginInfo -q -vendor "pictile"', {"q": True, "vendor": True}, None),
    ('pluginInfo -q -path "pictile"', {"q": True, "path": True}, None),
])
def test_plugin_info_answers_from_the_loader(host, text, flags, expected):
    from_cmds = cmds.pluginInfo("pictile", **flags)
    assert same_kind(from_cmds, mel.eval(text))
    if expected is not None:
        assert from_cmds == expected


def test_load_plugin_finds_a_plugin_by_name_and_returns_its_name(host):
    assert cmds.unloadPlugin("pictile") == ["pictile"]
    assert cmds.loadPlugin("pictile") == ["pictile"]
    assert mel.eval('unloadPlugin "echo_plugin"') == cmds.loadPlugin("echo_plugin") == ["echo_plugin"]


# Flag values as the command receives them: what Python's values become.
FLAG_TEXTS = [
    ({"b": True}, ["-b", "true"]),
    ({"boolean": 0}, ["-boolean", "false"]),
    ({"i": 3, "d": 2}, ["-i", "3", "-d", "2"]),
    ({"d": 0.1}, ["-d", "0.1"]),
    ({"double": 1e-7}, ["-double", "1e-07"]),
    ({"i": True}, ["-i", "1"]),
    ({"s": "two words", "i": -4}, ["-s", "two words", "-i", "-4"]),
    ({"string": ""}, ["-string", ""]),
    ({"p": (3, "x")}, ["-p", "3", "x"]),
    ({"pair": [4, "y"]}, ["-pair", "4", "y"]),
    ({"on": True, "switch": False}, ["-on"]),
    ({"on": 1}, ["-on"]),
]


@pytest.mark.parametrize("flags, expected", FLAG_TEXTS, ids=[repr(flags) for flags, _ in FLAG_TEXTS])
def test_flags_reach_the_command_as_its_syntax_reads_them(host, flags, expected):
    assert cmds.echoFlags(**flags) == expected


def test_positional_arguments_follow_the_flags_as_mel_writes_them(host):
    assert cmds.echoStrings("a", 1, 2.5, True) == ["a", "1", "2.5", "true"]


def test_a_list_of_uses_gives_the_flag_once_for_each(host):
    # echoFlags declares no flag for use more than once: its parser refuses the second.
    with pytest.raises(RuntimeError, match=r"^Flag -i given twice$"):
        cmds.echoFlags(i=[1, 2])
    with pytest.raises(RuntimeError, match=r"^Flag -p given twice$"):
        cmds.echoFlags(p=[(1, "a"), (2, "b")])
    assert cmds.echoFlags(i=[5]) == ["-i", "5"]


# Refused before the command runs, naming the flag.
TYPE_ERRORS = [
    ("queryFunction", {"g": True}, "queryFunction: unknown flag 'g'"),
    ("queryFunction", {"f": 3, "qX": True}, "queryFunction: flag 'f' takes a str, not int"),
    ("depthFunction", {"f": GRID, "x": "ten"}, "depthFunction: flag 'x' takes a float, not str"),
    ("echoFlags", {"i": 1.5}, "echoFlags: flag 'i' takes an int, not float"),
    ("echoFlags", {"b": "yes"}, "echoFlags: flag 'b' takes a bool, not str"),
    ("echoFlags", {"p": (3, 4)}, "echoFlags: flag 'p' takes a str as value 2, not int"),
    ("echoFlags", {"p": (3,)}, "echoFlags: flag 'p' takes 2 values, not 1"),
    ("echoFlags", {"on": "yes"}, "echoFlags: flag 'on' takes no value: give True or False, not str"),
    ("echoFlags", {"s": None}, "echoFlags: flag 's' cannot take a NoneType"),
    ("echoFlags", {"s": [[["deep"]]]}, "echoFlags: flag 's' holds sequences too deep inside one another"),
    ("echoFlags", {"q": True}, "echoFlags: unknown flag 'q'"),
    ("echoStrings", {"f": "x"}, "echoStrings: unknown flag 'f'"),
]


@pytest.mark.parametrize("name, flags, message", TYPE_ERRORS, ids=[row[2] for row in TYPE_ERRORS])
def test_a_wrong_flag_or_type_raises_type_error_before_the_command_runs(host, capfd, name, flags, message):
    with pytest.raises(TypeError) as raised:
        getattr(cmds, name)(**flags)
    assert str(raised.value) == message
    assert capfd.readouterr() == ("", "")


def test_a_built_in_reads_its_own_flags(host):
    with pytest.raises(RuntimeError, match=r"^getFileList: unknown flag '-nope'$"):
        cmds.getFileList(nope=True)
    with pytest.raises(TypeError, match=r"^size: argument 1 is 4294967296, past the range of MEL's int$"):
        cmds.size(2 ** 32)


def test_a_failing_command_raises_its_error_line_which_goes_to_stderr(host, capsys):
    with pytest.raises(RuntimeError) as raised:
        cmds.queryFunction(f="images/missing.png", qX=True)
    assert str(raised.value) == "images/missing.png does not exist!"
    assert capsys.readouterr().err == "# Error: images/missing.png does not exist! #\n"


def test_lines_go_to_the_streams_as_python_has_them(host):
    errors = io.StringIO()
    with contextlib.redirect_stderr(errors), pytest.raises(RuntimeError, match=r"^echoMessages: an error$"):
        cmds.echoMessages()
    assert errors.getvalue() == ("echoMessages: some information\n# Warning: echoMessages: a warning #\n"
                                 "# Error: echoMessages: an error #\n")
    printed = io.StringIO()
    with contextlib.redirect_stdout(printed):
        cmds.eval('print "from MEL\\n"')
    assert printed.getvalue() == "from MEL\n"


def test_a_plugin_not_found_raises_the_loaders_reason(host, capsys):
    with pytest.raises(RuntimeError, match=r"noSuchPlugin") as raised:
        cmds.loadPlugin("noSuchPlugin")
    assert "# Error: " + str(raised.value) + " #" in capsys.readouterr().err


def test_commands_are_looked_up_when_asked_for(host):
    assert "queryFunction" in dir(cmds) and "getFileList" in dir(cmds)
    echo_int = cmds.echoInt
    cmds.unloadPlugin("echo_plugin")
    try:
        with pytest.raises(AttributeError, match=r"^module 'maya.cmds' has no attribute 'echoInt'$"):
            cmds.echoInt
        with pytest.raises(RuntimeError, match=r'^Cannot find procedure "echoInt".$'):
            echo_int(1)
    finally:
        cmds.loadPlugin(ECHO_PLUGIN)
    assert echo_int(2) == 2 and cmds.echoInt(3) == 3
    # Procedures are MEL's: maya.mel runs them.
    mel.eval("proc int seven() { return 7; }")
    assert not hasattr(cmds, "seven")
