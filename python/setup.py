"""Build hook: puts a copy of librowkit.so inside the package.

The library is taken from the path in ROWKIT_LIBRARY when that is set, else
from ../build/librowkit.so (what `make` builds in a checkout). Without
either the package is built without a copy and finds the library at run time
through ROWKIT_LIBRARY or the system's loader path. A wheel that carries the
library is tagged for this platform.
"""

import os
import shutil
import sys

from setuptools import setup
from setuptools.command.build_py import build_py

HERE = os.path.dirname(os.path.abspath(__file__))


def library_source():
    explicit = os.environ.get("ROWKIT_LIBRARY")
    if explicit:
        if not os.path.isfile(explicit):
            sys.exit(f"ROWKIT_LIBRARY={explicit!r} is not a file")
        return explicit
    built = os.path.join(HERE, os.pardir, "build", "librowkit.so")
    return built if os.path.isfile(built) else None


class BuildWithLibrary(build_py):
    def run(self):
        super().run()
        source = library_source()
        if source is None:
            print("rowkit: no librowkit.so found (set ROWKIT_LIBRARY or run `make`); "
                  "building without a copy inside the package")
            return
        target = os.path.join(self.build_lib, "rowkit", "librowkit.so")
        shutil.copyfile(os.path.realpath(source), target)
        os.chmod(target, 0o755)


commands = {"build_py": BuildWithLibrary}
try:
    from wheel.bdist_wheel import bdist_wheel

    class PlatformWheel(bdist_wheel):
        def finalize_options(self):
            super().finalize_options()
            self.root_is_pure = library_source() is None

        def get_tag(self):
            python, abi, plat = super().get_tag()
            return ("py3", "none", plat) if not self.root_is_pure else (python, abi, plat)

    commands["bdist_wheel"] = PlatformWheel
except ImportError:
    pass

setup(cmdclass=commands)
