import os
import shutil

import pytest

import orvane


@pytest.fixture
def clean_settings():
    """An empty settings folder before the test, and no program left after it."""
    folder = orvane.appdata_folder()
    shutil.rmtree(folder, ignore_errors=True)
    yield folder
    orvane.stop_all()
    shutil.rmtree(folder, ignore_errors=True)


@pytest.fixture
def log_path(tmp_path):
    return str(tmp_path / "orvane.log")
