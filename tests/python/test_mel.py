"""maya.mel.eval: MEL in the session maya.cmds calls into, the value of the
last statement, and MEL's error line when a statement fails."""

import pytest

from conftest import ECHO_PLUGIN

from maya import cmds, mel

VALUES = [
    ("a command's result", "echoInt 3", 3),
    ("an assignment's value", "$assigned = 2.5", 2.5),
    ("an expression", '"a" + 1', "a1"),
    ("the last of several", "echoInt 1; echoString two", "two"),
    ("a float array as floats", "float $f[] = {1.5, 2}; $f", [1.5, 2.0]),
    ("a vector", "<<1, 2, 3>>", [1.0, 2.0, 3.0]),
    ("a string array", 'stringToStringArray("a,b", ",")', ["a", "b"]),
    ("an empty array", "int $none[]; $none", []),
    ("a declaration: none", "int $declared = 4;", None),
    ("a procedure without a value", "proc nothing() {} nothing;", None),
    ("nothing at all", "", None),
]


@pytest.mark.parametrize("text, expected", [row[1:] for row in VALUES], ids=[row[0] for row in VALUES])
def test_eval_gives_the_last_statements_value(host, text, expected):
    value = mel.eval(text)
    assert value == expected and type(value) is type(expected)


def test_eval_shares_the_session_with_cmds(host):
    # Globals and procedures stay from one eval to the next, and cmds.eval sees them.
    mel.eval("global int $gCount = 4; global proc int twice(int $n) { return 2 * $n; }")
    assert mel.eval("$t = $gCount") == 4
    assert mel.eval("twice($gCount)") == 8
    assert cmds.eval("twice(5)") == 10
    # A plug-in one side loads, the other calls.
    cmds.unloadPlugin("echo_plugin")
    mel.eval(f'loadPlugin "{ECHO_PLUGIN}"')
    assert cmds.echoInt(6) == 6
    cmds.unloadPlugin("echo_plugin")
    with pytest.raises(RuntimeError, match=r'^Cannot find procedure "echoInt".$'):
        mel.eval("echoInt 1")
    cmds.loadPlugin(ECHO_PLUGIN)
    assert mel.eval("echoInt 7") == 7


def test_a_failing_statement_raises_mels_error_line_and_ends_the_text(host, capsys):
    with pytest.raises(RuntimeError) as raised:
        mel.eval('print "before\\n"; $undeclared + 1; print "after\\n";')
    assert str(raised.value) == "line 1: $undeclared is not declared"
    assert capsys.readouterr() == ("before\n", "# Error: line 1: $undeclared is not declared #\n")
    with pytest.raises(RuntimeError, match=r"^line 1\.8: expected an expression, found the end of the script$"):
        mel.eval("print (")
    with pytest.raises(RuntimeError, match=r"^my own error$"):
        mel.eval('error "my own error"')


def test_a_warning_is_shown_and_the_text_goes_on(host, capsys):
    assert mel.eval('warning "careful"; echoInt 1') == 1
    assert capsys.readouterr().err == "# Warning: careful #\n"


def test_eval_takes_text_only(host):
    with pytest.raises(TypeError, match="must be a str, not int"):
        mel.eval(5)
