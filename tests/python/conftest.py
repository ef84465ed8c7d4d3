import pytest

import quillane
from support import make_rules


def pytest_configure(config):
    config.addinivalue_line("markers", "leakcheck: loops every surface and query to look for reference leaks")


@pytest.fixture
def rules():
    return make_rules()


@pytest.fixture
def log_dir(tmp_path):
    return str(tmp_path / "log")


@pytest.fixture
def writer(log_dir, rules):
    return quillane.Writer(log_dir, rules)
