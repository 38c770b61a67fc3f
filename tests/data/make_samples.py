"""Has Praat itself write the sample TextGrids that the reader tests read.

Praat is reached through praat-parselmouth, which embeds it. Run from any
folder; the files land beside this script:

    python -m venv .venv-samples && .venv-samples/bin/pip install praat-parselmouth
    .venv-samples/bin/python tests/data/make_samples.py

The tests hold the expected records of every file, so a change here needs a
change there.
"""

import re
from pathlib import Path

import parselmouth
from parselmouth.praat import call

HERE = Path(__file__).resolve().parent

# Labels that Praat writes with doubled quotes: a leading quote (SAMPA), inner
# quotes, a trailing quote, and a label that is one quote.
QUOTED = ['"hEl@U', 'say "hi" twice', 'end"', '"']


def quoted_grid():
    """Two interval tiers and a point tier, ASCII only: Praat writes ASCII."""
    tg = call("Create TextGrid", 0, 2.5, "words phones events", "events")
    for t in (0.5, 1.2, 1.8):
        call(tg, "Insert boundary", 1, t)
    call(tg, "Set interval text", 1, 1, QUOTED[0])
    call(tg, "Set interval text", 1, 2, QUOTED[1])
    # interval 3 keeps the empty label
    call(tg, "Set interval text", 1, 4, "two\nlines")
    call(tg, "Insert boundary", 2, 1.0 / 3.0)
    call(tg, "Set interval text", 2, 1, "a")
    call(tg, "Set interval text", 2, 2, QUOTED[2])
    call(tg, "Insert point", 3, 0.25, QUOTED[3])
    call(tg, "Insert point", 3, 1.0, "")
    call(tg, "Insert point", 3, 2.0, "b = c")
    return tg


def unicode_grid():
    """Labels outside ASCII: Praat's default setting then writes UTF-16."""
    tg = call("Create TextGrid", 0, 1.5, "ipa tones", "tones")
    call(tg, "Insert boundary", 1, 0.75)
    call(tg, "Set interval text", 1, 1, "h\u025b\u02c8lo\u028a")
    call(tg, "Set interval text", 1, 2, "\u4f60\u597d \U0001f600")
    call(tg, "Insert point", 2, 0.5, "H*\u00a0L%")
    return tg


def no_tiers_grid():
    """A TextGrid without tiers: Praat refuses to remove the last tier, but
    reads the long layout's `tiers? <exists>` with a size of 0."""
    path = HERE / "no_tiers.tmp"
    path.write_text(
        'File type = "ooTextFile"\nObject class = "TextGrid"\n\n'
        "xmin = 0\nxmax = 1.25\ntiers? <exists>\nsize = 0\nitem []:\n"
    )
    try:
        return parselmouth.read(str(path))
    finally:
        path.unlink()


def save_both(tg, stem):
    call(tg, "Save as text file", str(HERE / f"{stem}_long.TextGrid"))
    call(tg, "Save as short text file", str(HERE / f"{stem}_short.TextGrid"))


def save_chronological(tg, stem):
    call(tg, "Save as chronological text file", str(HERE / f"{stem}_chronological.TextGrid"))


def save_binary(tg, stem):
    call(tg, "Save as binary file", str(HERE / f"{stem}_binary.TextGrid"))


def save_elan(tg, stem):
    """Praat's long layout with the headings as ELAN exports them: "item[1]:"
    for a tier, "intervals [1]" and "points [1]" without the colon."""
    path = HERE / f"{stem}_elan_long.TextGrid"
    call(tg, "Save as text file", str(path))
    text = path.read_bytes().decode("ascii")
    text = re.sub(r"(?m)^(\s*)item \[(\d+)\]:", r"\1item[\2]:", text)
    text = re.sub(r"(?m)^(\s*)(intervals|points) \[(\d+)\]:", r"\1\2 [\3]", text)
    path.write_bytes(text.encode("ascii"))


def main():
    # Praat's default: ASCII when it suffices, else UTF-16 with a byte-order mark.
    call("Text writing preferences", "try ASCII, then UTF-16")
    save_both(quoted_grid(), "praat_quotes")
    save_both(unicode_grid(), "praat_utf16")
    save_chronological(quoted_grid(), "praat_quotes")
    save_chronological(unicode_grid(), "praat_utf16")
    save_binary(quoted_grid(), "praat_quotes")
    save_binary(unicode_grid(), "praat_utf16")
    save_binary(no_tiers_grid(), "praat_notiers")
    save_elan(quoted_grid(), "praat_quotes")
    call("Text writing preferences", "UTF-8")
    save_both(unicode_grid(), "praat_utf8")
    save_chronological(unicode_grid(), "praat_utf8")
    call("Text writing preferences", "try ASCII, then UTF-16")
    print("Praat", parselmouth.PRAAT_VERSION, "wrote the samples into", HERE)


if __name__ == "__main__":
    main()
