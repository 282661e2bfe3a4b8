# Two entry points for a fresh Debian 12 machine:
#   make demo   runs the suite's main job on the simulated notebook
#   make test   builds everything (the package too) and runs every test
# Both install what is missing first. BUILD selects the build folder (and
# with it the Wine prefix), so several checkouts or people can work apart.

BUILD ?= build
JOBS  ?= $(shell nproc)

# The Windows Installer package: $(BUILD)/VADOvur-$(VERSION).msi. The
# device library it ships is DEVICE_LIBRARY (by default the simulated
# notebook's), named in the package's comments by DEVICE_NAME.
VERSION        ?= $(shell cat package/VERSION)
DEVICE_LIBRARY ?= $(BUILD)/bin/cellio.dll
DEVICE_NAME    ?= simulated notebook

.PHONY: all deps configure build test demo bench screenshots clean format package

all: build

deps:
	@tools/install-deps

# Configured on every build: a folder that gains its first sources joins
# the build without a manual step.
configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null

build: configure
	cmake --build $(BUILD) -j$(JOBS)

test: package
	@tools/test $(BUILD)

demo: build
	@tools/demo $(BUILD)

# Figures of a whole simulated refresh (not a test): see README.md.
bench: build
	@tools/bench $(BUILD)

# PNGs of the main screen's windows into docs/screenshots (see README.md).
screenshots: build
	@tools/screenshots $(BUILD)

# wixl 0.101 (msitools) makes the package from the .wxs that make_wxs.py
# writes for the files the build has.
package: build
	@mkdir -p $(BUILD)/package
	python3 package/make_wxs.py --bin $(BUILD)/bin --version $(VERSION) \
		--device-library $(DEVICE_LIBRARY) --device-name "$(DEVICE_NAME)" \
		--out $(BUILD)/package/VADOvur.wxs
	wixl -a x64 -o $(BUILD)/VADOvur-$(VERSION).msi $(BUILD)/package/VADOvur.wxs
	@ls -l $(BUILD)/VADOvur-$(VERSION).msi

clean:
	rm -rf $(BUILD)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')
