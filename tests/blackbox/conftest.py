import os
import shutil

import pytest

import orvane


# ctest's code for "skipped": a run where a test was skipped is never
# reported as passed.
SKIPPED = 77


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    # scripts/test (and so CI) has everything every test needs: a skip there
    # means a test that should have run did not, and fails.
    outcome = yield
    report = outcome.get_result()
    if report.skipped and os.environ.get("ORVANE_NO_SKIPS") == "1":
        report.outcome = "failed"
        report.longrepr = "skipped where nothing may be skipped: " + str(report.longrepr)


def pytest_sessionfinish(session, exitstatus):
    reporter = session.config.pluginmanager.get_plugin("terminalreporter")
    if exitstatus == 0 and reporter and reporter.stats.get("skipped"):
        session.exitstatus = SKIPPED


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
