import plinth


def test_module_docstring_title():
    assert plinth.__doc__.splitlines()[0] == "Python module for TextGrid file manipulation."
