"""Shared fixtures: files written into a fresh directory."""

from __future__ import annotations

import sys
from pathlib import Path

import pytest

# The package of this checkout, whatever else is installed.
sys.path.insert(0, str(Path(__file__).resolve().parents[1]))


@pytest.fixture
def write(tmp_path: Path):
    """write(name, content) -> path of a new file holding content."""

    def _write(name: str, content) -> str:
        path = tmp_path / name
        path.write_bytes(content.encode("utf-8") if isinstance(content, str) else content)
        return str(path)

    return _write
