# Two entry points for a fresh Debian 12 machine:
#   make demo   runs the suite's main job on the simulated notebook
#   make test   builds everything and runs every test
# Both install what is missing first. BUILD selects the build folder (and
# with it the Wine prefix), so several checkouts or people can work apart.

BUILD ?= build
JOBS  ?= $(shell nproc)

.PHONY: all deps configure build test demo bench screenshots clean format

all: build

deps:
	@tools/install-deps

# Configured on every build: a folder that gains its first sources joins
# the build without a manual step.
configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null

build: configure
	cmake --build $(BUILD) -j$(JOBS)

test: build
	@tools/test $(BUILD)

demo: build
	@tools/demo $(BUILD)

# Figures of a whole simulated refresh (not a test): see README.md.
bench: build
	@tools/bench $(BUILD)

# PNGs of the main screen's windows into docs/screenshots (see README.md).
screenshots: build
	@tools/screenshots $(BUILD)

clean:
	rm -rf $(BUILD)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')
