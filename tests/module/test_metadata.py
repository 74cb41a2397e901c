"""The installed distribution: the licence that its metadata names ships
with it, and its description makes sense on a package index."""
from importlib import metadata

import pytest


@pytest.fixture(scope="module")
def dist():
    try:
        return metadata.distribution("tavelin")
    except metadata.PackageNotFoundError:
        pytest.skip("tavelin is not installed as a distribution")


def test_licence_file_ships_with_the_distribution(dist):
    assert dist.metadata["License-Expression"] == "MIT"
    licences = [f for f in dist.files or () if f.name == "LICENSE"]
    assert licences and "MIT License" in licences[0].read_text()


def test_description_is_written_for_an_index(dist):
    text = dist.read_text("METADATA")
    assert "pip install tavelin" in text and "## API reference" in text
    assert "./dev" not in text and "../" not in text
