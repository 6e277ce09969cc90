"""Starts and ends the host inside this Python process."""

from maya import _host


def initialize(name="python"):
    """Starts the host: a session whose MEL runs on a thread with a large stack,
    with the image services, MAYA_PLUG_IN_PATH for loadPlugin and
    MAYA_SCRIPT_PATH for scripts named after procedures. `name`, the
    application's name in the host, is taken as the host takes it; this host
    has one application. Raises RuntimeError when the host runs already."""
    if not isinstance(name, str):
        raise TypeError(f"initialize: name must be a str, not {type(name).__name__}")
    _host.initialize()


def uninitialize():
    """Unloads the plug-ins, newest first, and ends the host (also done when
    Python exits); nothing when the host is not running."""
    _host.uninitialize()
