# Thin wrappers over the CMake presets (see CMakePresets.json).
.PHONY: all deps build server run test test-fast asan test-asan package clean

all: build

# The Debian packages the build needs, installed where missing.
deps:
	@scripts/install-deps.sh

build: deps
	cmake --preset default
	cmake --build --preset default

server: deps
	cmake --preset default
	cmake --build --preset default --target ifc-server

# Runs the server in the foreground on port 9002; its settings files live in ./state.
run: server
	mkdir -p state
	cd state && exec ../build/default/ifc-server

test: build
	ctest --preset default

# The same tests without the ones that wait out the protocol's 5- and 10-second limits.
test-fast: build
	ctest --preset fast

asan: deps
	cmake --preset asan
	cmake --build --preset asan

test-asan: asan
	ctest --preset asan

# The Debian package, build/default/ifc-server_<version>_<arch>.deb (apt-get install ./<file>).
package: build
	cmake --build --preset default --target package

clean:
	rm -rf build
