"""MEL in the host's session: the same plug-ins, procedures and globals as
maya.cmds."""

from maya import _host


def eval(text):
    """Runs `text` as MEL and returns the value of its last statement (a
    command's result, a procedure's, an expression's or an assignment's; None
    when it has none). Raises RuntimeError with MEL's error line when a
    statement fails, after which the rest does not run."""
    if not isinstance(text, str):
        raise TypeError(f"eval: text must be a str, not {type(text).__name__}")
    return _host.eval(text)
