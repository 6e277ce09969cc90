"""The host's commands as functions: maya.cmds.queryFunction(f="a.png",
qX=True) runs `queryFunction -f "a.png" -qX`.

Every command registered now, by the plug-ins loaded so far, and every
built-in the host offers (loadPlugin, about, getFileList, ...) is a function
of this module, looked up when it is asked for; before
maya.standalone.initialize() there are none. Flags are keyword arguments by
their short or long name: True for a flag without a value (False leaves it
out), a tuple or list for a flag of several values, a list of those for a flag
used several times; positional arguments come first, as Python writes them,
and go after the flags, as MEL writes them. A command's flags and their types
are checked against its syntax before it runs (TypeError). A failure raises
RuntimeError with the error line; error, warning and information lines go to
sys.stderr, what MEL prints to sys.stdout.
"""

from maya import _host

_functions = {}


def __getattr__(name):
    if not name.startswith("__") and _host.offers(name):
        function = _functions.get(name)
        if function is None:
            function = _functions[name] = _host.Command(name)
        return function
    hint = "" if _host.initialized() else " (maya.standalone.initialize() has not been called)"
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}{hint}")


def __dir__():
    return sorted(set(globals()) | set(_host.names()))
