"""Binding of call arguments to parameters, with CPython's own wording."""

import inspect

import re

import pytest

import plinth

# The functions whose parameters are all required and positional-or-keyword.
PARAMETERS = {
    "textgrid2vectors": ["file", "strict", "file_type"],
    "textgrids2vectors": ["files", "strict", "file_type"],
    "textgrid2data": ["file", "strict", "file_type"],
    "textgrids2data": ["files", "strict", "file_type"],
    "data2textgrid": ["data", "tmin", "tmax", "output_file", "file_type"],
    "vectors2textgrid": [
        "tmins",
        "tmaxs",
        "labels",
        "tier_names",
        "is_intervals",
        "tmin",
        "tmax",
        "output_file",
        "file_type",
    ],
}

ALL = sorted(PARAMETERS)


def _quoted(names):
    names = [f"'{n}'" for n in names]
    if len(names) == 1:
        return names[0]
    if len(names) == 2:
        return f"{names[0]} and {names[1]}"
    return ", ".join(names[:-1]) + ", and " + names[-1]


@pytest.mark.parametrize("name", ALL)
def test_too_many_positional_arguments(name):
    count = len(PARAMETERS[name])
    with pytest.raises(TypeError) as info:
        getattr(plinth, name)(*([None] * (count + 1)))
    assert str(info.value) == (
        f"{name}() takes {count} positional arguments but {count + 1} were given"
    )


@pytest.mark.parametrize("name", ALL)
@pytest.mark.parametrize("given", [0, 1, 2])
def test_missing_arguments_listed_in_order(name, given):
    params = PARAMETERS[name]
    missing = params[given:]
    with pytest.raises(TypeError) as info:
        getattr(plinth, name)(*([object()] * given))
    plural = "s" if len(missing) > 1 else ""
    assert str(info.value) == (
        f"{name}() missing {len(missing)} required positional argument{plural}: " + _quoted(missing)
    )


@pytest.mark.parametrize(
    "call, message",
    [
        (
            lambda: plinth.textgrid2data("a", True),
            "textgrid2data() missing 1 required positional argument: 'file_type'",
        ),
        (
            lambda: plinth.textgrid2data("a", True, "auto", "x"),
            "textgrid2data() takes 3 positional arguments but 4 were given",
        ),
        (
            lambda: plinth.data2textgrid([], output_file="o", file_type="long"),
            "data2textgrid() missing 2 required positional arguments: 'tmin' and 'tmax'",
        ),
        (
            lambda: plinth.vectors2textgrid(
                [], [], [], tier_names=[], is_intervals=[], output_file="o", file_type="long"
            ),
            "vectors2textgrid() missing 2 required positional arguments: 'tmin' and 'tmax'",
        ),
        (
            lambda: plinth.vectors2textgrid(tmin=None, tmax=None),
            "vectors2textgrid() missing 7 required positional arguments: 'tmins', 'tmaxs', "
            "'labels', 'tier_names', 'is_intervals', 'output_file', and 'file_type'",
        ),
        (
            lambda: plinth.textgrid2data(file="a", strict=True),
            "textgrid2data() missing 1 required positional argument: 'file_type'",
        ),
    ],
)
def test_missing_messages_by_example(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


@pytest.mark.parametrize("name", ALL)
def test_unexpected_keyword(name):
    with pytest.raises(TypeError) as info:
        getattr(plinth, name)(*([None] * len(PARAMETERS[name])), path="x")
    assert str(info.value) == f"{name}() got an unexpected keyword argument 'path'"


@pytest.mark.parametrize("name", ALL)
def test_keyword_given_twice(name):
    first = PARAMETERS[name][0]
    with pytest.raises(TypeError) as info:
        getattr(plinth, name)(*([None] * len(PARAMETERS[name])), **{first: None})
    assert str(info.value) == f"{name}() got multiple values for argument '{first}'"


def test_keyword_names_match_exactly():
    with pytest.raises(TypeError, match="unexpected keyword argument 'File'"):
        plinth.textgrid2data(File="x", strict=True, file_type="auto")


def test_unexpected_keyword_wins_over_missing():
    # Keywords are checked before the count of missing parameters.
    with pytest.raises(TypeError, match="unexpected keyword argument 'nope'"):
        plinth.textgrid2data(nope=1)


def test_non_interned_keyword_names_bind(missing_file):
    # Names built at run time are not the interned constants.
    kwargs = {"".join(["fi", "le"]): missing_file, "str" + "ict": True, "file_" + "type": "auto"}
    with pytest.raises(OSError, match="^Failed to read TextGrid file "):
        plinth.textgrid2data(**kwargs)


def test_all_keywords_in_any_order(missing_file):
    with pytest.raises(OSError) as info:
        plinth.textgrid2data(file_type="LONG", file=missing_file, strict=False)
    assert str(info.value).endswith("because: Unknown file type: LONG")


def test_binding_fails_before_conversion():
    # A wrong-typed argument does not matter when the call does not bind.
    with pytest.raises(TypeError, match="takes 3 positional arguments"):
        plinth.textgrid2data(1, 2, 3, 4)


def _twin(function):
    """A Python function with the builtin's text signature: its binding errors
    are the interpreter's own."""
    namespace = {}
    exec(f"def {function.__name__}{function.__text_signature__}: pass", namespace)
    return namespace[function.__name__]


def _call_shapes(function):
    """Calls that fail to bind in one way each. Too many positional arguments
    come with valid keywords only, since plinth counts them first."""
    parameters = list(inspect.signature(function).parameters.values())
    positional = [p.name for p in parameters if p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD]
    keyword_only = [p.name for p in parameters if p.kind is inspect.Parameter.KEYWORD_ONLY]
    shapes = [((None,) * n, {}) for n in range(len(positional) + 3)]
    shapes += [
        ((None,) * len(positional), {"path": None}),
        ((None,), {positional[0]: None}),
        ((), {name: None for name in positional[1:]}),
        ((), {"nope": None}),
    ]
    shapes += [((None,) * (len(positional) + 1), {name: None}) for name in keyword_only]
    shapes += [((None,), {"path": None, **{name: None for name in keyword_only}})]
    return shapes


@pytest.mark.parametrize(
    "name", [*PARAMETERS, "textgrid2table", "textgrids2table", "table2textgrids"]
)
def test_binding_messages_are_the_interpreters(name):
    function = getattr(plinth, name)
    twin = _twin(function)
    compared = 0
    for args, kwargs in _call_shapes(function):
        try:
            twin(*args, **kwargs)
        except TypeError as expected:
            with pytest.raises(TypeError) as info:
                function(*args, **kwargs)
            # CPython 3.13 adds a spelling hint to an unexpected keyword; the
            # module names the keyword as older interpreters do.
            wanted = re.sub(r"\. Did you mean '\w+'\?$", "", str(expected))
            assert str(info.value) == wanted, (args, kwargs)
            compared += 1
    assert compared >= 6
