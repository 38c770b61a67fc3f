"""Has Praat itself write the sample TextGrids that the reader tests read.

Praat is reached through praat-parselmouth, which embeds it. Run from any
folder; the files land beside this script:

    python -m venv .venv-samples && .venv-samples/bin/pip install praat-parselmouth
    .venv-samples/bin/python tests/data/make_samples.py

The tests hold the expected records of every file, so a change here needs a
change there.
"""

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
    call(tg, "Set interval text", 1, 2, "\u4f60\u597d \U0001F600")
    call(tg, "Insert point", 2, 0.5, "H*\u00a0L%")
    return tg


def save_both(tg, stem):
    call(tg, "Save as text file", str(HERE / f"{stem}_long.TextGrid"))
    call(tg, "Save as short text file", str(HERE / f"{stem}_short.TextGrid"))


def main():
    # Praat's default: ASCII when it suffices, else UTF-16 with a byte-order mark.
    call("Text writing preferences", "try ASCII, then UTF-16")
    save_both(quoted_grid(), "praat_quotes")
    save_both(unicode_grid(), "praat_utf16")
    call("Text writing preferences", "UTF-8")
    save_both(unicode_grid(), "praat_utf8")
    print("Praat", parselmouth.PRAAT_VERSION, "wrote the samples into", HERE)


if __name__ == "__main__":
    main()
