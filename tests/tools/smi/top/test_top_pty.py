"""crvmon-smi on pseudo-terminals of fixed sizes, against the built-in simulated machine: what top
shows, that `q` and Ctrl-C end it and a loop of reads, and that the terminal is given back.
CTest names the program in CRVMON_SMI."""

import fcntl
import os
import re
import select
import struct
import subprocess
import termios
import time

import pytest

ENTER_ALTERNATE_SCREEN, LEAVE_ALTERNATE_SCREEN = "\x1b[?1049h", "\x1b[?1049l"
COLOUR = re.compile(r"\x1b\[[0-9;]*m")


def visible(raw):
    """What a terminal shows: CSI sequences (ESC '[' parameters final-byte) and carriage returns
    taken out."""
    return re.sub(r"\x1b\[[^\x40-\x7e]*[\x40-\x7e]?|\r", "", raw)


def run_on_pty(arguments, columns, rows, cue="", keys="", times=1, **environment):
    """Runs crvmon-smi on a new terminal of columns x rows (its controlling terminal, so that
    Ctrl-C is a signal where the program does not read it); once `cue` shows `times` times in its
    output, types `keys`. Gives all it wrote, control sequences included, and its exit code."""
    master, slave = os.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", rows, columns, 0, 0))
    child = subprocess.Popen([os.environ["CRVMON_SMI"], *arguments], stdin=slave, stdout=slave,
                             stderr=slave, start_new_session=True,
                             preexec_fn=lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0),
                             env=dict(os.environ, **environment))
    os.close(slave)
    output, typed, limit = b"", not keys, time.monotonic() + 20
    # Until the program closes the terminal (the master then reads EIO) or the time is up.
    while time.monotonic() < limit:
        if select.select([master], [], [], 0.1)[0]:
            try:
                chunk = os.read(master, 4096)
            except OSError:
                break
            if not chunk:
                break
            output += chunk
        if not typed and output.count(cue.encode()) >= times:
            os.write(master, keys.encode())
            typed = True
    os.close(master)
    try:
        code = child.wait(timeout=max(0.1, limit - time.monotonic()))
    except subprocess.TimeoutExpired:
        child.kill()
        child.wait()
        pytest.fail(f"crvmon-smi {arguments[0]} did not end within 20 s")
    return output.decode("utf-8", "replace"), code


def assert_terminal_given_back(output):
    """The alternate screen entered once, then left at the very end with the cursor shown."""
    enter, leave = output.find(ENTER_ALTERNATE_SCREEN), output.rfind(LEAVE_ALTERNATE_SCREEN)
    assert 0 <= enter < leave and output.count(ENTER_ALTERNATE_SCREEN) == 1
    assert 0 <= output.rfind("\x1b[?25l") < output.rfind("\x1b[?25h")
    assert visible(output[leave:]).strip(" \n") == ""


def test_top_shows_the_built_in_machine_sized_to_the_terminal():
    output, code = run_on_pty(["top", "--simulate", "--count", "1"], 100, 40)
    assert code == 0, visible(output)
    assert_terminal_given_back(output)
    frame = output[output.rindex("\x1b[H"):output.rindex(LEAVE_ALTERNATE_SCREEN)]
    lines = frame.split("\r\n")
    assert len(lines) == 40
    assert all(len(visible(line)) <= 99 for line in lines), frame
    assert COLOUR.search(frame)
    text = visible(frame)
    for value in ("4 device(s)", "/dev/orvek0", "/dev/orvek1", "/dev/veltara-usb0",
                  "/dev/veltara-usb1", "47 C", "58 C", "30.0 W", "1200 MHz", "1400 MHz", "0.all[",
                  "1.4[", " 4120 ", " 4188 ", " 6020 "):
        assert value in text, text


def test_top_without_colour_when_no_color_is_set():
    output, code = run_on_pty(["top", "--simulate", "--count", "1"], 100, 40, NO_COLOR="1")
    assert code == 0, visible(output)
    assert not COLOUR.search(output)
    assert "/dev/orvek0" in visible(output)


@pytest.mark.parametrize("key", ["q", "Q", "\x03"])
def test_top_quits_on_q_and_on_ctrl_c(key):
    output, code = run_on_pty(["top", "--simulate"], 100, 40, "q quits", key)
    assert code == 0, visible(output)
    assert_terminal_given_back(output)


def test_ctrl_c_ends_a_loop_of_reads_after_a_whole_round():
    # On a terminal each round starts at the top left and ends by clearing what stood below it.
    round_end = "\x1b[J"
    output, code = run_on_pty(["--simulate", "--loop", "0.1", "-q", "id", "-f", "csv"], 100, 40,
                              round_end, "\x03", 2)
    assert code == 0, visible(output)
    assert output.rfind(round_end) > output.rfind("\x1b[H"), "a round was cut short"
