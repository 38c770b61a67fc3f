"""What a save does to what its path names: links (/proc's links to open
files among them), /dev/stdout, extended attributes and ACLs, files that
must be written in place (a folder that takes no new file, a bind mount)
and temporaries left by a save that was killed. Cases that need a limit, a
mount or another user run in child processes."""

import fcntl
import os
import pathlib
import shutil
import signal
import stat
import struct
import subprocess
import sys
import tempfile
import textwrap

import pytest

import plinth

GRID = [("words", True, [(0.0, 1.0, "a"), (1.0, 2.0, "b")])]


def save(path):
    plinth.data2textgrid(GRID, None, None, str(path), "short")


@pytest.fixture(scope="module")
def text(tmp_path_factory):
    """The bytes that `save` writes."""
    path = tmp_path_factory.mktemp("text") / "grid.TextGrid"
    save(path)
    return path.read_bytes()


@pytest.fixture
def open_dir():
    """A folder with a short path that the user nobody may enter."""
    folder = tempfile.mkdtemp(prefix="plinth-", dir="/tmp")
    os.chmod(folder, 0o755)
    yield pathlib.Path(folder)
    shutil.rmtree(folder, ignore_errors=True)


def run(code, *args, command=(), **options):
    done = subprocess.run(
        [*command, sys.executable, "-c", textwrap.dedent(code), *map(str, args)],
        capture_output=True,
        timeout=120,
        **options,
    )
    assert done.returncode == 0, done.stderr.decode()[-2000:]
    return done.stdout.decode().split()


# -- Save targets -------------------------------------------------------------


@pytest.mark.parametrize(
    "case",
    ["chain of long links", "/proc/self/fd link, short path", "/proc/self/fd link, long path"],
)
def test_save_through_a_link_writes_the_file_behind_it(open_dir, text, case):
    folder = open_dir / ("f" * 100 if case.endswith("long path") else "f")
    folder.mkdir()
    real = folder / "real.TextGrid"
    real.write_text("old")
    os.chmod(real, 0o600)
    link = open_dir / "link"
    if case == "chain of long links":
        # A link text of over 1,000 bytes, read through a second link.
        (open_dir / "middle").symlink_to("./" * 500 + f"{folder.name}/real.TextGrid")
        link.symlink_to("middle")
        links = {"link": "middle", "middle": os.readlink(open_dir / "middle")}
    else:
        # The link's size from lstat (64) is not the length of what it names.
        fd = os.open(real, os.O_RDWR)
        link.symlink_to(f"/proc/self/fd/{fd}")
        links = {"link": f"/proc/self/fd/{fd}"}
    try:
        save(link)
        if case != "chain of long links":
            # The open file itself got the text: it was not renamed over.
            assert os.fstat(fd).st_ino == real.stat().st_ino
            assert os.pread(fd, 1000, 0) == text
    finally:
        if case != "chain of long links":
            os.close(fd)
    assert {name: os.readlink(open_dir / name) for name in links} == links
    assert real.read_bytes() == text and stat.S_IMODE(real.stat().st_mode) == 0o600
    assert sorted(os.listdir(folder)) == ["real.TextGrid"]


def test_save_to_dev_stdout_writes_the_callers_file(open_dir, text):
    # The shell's `>> out.txt`: the file is written where it is, and what the
    # process prints afterwards still lands in it.
    out = open_dir / "out.txt"
    code = """
        import plinth
        plinth.data2textgrid([("words", True, [(0.0, 1.0, "a"), (1.0, 2.0, "b")])],
                             None, None, "/dev/stdout", "short")
        print("after")
    """
    with open(out, "ab") as stdout:
        subprocess.run([sys.executable, "-c", textwrap.dedent(code)], stdout=stdout, check=True)
    assert out.read_bytes() == text + b"after\n"
    assert os.listdir(open_dir) == ["out.txt"]
    assert os.path.islink("/dev/stdout")


def acl(*entries):
    """A POSIX access ACL as the kernel stores it: (tag, permissions, id)."""
    return struct.pack("<I", 2) + b"".join(
        struct.pack("<HHI", tag, perms, 0xFFFFFFFF if who is None else who)
        for tag, perms, who in entries
    )


def test_replacement_keeps_extended_attributes(tmp_path, text):
    target = tmp_path / "grid.TextGrid"
    target.write_text("old")
    # Read access for the user nobody: owner rw, nobody r, group r, mask r, others none.
    access = acl(
        (0x01, 6, None), (0x02, 4, 65534), (0x04, 4, None), (0x10, 4, None), (0x20, 0, None)
    )
    try:
        os.setxattr(target, "user.origin", b"praat")
        os.setxattr(target, "system.posix_acl_access", access)
    except OSError as error:
        pytest.skip(f"this file system keeps no extended attributes or ACLs: {error}")
    save(target)
    assert target.read_bytes() == text
    assert os.getxattr(target, "user.origin") == b"praat"
    assert os.getxattr(target, "system.posix_acl_access") == access
    assert stat.S_IMODE(target.stat().st_mode) == 0o640
    assert os.listdir(tmp_path) == ["grid.TextGrid"]


# -- In-place fallback ----------------------------------------------------------

IN_PLACE_CHILD = """
    import os, resource, subprocess, sys, plinth
    case, folder = sys.argv[1], sys.argv[2]
    target = os.path.join(folder, "grid.TextGrid")

    def run(*command):
        if subprocess.run(command, capture_output=True).returncode != 0:
            print("skip", *command)
            sys.exit()

    def grid(count, word):
        return [("words", True, [(float(i), i + 1.0, f"{word} {i}") for i in range(count)])]

    if case == "full tmpfs":
        run("mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", folder)
    elif case.startswith("full ext2"):  # no reserving of blocks ahead: the write itself fails
        image = folder + ".img"
        with open(image, "wb") as file:
            file.truncate(1 << 20)
        run("mkfs.ext2", "-q", "-F", "-m", "0", image)
        run("mount", "-o", "loop", image, folder)
    plinth.data2textgrid(grid(2000, "old"), None, None, target, "short")  # 40 KB
    os.chmod(target, 0o666)
    if case.startswith("full ext2"):
        try:
            with open(os.path.join(folder, "filler"), "wb") as filler:
                while True:
                    filler.write(bytes(4096))
                    filler.flush()
        except OSError:
            pass
    before = open(target, "rb").read()
    if case == "bind-mounted file":
        run("mount", "--bind", target, target)  # rename onto it: EBUSY
    else:
        # Nobody may write the file but not make the temporary beside it.
        os.chmod(folder, 0o555)
        os.chmod(target, 0o222 if case.endswith("not readable") else 0o666)
        os.setresgid(65534, 65534, 0)
        os.setresuid(65534, 65534, 0)
    if case == "file size limit":
        resource.setrlimit(resource.RLIMIT_FSIZE, (len(before) + 1000,) * 2)
    try:
        plinth.data2textgrid(grid(3000, "new"), None, None, target, "long")  # 250 KB
        print("written")
    except OSError as error:
        print(str(error).split(" because: ")[1].replace(" ", "_"))
    os.setresuid(0, 0, 0)
    after = open(target, "rb").read()
    print("kept" if after == before else "new" if b'"new 2999"' in after[-20:] else "damaged")
    print(*sorted(os.listdir(folder)))
"""


@pytest.mark.parametrize(
    "case, outcome",
    [
        ("file size limit", ["File_too_large_(os_error_27)", "kept", "grid.TextGrid"]),
        ("full tmpfs", ["No_space_left_on_device_(os_error_28)", "kept", "grid.TextGrid"]),
        (
            "full ext2",
            [
                "No_space_left_on_device_(os_error_28)",
                "kept",
                "filler",
                "grid.TextGrid",
                "lost+found",
            ],
        ),
        (
            "full ext2, file not readable",
            [
                "No_space_left_on_device_(os_error_28);_the_file's_previous_bytes_could_not_be_put_back:"
                "_Permission_denied_(os_error_13)",
                "damaged",
                "filler",
                "grid.TextGrid",
                "lost+found",
            ],
        ),
        ("bind-mounted file", ["written", "new", "grid.TextGrid"]),
    ],
)
def test_in_place_save_keeps_the_previous_bytes_on_failure(open_dir, case, outcome):
    if os.geteuid() != 0:
        pytest.skip("mounts and the user nobody need root")
    if subprocess.run(["unshare", "-m", "true"], capture_output=True).returncode != 0:
        pytest.skip("no mount namespace may be made here")
    folder = open_dir / "folder"
    folder.mkdir()
    os.chmod(folder, 0o755)
    command = ["unshare", "-m", "--propagation", "private"]
    out = run(IN_PLACE_CHILD, case, folder, command=command)
    if out[0] == "skip":
        pytest.skip(" ".join(out))
    assert out == outcome


# -- Temporaries of killed saves --------------------------------------------------

KILLED_CHILD = """
    import resource, signal, sys, plinth
    # Past the limit the kernel kills the process mid-write (SIGXFSZ).
    signal.signal(signal.SIGXFSZ, signal.SIG_DFL)
    resource.setrlimit(resource.RLIMIT_FSIZE, (10_000, 10_000))
    grid = [("words", True, [(float(i), i + 1.0, f"w {i}") for i in range(2000)])]
    plinth.data2textgrid(grid, None, None, sys.argv[1], "long")
"""


def test_a_later_save_removes_the_temporaries_of_a_killed_one(tmp_path, text):
    target = tmp_path / "grid.TextGrid"
    target.write_text("old")
    killed = subprocess.Popen([sys.executable, "-c", textwrap.dedent(KILLED_CHILD), str(target)])
    assert killed.wait(60) == -signal.SIGXFSZ
    (left,) = set(os.listdir(tmp_path)) - {"grid.TextGrid"}
    assert left.startswith(f".grid.TextGrid.plinth-{killed.pid}-") and left.endswith(".tmp")
    assert target.read_text() == "old"
    # Kept: a process that is alive (pid 1), a lock still held (a writer in
    # another PID namespace), another target's, a name of another form.
    kept = [
        ".grid.TextGrid.plinth-1-abcdefgh.tmp",
        f".grid.TextGrid.plinth-{killed.pid}-locked00.tmp",
        f".other.TextGrid.plinth-{killed.pid}-abcdefgh.tmp",
        f".grid.TextGrid.plinth-{killed.pid}-abc.tmp",
    ]
    for name in kept:
        (tmp_path / name).write_text("")
    with open(tmp_path / kept[1]) as locked:
        fcntl.flock(locked, fcntl.LOCK_EX)
        save(target)
    assert target.read_bytes() == text
    assert sorted(os.listdir(tmp_path)) == sorted(["grid.TextGrid", *kept])
