# Thin wrappers over the CMake presets (see CMakePresets.json). Each target first installs the
# Debian packages it needs where they are missing (scripts/install-deps.sh; IFC_SKIP_DEPS=1
# skips that). Targets that run no tests configure without them, so that they need neither
# the test libraries nor the time to build the tests.
.PHONY: all build programs run test test-fast asan test-asan fuzz package clean

DEPS := scripts/install-deps.sh
PROGRAMS := ifc-server ifc-client ifc-settings ifc-gateway ifc-proxy
BIN := build/default

all: build

# Everything: the programs, the tests, the benchmarks.
build:
	@$(DEPS) build test
	cmake --preset default -DIFC_BUILD_TESTS=ON
	cmake --build --preset default

# The five programs, side by side in build/default/: ifc-server, ifc-client, ifc-settings,
# ifc-gateway, ifc-proxy. No tests.
programs:
	@$(DEPS) build
	cmake --preset default -DIFC_BUILD_TESTS=OFF
	cmake --build --preset default --target $(PROGRAMS)

# Runs the server in the foreground on port 9002; its settings files live in ./state. What it
# prints ("waiting... ", "connected... ") is its diagnostics, so what to do with it is said
# first.
run: programs
	@mkdir -p state
	@echo "make run: ifc-server listens on TCP port 9002 on every IPv4 address; its settings"
	@echo "          files are in state/. In another terminal:"
	@echo "            $(BIN)/ifc-client status             # read the machine status"
	@echo "            $(BIN)/ifc-gateway --controller here=127.0.0.1   # then http://127.0.0.1:8090/"
	@echo "          Ctrl-C stops it."
	cd state && exec ../$(BIN)/ifc-server

test: build
	ctest --preset default

# The same tests without the ones that wait out the protocol's 5- and 10-second limits.
test-fast: build
	ctest --preset fast

asan:
	@$(DEPS) build test
	cmake --preset asan
	cmake --build --preset asan

test-asan: asan
	ctest --preset asan

# Builds the libFuzzer targets and runs each for 45 seconds (fuzz/run.sh SECONDS for longer).
fuzz:
	@$(DEPS) build fuzz
	fuzz/run.sh

# The Debian package, build/default/ifc-server_<version>_<arch>.deb (apt-get install ./<file>).
package:
	@$(DEPS) build package
	cmake --preset default -DIFC_BUILD_TESTS=OFF
	cmake --build --preset default --target package

clean:
	rm -rf build
