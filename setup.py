"""Builds the Python package etiquem with pybind11 from Debian against the
Python that runs it (Debian's /usr/bin/python3):

    /usr/bin/python3 -m pip install --no-build-isolation .

The extension etiquem._etiquem is compiled from python/src/module.cc and the
engine's sources (src/engine). The sample dictionary is made at build time
by the project's own compiler: etiquem-dic is built from tools/ in the
build directory and compiles data/mostra.dic into etiquem/data/sample.bin,
which ships in the package. Everything the build writes goes under
build-python/ (and etiquem.egg-info/), both ignored by git.
"""

import glob
import os
import re
import subprocess

import pybind11
from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = os.path.dirname(os.path.abspath(__file__))
CXXFLAGS = ["-std=c++20", "-O2", "-fvisibility=hidden", "-Wall", "-Wextra"]


def sources(pattern):
    return sorted(os.path.relpath(p, HERE)
                  for p in glob.glob(os.path.join(HERE, pattern)))


ENGINE = sources("src/engine/*.cc")


def project_version():
    """The VERSION of project() in CMakeLists.txt, the one version."""
    with open(os.path.join(HERE, "CMakeLists.txt"), encoding="utf-8") as f:
        match = re.search(r"project\(etiquem VERSION ([0-9.]+)", f.read())
    return match.group(1)


def write_version_header(directory):
    """generated/version.h, as CMake writes it from cmake/version.h.in."""
    with open(os.path.join(HERE, "cmake", "version.h.in"),
              encoding="utf-8") as f:
        text = f.read().replace("@PROJECT_VERSION@", project_version())
    os.makedirs(directory, exist_ok=True)
    with open(os.path.join(directory, "version.h"), "w",
              encoding="utf-8") as f:
        f.write(text)


class BuildWithDictionary(build_ext):
    """Builds the extension, then etiquem-dic, then the sample dictionary
    beside the built package."""

    def run(self):
        super().run()
        tools = sources("tools/etiquem_dic.cc") + sources("tools/dictionary/*.cc")
        generated = os.path.join(self.build_temp, "generated")
        write_version_header(generated)
        objects = self.compiler.compile(
            tools, output_dir=self.build_temp,
            include_dirs=["include", "src", "tools", generated],
            extra_postargs=CXXFLAGS)
        # The engine's objects, as the extension's build left them.
        objects += self.compiler.object_filenames(ENGINE,
                                                  output_dir=self.build_temp)
        self.compiler.link_executable(objects, "etiquem-dic",
                                      output_dir=self.build_temp,
                                      extra_postargs=["-pthread"],
                                      target_lang="c++")
        package = os.path.dirname(self.get_ext_fullpath("etiquem._etiquem"))
        data = os.path.join(package, "data")
        os.makedirs(data, exist_ok=True)
        subprocess.check_call([os.path.join(self.build_temp, "etiquem-dic"),
                               "compile", os.path.join("data", "mostra.dic"),
                               "-o", os.path.join(data, "sample.bin")])


setup(
    name="etiquem",
    version=project_version(),
    description="Annotate running text with a letter-transducer dictionary",
    long_description=open(os.path.join(HERE, "python", "README.md"),
                          encoding="utf-8").read(),
    long_description_content_type="text/markdown",
    license="Apache-2.0",
    python_requires=">=3.9",
    packages=["etiquem"],
    package_dir={"": "python"},
    package_data={"etiquem": ["__init__.pyi", "py.typed"]},
    ext_modules=[Extension(
        "etiquem._etiquem",
        sources=["python/src/module.cc"] + ENGINE,
        include_dirs=["include", "src", pybind11.get_include()],
        extra_compile_args=CXXFLAGS,
        extra_link_args=["-pthread"],
        language="c++")],
    cmdclass={"build_ext": BuildWithDictionary},
    options={"build": {"build_base": "build-python"},
             "egg_info": {"egg_base": "build-python"}},
    zip_safe=False,
)
