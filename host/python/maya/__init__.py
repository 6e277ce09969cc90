"""The host's Python modules, served by pictile's stand-in host.

Start the host with maya.standalone.initialize(), then call its commands
through maya.cmds and run MEL through maya.mel.eval, in one session.
"""
