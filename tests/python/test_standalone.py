"""maya.standalone in fresh interpreters: what a process has before
initialize() and after uninitialize(), Ctrl-C while MEL or a command runs,
and the host without its OpenImageIO module."""

import os
import shutil
import signal
import subprocess
import sys
import textwrap
import time

from conftest import ECHO_PLUGIN, PICTILE_PLUGIN, quadrant, run_python, write_png


def test_before_initialize_there_are_no_commands():
    done = run_python(textwrap.dedent("""
        from maya import cmds, mel
        import maya.standalone
        try:
            cmds.queryFunction
        except AttributeError as error:
            print("AttributeError:", error)
        try:
            mel.eval("1")
        except RuntimeError as error:
            print("RuntimeError:", error)
        print(len(dir(cmds)) == len(vars(cmds)))
        maya.standalone.initialize()
        try:
            maya.standalone.initialize()
        except RuntimeError as error:
            print("RuntimeError:", error)
        print(mel.eval("1 + 1"))
        """))
    assert done.returncode == 0, done.stderr
    assert done.stdout == (
        "AttributeError: module 'maya.cmds' has no attribute 'queryFunction'"
        " (maya.standalone.initialize() has not been called)\n"
        "RuntimeError: maya.standalone.initialize() has not been called\n"
        "True\n"
        "RuntimeError: maya.standalone is already initialized\n"
        "2\n")


def test_uninitialize_unloads_the_plugins_and_ends_the_session():
    done = run_python(textwrap.dedent(f"""
        import maya.standalone
        from maya import cmds, mel

        def mapped():
            return any("echo_plugin" in line for line in open("/proc/self/maps"))

        maya.standalone.initialize()
        cmds.loadPlugin({ECHO_PLUGIN!r})
        mel.eval("global int $kept = 1;")
        echo_int = cmds.echoInt
        print(echo_int(1), mapped())
        maya.standalone.uninitialize()
        print(mapped(), hasattr(cmds, "echoInt"))
        try:
            echo_int(2)
        except RuntimeError as error:
            print("RuntimeError:", error)
        maya.standalone.uninitialize()
        maya.standalone.initialize()
        print(hasattr(cmds, "echoInt"), mel.eval("exists echoInt"))
        try:
            mel.eval("$kept")
        except RuntimeError as error:
            print("RuntimeError:", error)
        cmds.loadPlugin({ECHO_PLUGIN!r})
        """))
    assert done.returncode == 0, done.stderr
    assert done.stdout == (
        "1 True\n"
        "False False\n"
        "RuntimeError: maya.standalone.initialize() has not been called\n"
        "False 0\n"
        "RuntimeError: line 1: $kept is not declared\n")


def test_ctrl_c_interrupts_the_running_statement_then_raises_keyboard_interrupt(tmp_path):
    # Each MEL loop would run for ever but for the Ctrl-C sent once it has made
    # the file "started"; the command ends first and the interrupt comes after it.
    done = run_python(textwrap.dedent(f"""
        import os, signal, threading, time
        import maya.standalone
        from maya import cmds, mel

        maya.standalone.initialize()
        cmds.loadPlugin({ECHO_PLUGIN!r})
        started = 'fclose(fopen("started", "w")); '

        def press_once_started(delay):
            def press():
                while not os.path.exists("started"):
                    time.sleep(0.01)
                os.remove("started")
                time.sleep(delay)
                os.kill(os.getpid(), signal.SIGINT)
            threading.Thread(target=press).start()

        # The command's file is made before it starts: its Ctrl-C comes well into it.
        for what, delay, run in [
                ("mel.eval", 0, lambda: mel.eval(started + "while (1) catch(`echoNothing`);")),
                ("cmds.eval", 0, lambda: cmds.eval(started + "while (1) ;")),
                ("a command", 0.5, lambda: open("started", "w").close() or cmds.echoSleep(1500))]:
            press_once_started(delay)
            start = time.monotonic()
            try:
                run()
                print(what, "ran to its end")
            except KeyboardInterrupt:
                print(what, "interrupted", "after its end" if time.monotonic() - start >= 1.5 else "")
        print("the session goes on:", cmds.echoInt(7))
        """), cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    assert done.stdout == ("mel.eval interrupted \n"
                           "cmds.eval interrupted \n"
                           "a command interrupted after its end\n"
                           "the session goes on: 7\n")
    assert done.stderr == "# Error: line 1: interrupted #\n" * 2


def test_a_ctrl_c_that_nothing_catches_ends_python_as_it_does():
    process = subprocess.Popen([sys.executable, "-c", textwrap.dedent("""
        import maya.standalone
        from maya import mel
        maya.standalone.initialize()
        print("running", flush=True)
        mel.eval("while (1) ;")
        """)], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    assert process.stdout.readline() == "running\n"
    time.sleep(0.2)
    process.send_signal(signal.SIGINT)
    _, errors = process.communicate(timeout=60)
    # Python ends on an uncaught KeyboardInterrupt by the signal itself.
    assert process.returncode == -signal.SIGINT
    assert errors.startswith("# Error: line 1: interrupted #\nTraceback")
    assert errors.endswith("KeyboardInterrupt\n")


def test_the_host_runs_without_its_openimageio_module(tmp_path):
    # The API library and the plug-in alone, without pictile_oiio.so beside them.
    built = os.path.dirname(PICTILE_PLUGIN)
    assert os.path.exists(os.path.join(built, "pictile_oiio.so"))
    libraries = tmp_path / "lib"
    libraries.mkdir()
    for name in ("libOpenMaya.so", "pictile_resample.so", "pictile_codecs.so", "pictile.so"):
        shutil.copy(os.path.join(built, name), libraries)
    write_png(tmp_path / "grid.png", 20, 20, quadrant)
    # A 10 x 10 grey true-colour Targa, a format only OpenImageIO reads.
    (tmp_path / "dot.tga").write_bytes(b"\0\0\2" + bytes(9) + b"\12\0\12\0\30\0" + b"\100" * 300)
    code = textwrap.dedent("""
        import maya.standalone
        from maya import cmds
        maya.standalone.initialize()
        cmds.loadPlugin("pictile")
        print(cmds.queryFunction(f="grid.png", qX=True))
        try:
            print(cmds.queryFunction(f="dot.tga", qX=True))
        except RuntimeError as error:
            print("RuntimeError:", error)
        """)
    # A sanitizer build loads the API library ahead of Python: the copy, then.
    preload = os.environ.get("LD_PRELOAD", "").replace(os.path.join(built, "libOpenMaya.so"),
                                                       str(libraries / "libOpenMaya.so"))
    environment = dict(os.environ, LD_LIBRARY_PATH=str(libraries), MAYA_PLUG_IN_PATH=str(libraries),
                       LD_PRELOAD=preload)
    alone = run_python(code, env=environment, cwd=tmp_path)
    assert alone.returncode == 0, alone.stderr
    assert alone.stdout == "20\nRuntimeError: dot.tga does not exist!\n"
    assert alone.stderr == ("# Warning: dot.tga: this format needs the OpenImageIO module;"
                            " install the package pictile-openimageio #\n# Error: dot.tga does not exist! #\n")
    # The build itself, with the module, reads the Targa.
    with_module = run_python(code, cwd=tmp_path)
    assert (with_module.returncode, with_module.stdout, with_module.stderr) == (0, "20\n10\n", "")
